// paint.cpp - painting the window: the list with its three columns, the
// frame pieces, the scrollbar, the capture button, the totals, the notes, the
// item menu, the offline notice and the settings panel.
//
// Every position comes from the layout table (display/window_layout.h).
//
// Writes upward, because the list is where the row under the pointer is
// decided: painting records it in hovered_item, which the window
// procedure's row selection and context menu read.
//
// Also the refresh: painting then presenting, and the heartbeat's quiet
// version of it, which does neither when nothing painting reads has changed
// since the last refresh.
//
// Sections: [LIST] [FRAME AND TOTALS] [SCROLL THUMB] [MENU] [SETTINGS PANEL]
//           [REFRESH]
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/display.h"
#include "display/display_internal.h"
#include "display/window_layout.h"
#include "engine/download_table.h"

namespace {

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

// The pointer where it is now.
void read_pointer(void) { cursor_in_client(&app_state.pointer_x, &app_state.pointer_y); }

int text_length(const char *text, size_t cap) { return (int)strnlen(text, cap); }

}  // namespace

// ---------------------------------------------------------------- [LIST]

// The rows from the one that holds the first list pixel shown, one row
// pitch apart, until the band below the list.  A row's separator lies one
// pixel above its band; the first band is cut at the list's top, the last
// at its bottom.
struct RowWalk {
    int k;   // index into visible_rows
    int y;   // the row's separator line
};

static RowWalk first_row(void) {
    const AppState &s = app_state;
    return RowWalk{s.list_offset / ROW_PITCH, ROWS_TOP - 1 - s.list_offset % ROW_PITCH};
}

static void row_band(int y, int *top, int *bottom) {
    *top = y + 1 < ROWS_TOP ? ROWS_TOP : y + 1;
    *bottom = *top + ROW_PITCH > ROWS_BOTTOM ? ROWS_BOTTOM : *top + ROW_PITCH;
}

// The download-table index shown in row k, or -1 for a blank row (past the
// list, or an entry that names no item).
static int32_t row_item(int k) {
    const AppState &s = app_state;
    const int32_t shown = s.visible_rows ? s.visible_count : 0;
    if (k < 0 || k >= shown || k >= VISIBLE_ROWS_MAX || !downloads.items) return -1;
    int32_t item = s.visible_rows[k];
    return item >= 0 && item < downloads.item_count ? item : -1;
}

int32_t list_item_at(int y) {
    int32_t found = -1;
    for (RowWalk r = first_row(); r.y <= ROWS_PAINT_END; r.k++, r.y += ROW_PITCH) {
        int top, bottom;
        row_band(r.y, &top, &bottom);
        if (y > top && y <= bottom) found = row_item(r.k);   // a later band covers an earlier one
    }
    return found;
}

// The width in pixels of an item's progress bar, or -1 when it shows none
// (size not known yet, or finished).  A record whose done count passes its
// total shows a full bar.
static int progress_width(const DownloadItem &it) {
    if (it.totalSize == 0 || it.state == Finished) return -1;
    float width = (float)it.doneSize * (float)PROGRESS_WIDTH / (float)it.totalSize;
    if (width > PROGRESS_WIDTH) width = PROGRESS_WIDTH;
    return (int)width;
}

// Whether the row whose band runs from top to bottom becomes the hovered
// one: the pointer is on it and nothing else holds the pointer (panel, menu
// entry, thumb, offline notice).
static bool pointer_takes_row(int top, int bottom) {
    const AppState &s = app_state;
    return s.pointer_y > top && s.pointer_y <= bottom && s.pointer_x >= LIST_HOVER_LEFT &&
           s.pointer_x <= LIST_HOVER_RIGHT && s.settings_open == 0 && s.menu_entry == 0 && s.thumb_grab < 0 &&
           s.pointer_zone == 0;
}

