// format.cpp - sizes and speeds drawn on the back buffer, in the compact
// texts of engine/size_text.h.
#include "app/app_state.h"
#include "display/display.h"

namespace {

// The text of a size in the same back buffer state as the list uses, drawn
// at x or ending at x.  Nothing reaches the picture while the window is
// hidden (draw_text checks), but the text is still composed.
void draw_composed(const char *text, int length, int x, int y, unsigned flags) {
    if (flags & SIZE_RIGHT_ALIGN) {
        int width = 0, height = 0;
        plat_measure_text(app_state.selected_font, text, length, &width, &height);
        x -= width;
    }
    draw_text(x, y, text, length);
}

}  // namespace

void draw_size(uint32_t value, int x, int y, unsigned flags) {
    char text[16];
    int n = compose_size(text, value, flags);
    draw_composed(text, n, x, y, flags);
}

void draw_large_size(double value, int x, int y, unsigned flags) {
    char text[32];
    int n = compose_large_size(text, value, flags);
    draw_composed(text, n, x, y, flags);
}
