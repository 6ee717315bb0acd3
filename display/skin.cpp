// skin.cpp - decoding the skin resource, the window's shape, and the one
// upload of the decoded picture into the skin bitmap.
#include <cstring>

#include "app/app_state.h"
#include "display/display.h"
#include "display/display_internal.h"
#include "display/skin_codec.h"

// Each word yields its pixel once and then as many more times as its
// unscrambled repeat count says; the key grows by 3 per word.  A resource
// that would decode past the buffer is refused (0) rather than cut short, so
// start-up never runs with half a skin.
uint32_t decode_skin(const uint8_t *resource, uint32_t word_count, uint32_t *pixels,
                     uint32_t pixel_capacity) {
    if (!resource || !pixels || word_count == 0) return 0;
    const SkinCodec codec = skin_codec();
    uint32_t key = codec.key_start;
    uint32_t out = 0;
    for (uint32_t i = 0; i < word_count; i++) {
        const uint8_t *b = resource + (size_t)i * 4;
        uint32_t w = (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
        uint32_t r = w >> codec.shift;
        uint32_t p = w | codec.fill;
        r = (r ^ key) & codec.mask;
        if (r >= pixel_capacity - out) return 0;   // 1 + r pixels must fit
        pixels[out++] = p;
        while (r > 0) {
            pixels[out++] = p;
            r--;
        }
        key += 3;
    }
    return out;
}

// The nine rectangles that make the outline with stepped corners: the
// outermost row and column lose 4 pixels at each end, the next ones 2.
void build_region(const PlatRect *client, uint8_t *region_data) {
    const int32_t w = client->right, h = client->bottom;
    const int32_t rects[REGION_RECT_COUNT][4] = {
        {4, 0, w - 4, 1},     {2, 1, w - 2, 2},     {4, h - 1, w - 4, h},
        {2, h - 2, w - 2, h - 1}, {0, 4, 1, h - 4}, {1, 2, 2, h - 2},
        {w - 1, 4, w, h - 4}, {w - 2, 2, w - 1, h - 2}, {2, 2, w - 2, h - 2},
    };
    // Header: its size, the rectangle type, the count, the size of the
    // rectangle data, and the bounding rectangle (the client rectangle).
    const int32_t header[8] = {32, 1, REGION_RECT_COUNT, REGION_RECT_COUNT * 16,
                               client->left, client->top, client->right, client->bottom};
    std::memcpy(region_data, header, sizeof header);
    std::memcpy(region_data + 32, rects, sizeof rects);
}

// The decoded picture is bottom row first; the bitmap is top row first.  The
// top byte of a decoded pixel carries no colour and is cleared.
void upload_skin(void) {
    AppState &s = app_state;
    if (!s.skin_pixels || !s.skin_bitmap) return;
    for (int row = 0; row < SKIN_HEIGHT; row++) {
        const uint32_t *from = s.skin_pixels + (size_t)row * SKIN_WIDTH;
        uint32_t *to = s.skin_bitmap + (size_t)(SKIN_HEIGHT - 1 - row) * SKIN_STRIDE;
        for (int x = 0; x < SKIN_WIDTH; x++) to[x] = from[x] & 0x00FFFFFFu;
    }
    s.skin_uploaded = 1;
}
