// draw.cpp - drawing primitives over the back buffer, and presenting it.
//
// Every primitive clips to the picture it writes and reads, so a piece or a
// rectangle that reaches past an edge draws only its part inside.  Each one
// that writes counts itself in draw_count: while nothing has drawn since the
// last refresh, the heartbeat knows the picture is unchanged without
// comparing it (display/paint.cpp).
#include <cstring>

#include "app/app_state.h"
#include "display/display.h"
#include "display/display_internal.h"

static const PlatRect BACK_BUFFER_RECT = {0, 0, WINDOW_WIDTH, WINDOW_HEIGHT};

void copy_skin_piece(int x, int y, int w, int h, int sx, int sy) {
    AppState &s = app_state;
    if (!s.window_shown || !s.back_buffer || !s.skin_bitmap) return;
    long long dx = x, dy = y, sxx = sx, syy = sy, cw = w, ch = h;
    // Cut the rectangle to where both the source and the destination exist.
    if (dx < 0) { cw += dx; sxx -= dx; dx = 0; }
    if (dy < 0) { ch += dy; syy -= dy; dy = 0; }
    if (sxx < 0) { cw += sxx; dx -= sxx; sxx = 0; }
    if (syy < 0) { ch += syy; dy -= syy; syy = 0; }
    if (dx + cw > WINDOW_WIDTH) cw = WINDOW_WIDTH - dx;
    if (dy + ch > WINDOW_HEIGHT) ch = WINDOW_HEIGHT - dy;
    if (sxx + cw > SKIN_STRIDE) cw = SKIN_STRIDE - sxx;
    if (syy + ch > SKIN_HEIGHT) ch = SKIN_HEIGHT - syy;
    if (cw <= 0 || ch <= 0) return;
    s.draw_count++;
    for (long long row = 0; row < ch; row++) {
        const uint32_t *from = s.skin_bitmap + (size_t)(syy + row) * SKIN_STRIDE + (size_t)sxx;
        uint32_t *to = s.back_buffer + (size_t)(dy + row) * WINDOW_WIDTH + (size_t)dx;
        std::memcpy(to, from, (size_t)cw * sizeof(uint32_t));
    }
}

void cursor_in_client(int32_t *x, int32_t *y) {
    int cx = 0, cy = 0;
    plat_cursor_pos(&cx, &cy);
    PlatRect frame;
    if (plat_window_rect(app_state.window, &frame)) {
        cx -= frame.left;
        cy -= frame.top;
    }
    *x = cx;
    *y = cy;
}

void copy_piece(const SkinPiece &piece) {
    copy_skin_piece(piece.dx, piece.dy, piece.w, piece.h, piece.sx, piece.sy);
}

void copy_piece_at(const SkinPiece &piece, int x, int y) {
    copy_skin_piece(x, y, piece.w, piece.h, piece.sx, piece.sy);
}

void fill_rect(const PlatRect *rect, uint32_t brush) {
    uint32_t *pixels = app_state.back_buffer;
    if (!pixels || !rect) return;
    int left = rect->left < 0 ? 0 : rect->left;
    int top = rect->top < 0 ? 0 : rect->top;
    int right = rect->right > WINDOW_WIDTH ? WINDOW_WIDTH : rect->right;
    int bottom = rect->bottom > WINDOW_HEIGHT ? WINDOW_HEIGHT : rect->bottom;
    app_state.draw_count++;
    for (int y = top; y < bottom; y++)
        for (int x = left; x < right; x++) pixels[(size_t)y * WINDOW_WIDTH + x] = brush & 0x00FFFFFFu;
}

// Steps from the first point towards the second and plots every point on
// the way except the last one.
void draw_line(int x1, int y1, int x2, int y2) {
    uint32_t *pixels = app_state.back_buffer;
    if (!pixels) return;
    long long dx = (long long)x2 - x1, dy = (long long)y2 - y1;
    long long adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    int step_x = dx < 0 ? -1 : 1, step_y = dy < 0 ? -1 : 1;
    long long steps = adx > ady ? adx : ady;
    if (steps > 4 * (WINDOW_WIDTH + WINDOW_HEIGHT)) return;   // far off the picture
    app_state.draw_count++;
    long long x = x1, y = y1, err = adx - ady;
    for (long long n = 0; n < steps; n++) {
        if (x >= 0 && x < WINDOW_WIDTH && y >= 0 && y < WINDOW_HEIGHT)
            pixels[(size_t)y * WINDOW_WIDTH + (size_t)x] = GRID_PEN;
        long long e2 = 2 * err;
        if (e2 > -ady) { err -= ady; x += step_x; }
        if (e2 < adx) { err += adx; y += step_y; }
    }
}

void draw_text(int x, int y, const char *text, int length) {
    AppState &s = app_state;
    if (!s.window_shown || !s.back_buffer || !text || length <= 0) return;
    s.draw_count++;
    plat_draw_text(s.back_buffer, WINDOW_WIDTH, WINDOW_HEIGHT, s.selected_font, x, y, text, length,
                   s.text_colour, &BACK_BUFFER_RECT);
}

void select_font(plat_font font) { app_state.selected_font = font; }
void set_text_colour(uint32_t colour) { app_state.text_colour = colour & 0x00FFFFFFu; }

void present(void) {
    AppState &s = app_state;
    if (!s.window_shown || !s.back_buffer) return;
    plat_present(s.window);
}

void repaint_all(void) {
    AppState &s = app_state;
    copy_piece(SKIN_FACE);
    draw_scroll_thumb(0, s.thumb_top);
    paint_list();
    if (s.offer_pending) copy_piece(SKIN_CAPTURE_OFFERED);
    present();
}
