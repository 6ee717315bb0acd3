// scroll.cpp - the rows the list shows and the scroll thumb.
//
// The list counts as SCROLL_VIEW_HEIGHT pixels (25 rows) high; the thumb
// travels from the track's top to its bottom less thumb_length, and
// scroll_scale converts thumb pixels to list pixels.  The thumb itself is
// drawn by the display (draw_scroll_thumb); the geometry is that of
// display/window_layout.h.
#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "engine/download_table.h"
#include "ui/list_view.h"

void set_scroll_thumb(int highlight, int top, int recompute) {
    AppState &s = app_state;
    draw_scroll_thumb(highlight, top);
    if (recompute) s.list_offset = (int32_t)((float)(s.thumb_top - SCROLL_TRACK_TOP) * s.scroll_scale);
}

void rebuild_visible_list(void) {
    AppState &s = app_state;
    // The row list has room for VISIBLE_ROWS_MAX entries; rows beyond it are
    // not listed (the table itself may hold more).
    int32_t count = 0;
    for (int32_t i = 0; i < downloads.item_count && count < VISIBLE_ROWS_MAX; i++) {
        if (s.show_finished || downloads.items[i].state != Finished) s.visible_rows[count++] = i;
    }
    s.visible_count = count;

    s.scroll_scale = ((float)s.visible_count * (float)ROW_PITCH - (float)SCROLL_VIEW_HEIGHT) / (float)THUMB_TRAVEL;
    if (s.scroll_scale < 0) {
        s.scroll_scale = 0;
        s.thumb_top = 0;
        set_scroll_thumb(0, 0, 1);
        refresh_window();
    }
    set_scroll_thumb(0, 0, 1);
}

