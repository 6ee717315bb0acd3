// resources.h - what the program carries inside itself: the encoded skin
// and the two icons.
#pragma once

#include <cstdint>

// The skin resource (32-bit words, see display/skin.cpp); null when the
// program was built without one.  *size_bytes receives its size.
const uint8_t *find_skin_resource(uint32_t *size_bytes);
// An icon by name ("iCOO1" window, "iCOO2" tray): 32-bit top-down pixels
// with alpha in the top byte; null when there is none.
const uint32_t *find_icon_resource(const char *name, int *width, int *height);
