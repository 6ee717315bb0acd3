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
    // With every row in view there is nothing to scroll: the thumb sits at
    // the top of its track wherever it was asked to go (a capture asks for
    // the end of the list).
    if (s.scroll_scale <= 0.0f) top = SCROLL_TRACK_TOP;
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
        // Also run at every speed sample: an unchanged list is not presented
        // again, a changed one is.
        refresh_window_if_changed();
    }
    set_scroll_thumb(0, 0, 1);
}

// The row's position counts from 1 (an item not listed counts as the last
// row); the list starts SCROLL_TO_LEAD pixels above that position's end,
// which shows the row as the fifth, and the thumb goes where that offset
// puts it.  Only a thumb that would end within a pixel of the track's end
// (where the track stops it) sets list_offset again from where it stops.
// When all rows fit the thumb goes to the top and list_offset keeps the
// value set here.
void scroll_to_item(int32_t i) {
    AppState &s = app_state;
    int32_t position = s.visible_count;
    for (int32_t row = 0; row < s.visible_count; row++) {
        if (s.visible_rows[row] == i) {
            position = row + 1;
            break;
        }
    }
    int32_t r = ROW_PITCH * position;
    int32_t t = r - SCROLL_TO_LEAD;
    if (t < 0) t = 0;
    s.list_offset = t;
    if (s.scroll_scale == 0.0f) {
        set_scroll_thumb(0, 0, 0);
    } else {
        t = (int32_t)((float)t / s.scroll_scale);
        set_scroll_thumb(0, t + SCROLL_TRACK_TOP - 1,
                         s.thumb_length + t + SCROLL_TRACK_TOP > SCROLL_TRACK_BOTTOM - 1 ? 1 : 0);
    }
}