// One row whose separator line is at y.  item is its download-table index,
// or -1 for a blank row past the end of the list.
static void paint_row(int y, int32_t item) {
    AppState &s = app_state;
    if (y >= ROWS_TOP && y < ROWS_BOTTOM) draw_line(SEPARATOR_LEFT, y, SEPARATOR_END, y);
    int top, bottom;
    row_band(y, &top, &bottom);

    if (pointer_takes_row(top, bottom)) s.hovered_item = item;

    // Blank rows always take the plain column colours: "no item" must not
    // match a hovered_item or selected_item that is itself "none".
    const bool has_item = item >= 0;
    const bool hovered = has_item && item == s.hovered_item;
    const bool selected = has_item && item == downloads.selected_item;
    auto row_brush = [&](uint32_t plain) {
        return selected ? BRUSH_SELECTED_ROW : hovered ? BRUSH_HOVERED_ROW : plain;
    };

    fill_box(LIST_NAME_COLUMN.left, top, LIST_NAME_COLUMN.right, bottom, row_brush(BRUSH_NAME_COLUMN));
    const DownloadItem *it = has_item ? &downloads.items[item] : nullptr;
    if (it) {
        if (it->state <= 10) set_text_colour(STATE_COLOUR[it->state]);
        const int width = progress_width(*it);
        if (width >= 0)
            fill_box(LIST_NAME_COLUMN.left, top, LIST_NAME_COLUMN.left + width, bottom,
                     hovered || selected ? BRUSH_PROGRESS_HIGHLIGHT : BRUSH_PROGRESS);
        draw_text(ADDRESS_TEXT_X, top, it->pageAddress, text_length(it->pageAddress, sizeof it->pageAddress));
    }

    fill_box(LIST_SIZE_COLUMN.left, top, LIST_SIZE_COLUMN.right, bottom, row_brush(BRUSH_SIZE_COLUMN));
    if (it) {
        if (it->totalSize != 0)
            draw_size(it->totalSize, SIZE_TEXT_RIGHT, top, SIZE_RIGHT_ALIGN | SIZE_TENTHS);
        else
            draw_text(SIZE_PLACEHOLDER_X, top, string_entry(STR_SIZE_PLACEHOLDER), 4);
    }

    fill_box(LIST_SPEED_COLUMN.left, top, LIST_SPEED_COLUMN.right, bottom, row_brush(BRUSH_SPEED_COLUMN));
    if (it && it->state == Downloading)
        draw_size(2u * it->speed, SPEED_TEXT_RIGHT, top,
                  it->speed > 499999 ? SIZE_RIGHT_ALIGN | SIZE_TENTHS : SIZE_RIGHT_ALIGN);
}

// The looks the pointer decides outside the rows.
static bool pointer_on_thumb(void) {
    const AppState &s = app_state;
    return in_area(thumb_area(s.thumb_top, s.thumb_length), s.pointer_x, s.pointer_y);
}

static const FaceElement *const POINTER_LOOKS[] = {&FACE_WEB_LINK, &FACE_SCROLL_UP, &FACE_SCROLL_DOWN};

// Capture button: away from it, the offer look or the plain one; on it with
// an offer, pressed or hovered; on it without an offer, untouched (null).
// Held down by the keyboard shortcut it shows pressed wherever the pointer
// is, or the key would press it without a sign.
static const SkinPiece *capture_look(void) {
    const AppState &s = app_state;
    if (s.offer_pending && s.offer_key_down) return FACE_CAPTURE.pressed;
    if (!in_area(FACE_CAPTURE.area, s.pointer_x, s.pointer_y))
        return s.offer_pending ? &SKIN_CAPTURE_OFFERED : FACE_CAPTURE.normal;
    if (s.offer_pending) return s.capture_pressed ? FACE_CAPTURE.pressed : FACE_CAPTURE.hover;
    return nullptr;
}

