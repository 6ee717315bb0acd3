// scroll.cpp - the rows the list shows and the scroll thumb.
//
// The list counts as 300 pixels (25 rows of 12) high; the thumb travels
// from 70 to 389 - thumb_length, and scroll_scale converts thumb pixels to
// list pixels.
#include "app/app_state.h"
#include "display/display.h"
#include "engine/download_table.h"
#include "ui/list_view.h"

static const int THUMB_TRACK_TOP = 70;
static const int THUMB_TRACK_BOTTOM = 389;

void set_scroll_thumb(int highlight, int top, int recompute) {
    AppState &s = app_state;
    s.thumb_top = top <= THUMB_TRACK_TOP - 1 ? THUMB_TRACK_TOP : top;
    if (top + s.thumb_length > THUMB_TRACK_BOTTOM) s.thumb_top = THUMB_TRACK_BOTTOM - s.thumb_length;

    // The track, then the thumb from its top cap, grip and bottom cap.
    copy_skin_piece(273, 70, 10, 319, 273, 70);
    int column = highlight == 1 ? 303 : 290;
    int cap = (s.thumb_length - 10) / 2;
    int odd = s.thumb_length % 2;
    copy_skin_piece(273, s.thumb_top, 10, cap, column, 2);
    copy_skin_piece(273, s.thumb_top + cap, 10, 10, column, 161);
    copy_skin_piece(273, s.thumb_top + cap + 10, 10, cap + odd, column, 323 - cap - odd);

    if (recompute) s.list_offset = (int32_t)((float)(s.thumb_top - 70) * s.scroll_scale);
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

    s.scroll_scale = ((float)s.visible_count * 12.0f - 300.0f) / 279.0f;
    if (s.scroll_scale < 0) {
        s.scroll_scale = 0;
        s.thumb_top = 0;
        set_scroll_thumb(0, 0, 1);
        refresh_window();
    }
    set_scroll_thumb(0, 0, 1);
}
