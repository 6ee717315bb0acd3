// display_internal.h - helpers shared by the display sources only.
#pragma once

#include "display/display.h"
#include "display/skin_layout.h"

// Row length of the skin bitmap: 476 pixels, of which the picture uses 472.
static const int SKIN_STRIDE = 476;

inline void fill_box(int left, int top, int right, int bottom, uint32_t brush) {
    PlatRect r = {left, top, right, bottom};
    fill_rect(&r, brush);
}
inline uint32_t rgb(int r, int g, int b) { return ((uint32_t)r << 16) | ((uint32_t)g << 8) | (uint32_t)b; }