// Everything paint_list draws, from the pointer position last read.
static void paint_at_pointer(void) {
    AppState &s = app_state;
    select_font(s.font_small);

    for (RowWalk r = first_row(); r.y <= ROWS_PAINT_END; r.k++, r.y += ROW_PITCH) paint_row(r.y, row_item(r.k));
    for (int x : COLUMN_LINE_X) draw_line(x, ROWS_TOP, x, ROWS_BOTTOM);

    // ------------------------------------------------- [FRAME AND TOTALS]
    // The frame pieces cover whatever the rows drew beyond the list.
    copy_piece(SKIN_FRAME_BELOW_LIST);
    copy_piece(SKIN_STRIP_ABOVE_ROWS);
    copy_piece(SKIN_STRIP_RIGHT_OF_LIST);
    copy_piece(SKIN_TOTALS_AREA);

    draw_scroll_thumb(pointer_on_thumb() ? 1 : 0, s.thumb_top);

    // The link and the arrows in the look the pointer calls for.
    for (const FaceElement *e : POINTER_LOOKS) copy_piece(in_area(e->area, s.pointer_x, s.pointer_y) ? *e->hover : *e->normal);

    if (const SkinPiece *capture = capture_look()) copy_piece(*capture);

    // Overall progress; a done sum beyond the total shows a full bar.
    double bar = 0.0;
    if (s.sum_total_size != 0.0) bar = s.sum_done_size / s.sum_total_size * TOTALS_WIDTH;
    if (!(bar >= 0.0)) bar = 0.0;
    if (bar > TOTALS_WIDTH) bar = TOTALS_WIDTH;
    fill_box(TOTALS_BAR_LEFT, TOTALS_BAR_TOP, TOTALS_BAR_LEFT + (int)bar, TOTALS_BAR_BOTTOM, BRUSH_TOTALS_BAR);

    select_font(s.font_text);
    set_text_colour(rgb(48, 80, 48));
    draw_large_size(s.sum_done_size, TOTAL_DONE_RIGHT, TOTALS_TEXT_Y, SIZE_RIGHT_ALIGN | SIZE_TENTHS);
    draw_text(TOTALS_SEPARATOR_X, TOTALS_TEXT_Y, string_entry(STR_PATH_SEPARATOR), 1);
    draw_large_size(s.sum_total_size, TOTAL_SIZE_X, TOTALS_TEXT_Y, SIZE_TENTHS);
    set_text_colour(rgb(128, 48, 48));
    draw_size(2u * (uint32_t)s.total_speed, TOTAL_SPEED_RIGHT, TOTALS_TEXT_Y,
              s.total_speed > 499999 ? SIZE_RIGHT_ALIGN | SIZE_TENTHS | SIZE_LONG_UNITS
                                     : SIZE_RIGHT_ALIGN | SIZE_LONG_UNITS);

    if (s.note_ticks > 0) copy_piece_at(SKIN_DUPLICATE_NOTE, s.note_x, s.note_y);
    if (s.menu_open) paint_menu();
    if (s.offline_notice) copy_piece(SKIN_OFFLINE_NOTICE);
    paint_settings_panel();
}

void paint_list(void) {
    read_pointer();
    paint_at_pointer();
}

// -------------------------------------------------------- [SCROLL THUMB]

// The top is kept on the track exactly as the scrolling code has always
// kept it: a top at or above the track's first row becomes that row, and a
// thumb that would pass the track's end is put back to end there.
void draw_scroll_thumb(int highlight, int top) {
    AppState &s = app_state;
    s.thumb_top = top <= SCROLL_TRACK_TOP - 1 ? SCROLL_TRACK_TOP : top;
    if (top + s.thumb_length > SCROLL_TRACK_BOTTOM) s.thumb_top = SCROLL_TRACK_BOTTOM - s.thumb_length;

    // The track, then the thumb from its top cap, grip and bottom cap.
    copy_piece(SKIN_SCROLL_TRACK);
    const int column = highlight == 1 ? FACE_THUMB.hover->sx : FACE_THUMB.normal->sx;
    const int cap = (s.thumb_length - THUMB_GRIP_HEIGHT) / 2;
    const int odd = s.thumb_length % 2;
    copy_skin_piece(THUMB_X, s.thumb_top, THUMB_WIDTH, cap, column, THUMB_TOP_CAP_ROW);
    copy_skin_piece(THUMB_X, s.thumb_top + cap, THUMB_WIDTH, THUMB_GRIP_HEIGHT, column, THUMB_GRIP_ROW);
    copy_skin_piece(THUMB_X, s.thumb_top + cap + THUMB_GRIP_HEIGHT, THUMB_WIDTH, cap + odd, column,
                    THUMB_COLUMN_END - cap - odd);
}

