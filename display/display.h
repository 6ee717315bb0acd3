// display.h - skin, window shape, back buffer drawing, painting, formatting.
#pragma once

#include <cstdint>

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

// ---- primitives on the back buffer
// Copies the w x h piece at (sx, sy) of the skin to (x, y); nothing while
// the window is hidden.
void copy_skin_piece(int x, int y, int w, int h, int sx, int sy);

// ---- presenting
// Redraws the list into the back buffer and presents it.
void refresh_window(void);
// Redraws the whole face and presents it.
void repaint_all(void);
// Draws the list, totals, notices and menu into the back buffer.
void paint_list(void);
// Writes a speed (bytes per second) as text, e.g. "2,5kb/s".
void format_speed(char *out, uint32_t value);
