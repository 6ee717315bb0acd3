// resources.cpp - lookup of the pictures the program carries.
//
// The arrays are generated at build time from resources/*.png by
// tools/skin/skin_encode (see display/build.cmake).
#include "resources/resources.h"

#include <cstring>

extern const uint8_t quorvax_skin_resource[];
extern const uint32_t quorvax_skin_resource_size;
extern const uint32_t quorvax_icon_window[];
extern const int quorvax_icon_window_width;
extern const int quorvax_icon_window_height;
extern const uint32_t quorvax_icon_tray[];
extern const int quorvax_icon_tray_width;
extern const int quorvax_icon_tray_height;

const uint8_t *find_skin_resource(uint32_t *size_bytes) {
    if (size_bytes) *size_bytes = quorvax_skin_resource_size;
    return quorvax_skin_resource;
}

const uint32_t *find_icon_resource(const char *name, int *width, int *height) {
    const uint32_t *pixels = nullptr;
    int w = 0, h = 0;
    if (name && std::strcmp(name, "iCOO1") == 0) {
        pixels = quorvax_icon_window;
        w = quorvax_icon_window_width;
        h = quorvax_icon_window_height;
    } else if (name && std::strcmp(name, "iCOO2") == 0) {
        pixels = quorvax_icon_tray;
        w = quorvax_icon_tray_width;
        h = quorvax_icon_tray_height;
    }
    if (width) *width = w;
    if (height) *height = h;
    return pixels;
}