// ---------------------------------------------------------------- [MENU]

void paint_menu(void) {
    AppState &s = app_state;
    copy_piece_at(SKIN_MENU, s.menu_x, s.menu_y);
    if (s.menu_entry >= MENU_ENTRY_START && s.menu_entry <= MENU_ENTRY_SHOW_FILE) {
        int e = s.menu_entry - MENU_ENTRY_START;
        copy_piece_at(SKIN_MENU_ENTRY[e], s.menu_x, s.menu_y + MENU_ENTRY_OFFSET[e]);
    }
}

// ------------------------------------------------------ [SETTINGS PANEL]

// Painted from the pointer position paint_list read: one reading serves the
// whole picture, so the refresh decision below knows every pointer position
// the picture was painted from.

namespace {

// A control in its look: on (ticked or being edited) or not, hovered when
// the pointer is in its area.
void paint_control(const PanelElement &e, bool on) {
    const AppState &s = app_state;
    copy_piece_at(panel_look(e, on, in_area(e.area, s.pointer_x, s.pointer_y)), e.x, e.y);
}

}  // namespace

// The controls drawn whether or not the proxy is ticked.
static const PanelElement *const PANEL_CONTROLS[] = {&PANEL_SHOW_FINISHED, &PANEL_REMOVE_FINISHED, &PANEL_USE_PROXY,
                                                     &PANEL_MAX_FIELD, &PANEL_FOLDER_BUTTON};

void paint_settings_panel(void) {
    AppState &s = app_state;
    if (!s.settings_open) return;
    copy_piece(SKIN_PANEL);

    paint_control(PANEL_SHOW_FINISHED, s.show_finished != 0);
    paint_control(PANEL_REMOVE_FINISHED, s.auto_remove_finished != 0);
    paint_control(PANEL_USE_PROXY, s.proxy_edit_on != 0);

    // Downloads at once: the field, then its digit.
    const bool editing_max = s.edit_field == PANEL_MAX_FIELD.editField;
    paint_control(PANEL_MAX_FIELD, editing_max);
    select_font(s.font_bold);
    set_text_colour(editing_max ? rgb(0, 0, 0) : rgb(48, 48, 48));
    int digit = s.max_active_edit;
    char digit_text = (char)('0' + (digit < 0 ? 0 : digit > 9 ? 9 : digit));
    draw_text(MAX_DIGIT_X, MAX_DIGIT_Y, &digit_text, 1);

    paint_control(PANEL_FOLDER_BUTTON, false);

    if (s.proxy_edit_on) {
        for (const PanelElement *field : PANEL_PROXY_FIELDS) paint_control(*field, s.edit_field == field->editField);
    }

    // The five numbers, right-aligned, whether or not the proxy is ticked.
    select_font(s.font_serif);
    for (int f = 0; f < 5; f++) {
        set_text_colour(s.edit_field == PANEL_PROXY_FIELDS[f]->editField ? rgb(0, 0, 0) : rgb(64, 64, 64));
        char text[16];
        int n = std::snprintf(text, sizeof text, "%d", (int)s.proxy_edit[f]);
        int width = 0, height = 0;
        plat_measure_text(s.font_serif, text, n, &width, &height);
        draw_text(PROXY_NUMBER_RIGHT[f] - width, PROXY_NUMBER_Y, text, n);
    }
}

