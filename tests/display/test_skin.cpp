// The skin resource, its decoding and upload, the table of skin pieces, and
// the window's shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "display/display.h"
#include "display/skin_codec.h"
#include "display/skin_layout.h"
#include "resources/resources.h"
#include "tools/skin/png_read.h"

namespace {

const uint32_t SKIN_PIXELS = (uint32_t)SKIN_WIDTH * SKIN_HEIGHT;

std::vector<uint32_t> decode_shipped_skin(uint32_t *produced) {
    uint32_t size = 0;
    const uint8_t *resource = find_skin_resource(&size);
    std::vector<uint32_t> pixels(SKIN_PIXEL_BUFFER_SIZE / 4, 0xDEADBEEF);
    *produced = resource ? decode_skin(resource, size / 4, pixels.data(), (uint32_t)pixels.size()) : 0;
    return pixels;
}

// Words for the given runs (pixel, length) in the resource's own encoding.
std::vector<uint8_t> encode(const std::vector<std::pair<uint32_t, uint32_t>> &runs) {
    const SkinCodec c = skin_codec();
    std::vector<uint8_t> bytes;
    uint32_t key = c.key_start;
    for (auto &run : runs) {
        uint32_t w = ((((run.second - 1) ^ key) & c.mask) << c.shift) | run.first;
        for (int i = 0; i < 4; i++) bytes.push_back((uint8_t)(w >> (8 * i)));
        key += 3;
    }
    return bytes;
}

}  // namespace

