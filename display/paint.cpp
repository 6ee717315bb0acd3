// paint.cpp - painting the window: the list with its three columns, the
// frame pieces, the scrollbar, the capture button, the totals, the notes, the
// item menu, the offline notice and the settings panel.
//
// Sections: [LIST] [FRAME AND TOTALS] [MENU] [SETTINGS PANEL]
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/display.h"
#include "display/display_internal.h"
#include "engine/download_table.h"
#include "ui/list_view.h"

namespace {

const int ROW_PITCH = 12;
const int ROWS_TOP = 62;          // first pixel row the rows may fill
const int ROWS_BOTTOM = 397;      // first pixel row below them
const int PROGRESS_WIDTH = 205;   // a complete item's bar
const int TOTALS_WIDTH = 139;     // the overall bar with everything complete

// Row text colour by item state 0..10; other states keep the previous row's.
const uint32_t STATE_COLOUR[11] = {
    0xC030B0,   // 0
    0x708080,   // 1 Analysing
    0x00B000,   // 2 Stopped
    0x202090,   // 3 Downloading
    0xC030B0,   // 4 Failed
    0x606060,   // 5 Queued
    0x9A9A00,   // 6 Finished
    0x708080,   // 7 RestartFromZero
    0x708080,   // 8 Connecting
    0x202090,   // 9 ReceivingHeaders
    0x606060,   // 10 WaitingRetry
};

// The pointer in client coordinates.
void read_pointer(void) {
    AppState &s = app_state;
    int x = 0, y = 0;
    plat_cursor_pos(&x, &y);
    PlatRect frame;
    if (plat_window_rect(s.window, &frame)) {
        x -= frame.left;
        y -= frame.top;
    }
    s.pointer_x = x;
    s.pointer_y = y;
}

int text_length(const char *text, size_t cap) { return (int)strnlen(text, cap); }

}  // namespace

// ---------------------------------------------------------------- [LIST]

// One row whose separator line is at y.  item is its download-table index,
// or -1 for a blank row past the end of the list.
static void paint_row(int y, int32_t item) {
    AppState &s = app_state;
    if (y > 61 && y <= 396) draw_line(8, y, 271, y);
    int top = y + 1 < ROWS_TOP ? ROWS_TOP : y + 1;
    int bottom = top + ROW_PITCH > ROWS_BOTTOM ? ROWS_BOTTOM : top + ROW_PITCH;

    // The row under the pointer becomes the hovered one, unless something
    // else holds the pointer (panel, menu entry, thumb, offline notice).
    if (s.pointer_y > top && s.pointer_y <= bottom && s.pointer_x > 8 && s.pointer_x <= 270 &&
        s.settings_open == 0 && s.menu_entry == 0 && s.thumb_grab < 0 && s.pointer_zone == 0)
        s.hovered_item = item;

    // Blank rows always take the plain column colours: "no item" must not
    // match a hovered_item or selected_item that is itself "none".
    const bool has_item = item >= 0;
    const bool hovered = has_item && item == s.hovered_item;
    const bool selected = has_item && item == downloads.selected_item;
    auto row_brush = [&](uint32_t plain) {
        return selected ? BRUSH_SELECTED_ROW : hovered ? BRUSH_HOVERED_ROW : plain;
    };

    fill_box(8, top, 214, bottom, row_brush(BRUSH_NAME_COLUMN));
    const DownloadItem *it = has_item ? &downloads.items[item] : nullptr;
    if (it) {
        if (it->state <= 10) set_text_colour(STATE_COLOUR[it->state]);
        if (it->totalSize != 0 && it->state != Finished) {
            // A record whose done count passes its total shows a full bar.
            float width = (float)it->doneSize * (float)PROGRESS_WIDTH / (float)it->totalSize;
            if (width > PROGRESS_WIDTH) width = PROGRESS_WIDTH;
            fill_box(8, top, 8 + (int)width, bottom,
                     hovered || selected ? BRUSH_PROGRESS_HIGHLIGHT : BRUSH_PROGRESS);
        }
        draw_text(9, top, it->pageAddress, text_length(it->pageAddress, sizeof it->pageAddress));
    }

    fill_box(214, top, 248, bottom, row_brush(BRUSH_SIZE_COLUMN));
    if (it) {
        if (it->totalSize != 0)
            draw_size(it->totalSize, 247, top, SIZE_RIGHT_ALIGN | SIZE_TENTHS);
        else
            draw_text(236, top, string_entry(STR_SIZE_PLACEHOLDER), 4);
    }

    fill_box(248, top, 271, bottom, row_brush(BRUSH_SPEED_COLUMN));
    if (it && it->state == Downloading)
        draw_size(2u * it->speed, 270, top,
                  it->speed > 499999 ? SIZE_RIGHT_ALIGN | SIZE_TENTHS : SIZE_RIGHT_ALIGN);
}