// ------------------------------------------------------------- [REFRESH]
//
// The heartbeat refreshes the window twenty times a second whether or not
// anything moved, and presenting is the costly part: a full-window copy to
// the screen.  So the heartbeat asks first whether painting would change
// anything, and skips painting and presenting when it would not.
//
// The decision rests on what the picture is made of rather than on every
// place that changes something remembering to say so:
//   * paint_list is a function of its inputs: every pixel it draws gets a
//     value that only the inputs decide (each text is drawn on a background
//     the same paint laid down just before), and every pixel it does not
//     draw keeps what it had.  Painting twice from the same inputs therefore
//     gives the picture painting once gave.
//   * a refresh keeps a copy of the back buffer as it painted and presented
//     it, and a signature of the inputs it painted from.
// When the heartbeat finds the same signature and a back buffer equal to
// that copy, the screen already shows exactly what painting would give.
// Anything drawn since by another route (a hover look, the note taken away,
// a whole repaint) shows in the comparison, and the heartbeat paints and
// presents again.  Comparing the pictures rather than only counting drawing
// calls lets a look that is drawn again unchanged (the scroll thumb the list
// rebuild puts back at every speed sample) leave an idle window idle; the
// count (draw_count, display/draw.cpp) only spares the comparison when no
// primitive ran at all since the refresh.
//
// The signature is a 64-bit FNV-1a hash of every input, read where the
// painting reads it; a new input of paint_list must be added here too (the
// refresh tests change each kind of input and compare with a full paint).

// The back buffer as the last refresh left it.
static uint32_t painted_picture[WINDOW_WIDTH * WINDOW_HEIGHT];

namespace {

const uint64_t FNV_OFFSET = 14695981039346656037ull;
const uint64_t FNV_PRIME = 1099511628211ull;

void mix(uint64_t *hash, const void *data, size_t size) {
    const unsigned char *bytes = (const unsigned char *)data;
    uint64_t h = *hash;
    for (size_t k = 0; k < size; k++) h = (h ^ bytes[k]) * FNV_PRIME;
    *hash = h;
}

template <typename T>
void mix_value(uint64_t *hash, T value) {
    mix(hash, &value, sizeof value);
}

// What one row is painted from: its item's index, and for an item what its
// three columns show.  The done count shows only as the bar's width in
// pixels, and the speed only while downloading: a download moving on by
// less than a pixel's worth repaints nothing.
void mix_row(uint64_t *hash, int32_t item) {
    mix_value(hash, item);
    if (item < 0) return;
    const DownloadItem &it = downloads.items[item];
    mix_value(hash, it.state);
    mix_value(hash, it.totalSize);
    mix_value(hash, progress_width(it));
    mix_value(hash, it.state == Downloading ? it.speed : 0u);
    const int length = text_length(it.pageAddress, sizeof it.pageAddress);
    mix_value(hash, length);
    mix(hash, it.pageAddress, (size_t)length);
}

// Paints from the pointer just read and keeps the picture and what it was
// painted from: signature, the inputs' signature taken before painting.
void paint_noted(uint64_t signature) {
    AppState &s = app_state;
    paint_at_pointer();
    s.painted_valid = s.back_buffer != nullptr;
    if (!s.painted_valid) return;
    std::memcpy(painted_picture, s.back_buffer, sizeof painted_picture);
    s.painted_signature = signature;
    s.painted_draw_count = s.draw_count;
}

// Whether the back buffer is still the picture the last refresh left.
bool picture_kept(void) {
    AppState &s = app_state;
    if (!s.painted_valid || !s.back_buffer) return false;
    if (s.draw_count == s.painted_draw_count) return true;   // nothing drew since
    if (std::memcmp(painted_picture, s.back_buffer, sizeof painted_picture) != 0) return false;
    s.painted_draw_count = s.draw_count;   // drawn again as it was: no need to compare next time
    return true;
}

}  // namespace

