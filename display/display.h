// display.h - skin, window shape, back buffer drawing, painting, formatting.
//
// Everything visible is drawn into the 288x417 back buffer (app_state) by
// copying pieces of the skin (display/skin_layout.h), filling rectangles,
// drawing grid lines and writing text, and then presented in one copy.
// Pictures are 32-bit pixels 0x00RRGGBB, top row first.  While the window is
// hidden (window_shown 0) piece copies, texts and presenting do nothing;
// fills and lines still reach the back buffer.
#pragma once

#include <cstdint>

#include "engine/size_text.h"
#include "platform/platform.h"

// ---- skin and window shape (used by start-up)
// Region data: a 32-byte header then 9 rectangles (int32 left, top, right,
// bottom each), 176 bytes in all.
static const int REGION_DATA_SIZE = 176;
static const int REGION_RECT_COUNT = 9;
// Decodes the skin resource (word_count little-endian 32-bit words) into
// pixels (bottom row first), writing at most pixel_capacity pixels.
// Returns the number of pixels produced, 0 when they would not fit.
uint32_t decode_skin(const uint8_t *resource, uint32_t word_count, uint32_t *pixels,
                     uint32_t pixel_capacity);
// Writes the region data of the window shape for the client rectangle.
void build_region(const PlatRect *client, uint8_t *region_data);
// Copies the decoded skin (app_state.skin_pixels) into the skin bitmap.
void upload_skin(void);

// ---- pen, brushes and text colours (0x00RRGGBB)
static const uint32_t GRID_PEN = 0x8090A0;              // row separators, column lines
static const uint32_t BRUSH_NAME_COLUMN = 0xEFEFE0;
static const uint32_t BRUSH_SIZE_COLUMN = 0xD9EFD9;
static const uint32_t BRUSH_SPEED_COLUMN = 0xEFD9EF;
static const uint32_t BRUSH_TOTALS_BAR = 0xF0EAA0;
static const uint32_t BRUSH_PROGRESS = 0xF0E484;
static const uint32_t BRUSH_SELECTED_ROW = 0xA0F0A0;
static const uint32_t BRUSH_PROGRESS_HIGHLIGHT = 0x80EEFF;
static const uint32_t BRUSH_HOVERED_ROW = 0xFFD0D0;

// ---- primitives on the back buffer
// Copies the w x h piece at (sx, sy) of the skin to (x, y).
void copy_skin_piece(int x, int y, int w, int h, int sx, int sy);
// Copies a piece of the skin layout (display/skin_layout.h) to its own
// place in the window, or to (x, y).
struct SkinPiece;
void copy_piece(const SkinPiece &piece);
void copy_piece_at(const SkinPiece &piece, int x, int y);
// Fills the rectangle (right and bottom excluded) with a brush colour.
void fill_rect(const PlatRect *rect, uint32_t brush);
// Draws a line with the grid pen from (x1, y1) up to, not including, (x2, y2).
void draw_line(int x1, int y1, int x2, int y2);
// Writes the first length characters of text with its top-left corner at
// (x, y), in the selected font and text colour.
void draw_text(int x, int y, const char *text, int length);
// Selects the font and the text colour that draw_text uses.
void select_font(plat_font font);
void set_text_colour(uint32_t colour);
// Copies the whole back buffer to the window.
void present(void);

// The cursor's position in the window's client coordinates.
void cursor_in_client(int32_t *x, int32_t *y);

// ---- painting
// paint_list, then present.
void refresh_window(void);
// The heartbeat's refresh: refresh_window, unless nothing paint_list shows
// has changed since the last refresh_window and the back buffer still holds
// what that refresh painted (then the screen already shows what painting
// would give, and it neither paints nor presents).  Reads the pointer
// either way, as painting does.  Returns 1 when it painted and presented.
int refresh_window_if_changed(void);
// A signature (hash) of everything paint_list shows, from the state and the
// pointer position as last read: equal signatures paint equal pictures.
uint64_t paint_signature(void);
// The whole face, the thumb, paint_list and the capture button's offer
// look, then present.
void repaint_all(void);
// Draws the list, frame pieces, scrollbar, capture button, totals, notes,
// menu, offline notice and settings panel into the back buffer, at the
// places display/window_layout.h gives.
void paint_list(void);
// The item of the list row whose band holds window row y, as paint_list lays
// the rows out (where two bands overlap, the later row's); -1 for a blank row
// or a y outside the rows.
int32_t list_item_at(int y);
// Puts thumb_top at top kept on the scroll track (SCROLL_TRACK_TOP and
// SCROLL_TRACK_BOTTOM of display/window_layout.h) and draws the track and
// the thumb, highlighted when highlight is 1.  list_offset is not touched.
void draw_scroll_thumb(int highlight, int top);
// The item context menu at (menu_x, menu_y) with the entry under the pointer.
void paint_menu(void);
// The settings panel and its controls; nothing while it is closed.
void paint_settings_panel(void);

// ---- sizes and speeds (texts composed by engine/size_text.h)
// Draws a byte count at (x, y) with the selected font and colour.
void draw_size(uint32_t value, int x, int y, unsigned flags);
// The same for a count held as a double (totals that can pass 4 GB).
void draw_large_size(double value, int x, int y, unsigned flags);