void paint_list(void) {
    AppState &s = app_state;
    read_pointer();
    select_font(s.font_small);

    // Rows: from the one that holds the first list pixel shown, every 12
    // pixels, until the band below the list.
    int k = s.list_offset / ROW_PITCH;
    int y = 61 - s.list_offset % ROW_PITCH;
    const int32_t shown = s.visible_rows ? s.visible_count : 0;
    while (y <= 399) {
        int32_t item = -1;
        if (k >= 0 && k < shown && k < VISIBLE_ROWS_MAX) {
            item = s.visible_rows[k];
            if (item < 0 || item >= downloads.item_count || !downloads.items) item = -1;
        }
        paint_row(y, item);
        k++;
        y += ROW_PITCH;
    }
    draw_line(213, 62, 213, 397);
    draw_line(248, 62, 248, 397);

    // ------------------------------------------------- [FRAME AND TOTALS]
    // The frame pieces cover whatever the rows drew beyond the list.
    copy_piece(SKIN_FRAME_BELOW_LIST);
    copy_piece(SKIN_STRIP_ABOVE_ROWS);
    copy_piece(SKIN_STRIP_RIGHT_OF_LIST);
    copy_piece(SKIN_TOTALS_AREA);

    const int px = s.pointer_x, py = s.pointer_y;
    const bool on_thumb = px > 272 && px <= 282 && py > s.thumb_top && py < s.thumb_top + s.thumb_length;
    set_scroll_thumb(on_thumb ? 1 : 0, s.thumb_top, 0);

    const bool on_link = px > 81 && px <= 201 && py > 406 && py <= 412;
    copy_piece(on_link ? SKIN_LINK_HOVER : SKIN_LINK_NORMAL);
    const bool on_up = px >= 274 && px <= 282 && py >= 59 && py <= 68;
    copy_piece(on_up ? SKIN_UP_HOVER : SKIN_UP_NORMAL);
    const bool on_down = px >= 274 && px <= 282 && py >= 390 && py <= 399;
    copy_piece(on_down ? SKIN_DOWN_HOVER : SKIN_DOWN_NORMAL);

    // Capture button: away from it, the offer look or the plain one; on it
    // with an offer, pressed or hovered; on it without an offer, untouched.
    const long long cx = px - 30, cy = py - 29;
    if (cx * cx + cy * cy > 599)
        copy_piece(s.offer_pending ? SKIN_CAPTURE_OFFERED : SKIN_CAPTURE_PLAIN);
    else if (s.offer_pending)
        copy_piece(s.capture_pressed ? SKIN_CAPTURE_PRESSED : SKIN_CAPTURE_OFFERED_HOVER);

    // Overall progress; a done sum beyond the total shows a full bar.
    double bar = 0.0;
    if (s.sum_total_size != 0.0) bar = s.sum_done_size / s.sum_total_size * TOTALS_WIDTH;
    if (!(bar >= 0.0)) bar = 0.0;
    if (bar > TOTALS_WIDTH) bar = TOTALS_WIDTH;
    fill_box(94, 28, 94 + (int)bar, 45, BRUSH_TOTALS_BAR);

    select_font(s.font_text);
    set_text_colour(rgb(48, 80, 48));
    draw_large_size(s.sum_done_size, 154, 30, SIZE_RIGHT_ALIGN | SIZE_TENTHS);
    draw_text(160, 30, string_entry(STR_PATH_SEPARATOR), 1);
    draw_large_size(s.sum_total_size, 170, 30, SIZE_TENTHS);
    set_text_colour(rgb(128, 48, 48));
    draw_size(2u * (uint32_t)s.total_speed, 278, 30,
              s.total_speed > 499999 ? SIZE_RIGHT_ALIGN | SIZE_TENTHS | SIZE_LONG_UNITS
                                     : SIZE_RIGHT_ALIGN | SIZE_LONG_UNITS);

    if (s.note_ticks > 0) copy_piece_at(SKIN_DUPLICATE_NOTE, s.note_x, s.note_y);
    if (s.menu_open) paint_menu();
    if (s.offline_notice) copy_piece(SKIN_OFFLINE_NOTICE);
    paint_settings_panel();
}