uint64_t paint_signature(void) {
    const AppState &s = app_state;
    const int px = s.pointer_x, py = s.pointer_y;
    uint64_t h = FNV_OFFSET;

    // Where the picture goes and what the primitives draw with.
    mix_value(&h, s.window_shown);
    mix_value(&h, s.back_buffer);
    mix_value(&h, s.skin_bitmap);
    mix_value(&h, s.skin_uploaded);
    mix_value(&h, s.font_small);
    mix_value(&h, s.font_text);
    mix_value(&h, s.font_bold);
    mix_value(&h, s.font_serif);
    mix(&h, string_entry(STR_SIZE_PLACEHOLDER), 4);
    mix(&h, string_entry(STR_PATH_SEPARATOR), 1);

    // The rows, as paint_list walks them: the row the pointer takes, the
    // highlights, and what each row shows.  The pointer counts only where it
    // changes a look, so that it moving about elsewhere repaints nothing.
    // A row of an unknown state is written in the colour set before it:
    // the colour the last paint left, when no row above sets one.
    mix_value(&h, s.list_offset);
    mix_value(&h, s.hovered_item);
    mix_value(&h, downloads.selected_item);
    bool colour_set = false;
    for (RowWalk r = first_row(); r.y <= ROWS_PAINT_END; r.k++, r.y += ROW_PITCH) {
        int top, bottom;
        row_band(r.y, &top, &bottom);
        mix_value(&h, pointer_takes_row(top, bottom));
        const int32_t item = row_item(r.k);
        mix_row(&h, item);
        if (item < 0 || colour_set) continue;
        if (downloads.items[item].state <= 10)
            colour_set = true;
        else
            mix_value(&h, s.text_colour);
    }

    // Scrollbar, link, arrows, capture button.
    mix_value(&h, s.thumb_top);
    mix_value(&h, s.thumb_length);
    mix_value(&h, pointer_on_thumb());
    for (const FaceElement *e : POINTER_LOOKS) mix_value(&h, in_area(e->area, px, py));
    mix_value(&h, capture_look());

    // Totals.
    mix_value(&h, s.sum_done_size);
    mix_value(&h, s.sum_total_size);
    mix_value(&h, s.total_speed);

    // Note, menu, offline notice, each where it is shown.  The note is drawn
    // while it counts down, whatever the count; the heartbeat takes it away
    // by drawing, which the comparison of the pictures sees.
    mix_value(&h, s.note_ticks > 0);
    if (s.note_ticks > 0) {
        mix_value(&h, s.note_x);
        mix_value(&h, s.note_y);
    }
    mix_value(&h, s.menu_open);
    if (s.menu_open) {
        mix_value(&h, s.menu_x);
        mix_value(&h, s.menu_y);
        mix_value(&h, s.menu_entry);
    }
    mix_value(&h, s.offline_notice);

    // The settings panel, the values it shows and the control under the
    // pointer.
    mix_value(&h, s.settings_open);
    if (s.settings_open) {
        mix_value(&h, s.show_finished);
        mix_value(&h, s.auto_remove_finished);
        mix_value(&h, s.proxy_edit_on);
        mix_value(&h, s.edit_field);
        mix_value(&h, s.max_active_edit);
        mix(&h, s.proxy_edit, sizeof s.proxy_edit);
        for (const PanelElement *e : PANEL_CONTROLS) mix_value(&h, in_area(e->area, px, py));
        if (s.proxy_edit_on)
            for (const PanelElement *e : PANEL_PROXY_FIELDS) mix_value(&h, in_area(e->area, px, py));
    }
    return h;
}

void refresh_window(void) {
    read_pointer();
    paint_noted(paint_signature());
    present();
}

int refresh_window_if_changed(void) {
    AppState &s = app_state;
    read_pointer();
    const uint64_t signature = paint_signature();
    if (s.painted_valid && s.painted_signature == signature && picture_kept()) return 0;
    paint_noted(signature);
    present();
    return 1;
}
