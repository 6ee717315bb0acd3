// display.h - skin, window shape, back buffer drawing, painting, formatting.
#pragma once

#include <cstdint>

// Redraws the list into the back buffer and presents it.
void refresh_window(void);
// Redraws the whole face and presents it.
void repaint_all(void);
// Draws the list, totals, notices and menu into the back buffer.
void paint_list(void);
// Writes a speed (bytes per second) as text, e.g. "2,5kb/s".
void format_speed(char *out, uint32_t value);