// ---------------------------------------------------------------- [MENU]

void paint_menu(void) {
    AppState &s = app_state;
    copy_piece_at(SKIN_MENU, s.menu_x, s.menu_y);
    if (s.menu_entry >= 1 && s.menu_entry <= 5) {
        int e = s.menu_entry - 1;
        copy_piece_at(SKIN_MENU_ENTRY[e], s.menu_x, s.menu_y + MENU_ENTRY_OFFSET[e]);
    }
}

// ------------------------------------------------------ [SETTINGS PANEL]

namespace {

bool pointer_in(int left, int top, int right, int bottom) {
    const AppState &s = app_state;
    return s.pointer_x >= left && s.pointer_x <= right && s.pointer_y >= top && s.pointer_y <= bottom;
}

void paint_check_box(int x, int y, int32_t value, bool hover) {
    const SkinPiece &look = value ? (hover ? SKIN_CHECK_ON_HOVER : SKIN_CHECK_ON)
                                  : (hover ? SKIN_CHECK_OFF_HOVER : SKIN_CHECK_OFF);
    copy_piece_at(look, x, y);
}

// The hit areas of the proxy fields (inclusive), octets 1-4 then the port.
const int PROXY_AREA_LEFT[5] = {101, 120, 139, 158, 181};
const int PROXY_AREA_RIGHT[5] = {115, 134, 153, 172, 211};

}  // namespace

void paint_settings_panel(void) {
    AppState &s = app_state;
    if (!s.settings_open) return;
    copy_piece(SKIN_PANEL);
    read_pointer();

    paint_check_box(CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y, s.show_finished, pointer_in(79, 43, 209, 57));
    paint_check_box(CHECK_REMOVE_FINISHED_X, CHECK_REMOVE_FINISHED_Y, s.auto_remove_finished,
                    pointer_in(79, 124, 217, 139));
    paint_check_box(CHECK_USE_PROXY_X, CHECK_USE_PROXY_Y, s.proxy_edit_on, pointer_in(78, 154, 221, 166));

    // Downloads at once: the field, then its digit.
    const bool editing_max = s.edit_field == 1;
    if (pointer_in(80, 69, 218, 82))
        copy_piece(SKIN_MAX_FIELD_HOVER);
    else
        copy_piece(editing_max ? SKIN_MAX_FIELD_EDIT : SKIN_MAX_FIELD);
    select_font(s.font_bold);
    set_text_colour(editing_max ? rgb(0, 0, 0) : rgb(48, 48, 48));
    int digit = s.max_active_edit;
    char digit_text = (char)('0' + (digit < 0 ? 0 : digit > 9 ? 9 : digit));
    draw_text(MAX_DIGIT_X, MAX_DIGIT_Y, &digit_text, 1);

    copy_piece(pointer_in(80, 97, 184, 109) ? SKIN_FOLDER_BUTTON_HOVER : SKIN_FOLDER_BUTTON);

    if (s.proxy_edit_on) {
        for (int f = 0; f < 5; f++) {
            const bool port = f == 4;
            const bool hover = pointer_in(PROXY_AREA_LEFT[f], 174, PROXY_AREA_RIGHT[f], 184);
            const bool editing = s.edit_field == f + 2;
            const SkinPiece &look = port ? (hover ? SKIN_PORT_FIELD_HOVER : editing ? SKIN_PORT_FIELD_EDIT : SKIN_PORT_FIELD)
                                         : (hover ? SKIN_OCTET_FIELD_HOVER : editing ? SKIN_OCTET_FIELD_EDIT : SKIN_OCTET_FIELD);
            copy_piece_at(look, port ? SKIN_PORT_FIELD.dx : OCTET_FIELD_X[f], PROXY_NUMBER_Y);
        }
    }

    // The five numbers, right-aligned, whether or not the proxy is ticked.
    select_font(s.font_serif);
    for (int f = 0; f < 5; f++) {
        set_text_colour(s.edit_field == f + 2 ? rgb(0, 0, 0) : rgb(64, 64, 64));
        char text[16];
        int n = std::snprintf(text, sizeof text, "%d", (int)s.proxy_edit[f]);
        int width = 0, height = 0;
        plat_measure_text(s.font_serif, text, n, &width, &height);
        draw_text(PROXY_NUMBER_RIGHT[f] - width, PROXY_NUMBER_Y, text, n);
    }
}