TEST(SkinResourceTest, decodes_to_the_committed_picture_pixel_for_pixel) {
    std::vector<uint32_t> picture;
    int w = 0, h = 0;
    ASSERT_TRUE(png_read_file(QUORVAX_SOURCE_DIR "/resources/skin.png", &picture, &w, &h));
    ASSERT_EQ(w, SKIN_WIDTH);
    ASSERT_EQ(h, SKIN_HEIGHT);

    uint32_t produced = 0;
    std::vector<uint32_t> decoded = decode_shipped_skin(&produced);
    ASSERT_EQ(produced, SKIN_PIXELS);
    // The decoded picture is bottom row first.
    int mismatches = 0;
    for (int y = 0; y < SKIN_HEIGHT; y++)
        for (int x = 0; x < SKIN_WIDTH; x++) {
            uint32_t want = picture[(size_t)y * SKIN_WIDTH + x] & 0x00FFFFFFu;
            uint32_t got = decoded[(size_t)(SKIN_HEIGHT - 1 - y) * SKIN_WIDTH + x] & 0x00FFFFFFu;
            if (want != got && ++mismatches <= 5) ADD_FAILURE() << "pixel " << x << "," << y;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(decoded[SKIN_PIXELS], 0xDEADBEEFu) << "nothing written past the picture";
}

TEST(SkinResourceTest, upload_stands_the_picture_upright_without_the_top_byte) {
    std::vector<uint32_t> picture;
    int w = 0, h = 0;
    ASSERT_TRUE(png_read_file(QUORVAX_SOURCE_DIR "/resources/skin.png", &picture, &w, &h));
    uint32_t produced = 0;
    std::vector<uint32_t> decoded = decode_shipped_skin(&produced);
    ASSERT_EQ(produced, SKIN_PIXELS);

    reset_app_state();
    std::vector<uint32_t> bitmap(476 * SKIN_HEIGHT, 0x12345678);
    app_state.skin_pixels = decoded.data();
    app_state.skin_bitmap = bitmap.data();
    upload_skin();
    EXPECT_EQ(app_state.skin_uploaded, 1);
    for (int y : {0, 1, 200, SKIN_HEIGHT - 1})
        for (int x : {0, 57, SKIN_WIDTH - 1})
            EXPECT_EQ(bitmap[(size_t)y * 476 + x], picture[(size_t)y * SKIN_WIDTH + x] & 0x00FFFFFFu)
                << x << "," << y;
    EXPECT_EQ(bitmap[472], 0x12345678u) << "columns 472-475 are not drawn";
    app_state.skin_pixels = nullptr;
    app_state.skin_bitmap = nullptr;
}

TEST(SkinDecodingTest, each_word_gives_one_pixel_plus_its_repeat_count) {
    // Runs of 1 (repeat 0), 3 and 256 (the largest), with the key growing by
    // 3 from word to word.
    std::vector<uint8_t> words = encode({{0x112233, 1}, {0x445566, 3}, {0x778899, 256}, {0x0000FF, 1}});
    std::vector<uint32_t> out(300, 0);
    ASSERT_EQ(decode_skin(words.data(), 4, out.data(), 300), 261u);
    const uint32_t top = skin_codec().fill;
    EXPECT_EQ(out[0], 0x112233u | top);
    EXPECT_EQ(out[1], 0x445566u | top);
    EXPECT_EQ(out[3], 0x445566u | top);
    EXPECT_EQ(out[4], 0x778899u | top);
    EXPECT_EQ(out[259], 0x778899u | top);
    EXPECT_EQ(out[260], 0x0000FFu | top);
    EXPECT_EQ(out[261], 0u);
}

TEST(SkinDecodingTest, output_that_would_pass_the_buffer_is_refused) {
    std::vector<uint8_t> words = encode({{0x010203, 200}, {0x040506, 200}});
    std::vector<uint32_t> out(401, 0xAAAAAAAA);
    EXPECT_EQ(decode_skin(words.data(), 2, out.data(), 399), 0u);
    EXPECT_EQ(out[399], 0xAAAAAAAAu) << "nothing written past the buffer";
    EXPECT_EQ(decode_skin(words.data(), 2, out.data(), 400), 400u);
}

TEST(SkinLayoutTest, every_piece_lies_inside_the_picture_and_lands_inside_the_window) {
    for (const SkinPiece *p : SKIN_PIECES) {
        SCOPED_TRACE(p->name);
        EXPECT_GT(p->w, 0);
        EXPECT_GT(p->h, 0);
        EXPECT_GE(p->sx, 0);
        EXPECT_GE(p->sy, 0);
        EXPECT_LE(p->sx + p->w, SKIN_WIDTH);
        EXPECT_LE(p->sy + p->h, SKIN_HEIGHT);
        if (p->dx >= 0) { EXPECT_LT(p->dx, WINDOW_WIDTH); }
        if (p->dy >= 0) { EXPECT_LT(p->dy, WINDOW_HEIGHT); }
    }
}

TEST(SkinLayoutTest, looks_kept_outside_the_face_do_not_overlap_each_other) {
    // Pieces stored beside or below the window face are separate drawings;
    // two of them on the same pixels would spoil one.  The menu's highlight
    // strips are the exception: neighbours share their plain edge row.
    auto outside_face = [](const SkinPiece *p) { return p->sx >= 288 || p->sy >= 417; };
    auto is_menu_strip = [](const SkinPiece *p) {
        return p >= &SKIN_MENU_ENTRY[0] && p <= &SKIN_MENU_ENTRY[4];
    };
    for (int a = 0; a < SKIN_PIECE_COUNT; a++)
        for (int b = a + 1; b < SKIN_PIECE_COUNT; b++) {
            const SkinPiece *p = SKIN_PIECES[a], *q = SKIN_PIECES[b];
            if (!outside_face(p) || !outside_face(q)) continue;
            // the thumb columns hold their grips
            if ((p == &SKIN_THUMB_PLAIN && q == &SKIN_THUMB_GRIP_PLAIN) ||
                (p == &SKIN_THUMB_HIGHLIGHT && q == &SKIN_THUMB_GRIP_HIGHLIGHT))
                continue;
            // the panel holds the normal looks of its own controls
            if (p == &SKIN_PANEL && (q == &SKIN_CHECK_OFF || q == &SKIN_MAX_FIELD || q == &SKIN_FOLDER_BUTTON))
                continue;
            int overlap_w = std::min(p->sx + p->w, q->sx + q->w) - std::max(p->sx, q->sx);
            int overlap_h = std::min(p->sy + p->h, q->sy + q->h) - std::max(p->sy, q->sy);
            if (overlap_w <= 0 || overlap_h <= 0) continue;
            if (is_menu_strip(p) && is_menu_strip(q) && overlap_h == 1) continue;
            ADD_FAILURE() << p->name << " overlaps " << q->name;
        }
}

TEST(SkinLayoutTest, panel_controls_normal_looks_are_the_panel_at_their_place) {
    // The unticked box, the digit field and the folder button are not pieces
    // of their own: they are the panel background where the controls sit.
    auto panel_source = [](int x, int y, int *sx, int *sy) {
        *sx = SKIN_PANEL.sx + x - SKIN_PANEL.dx;
        *sy = SKIN_PANEL.sy + y - SKIN_PANEL.dy;
    };
    int sx, sy;
    panel_source(CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y, &sx, &sy);
    EXPECT_EQ(sx, SKIN_CHECK_OFF.sx);
    EXPECT_EQ(sy, SKIN_CHECK_OFF.sy);
    panel_source(SKIN_MAX_FIELD.dx, SKIN_MAX_FIELD.dy, &sx, &sy);
    EXPECT_EQ(sx, SKIN_MAX_FIELD.sx);
    EXPECT_EQ(sy, SKIN_MAX_FIELD.sy);
    panel_source(SKIN_FOLDER_BUTTON.dx, SKIN_FOLDER_BUTTON.dy, &sx, &sy);
    EXPECT_EQ(sx, SKIN_FOLDER_BUTTON.sx);
    EXPECT_EQ(sy, SKIN_FOLDER_BUTTON.sy);
}

TEST(WindowShapeTest, nine_rectangles_cut_stepped_corners) {
    uint8_t data[REGION_DATA_SIZE + 8];
    std::memset(data, 0xCC, sizeof data);
    PlatRect client = {0, 0, WINDOW_WIDTH, WINDOW_HEIGHT};
    build_region(&client, data);
    int32_t header[8];
    std::memcpy(header, data, sizeof header);
    EXPECT_EQ(header[0], 32);
    EXPECT_EQ(header[1], 1);
    EXPECT_EQ(header[2], 9);
    EXPECT_EQ(header[3], 144);
    EXPECT_EQ(header[6], 288);
    EXPECT_EQ(header[7], 417);
    EXPECT_EQ(data[REGION_DATA_SIZE], 0xCC) << "176 bytes, no more";

    PlatRect rects[REGION_RECT_COUNT];
    std::memcpy(rects, data + 32, sizeof rects);
    EXPECT_EQ(rects[0].left, 4);
    EXPECT_EQ(rects[0].right, 284);
    EXPECT_EQ(rects[6].left, 287);
    EXPECT_EQ(rects[6].bottom, 413);
    auto inside = [&](int x, int y) {
        for (const PlatRect &r : rects)
            if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
        return false;
    };
    const int cut[][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {0, 2}, {0, 3}};
    const int kept[][2] = {{4, 0}, {2, 1}, {1, 2}, {0, 4}};
    for (auto &p : cut) {
        // the same pixel mirrored into each corner
        EXPECT_FALSE(inside(p[0], p[1])) << p[0] << "," << p[1];
        EXPECT_FALSE(inside(287 - p[0], p[1]));
        EXPECT_FALSE(inside(p[0], 416 - p[1]));
        EXPECT_FALSE(inside(287 - p[0], 416 - p[1]));
    }
    for (auto &p : kept) {
        EXPECT_TRUE(inside(p[0], p[1])) << p[0] << "," << p[1];
        EXPECT_TRUE(inside(287 - p[0], 416 - p[1]));
    }
    int covered = 0;
    for (int y = 0; y < 417; y++)
        for (int x = 0; x < 288; x++) covered += inside(x, y);
    EXPECT_EQ(covered, 288 * 417 - 4 * 8);
}
