// display_fixture.h - a shown window with the real skin, the fake platform's
// fonts and an empty download list, for the painting tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/display.h"
#include "display/skin_layout.h"
#include "engine/download_table.h"
#include "platform/fake/fake_platform.h"
#include "resources/resources.h"

class DisplayTest : public ::testing::Test {
protected:
    // Where the fake window sits on the screen.
    static const int WINDOW_LEFT = 100, WINDOW_TOP = 200;

    void SetUp() override {
        fake_reset();
        reset_app_state();
        restore_scrambled_table();
        unscramble_first_batch();
        unscramble_second_batch();
        AppState &s = app_state;
        plat_register_class("Quorvax", [](plat_window, uint32_t, uint32_t, int32_t) -> int32_t { return 0; },
                            PLAT_CURSOR_ARROW, 0);
        s.window = plat_create_window("Quorvax", "Quorvax 1.0", WINDOW_LEFT, WINDOW_TOP, WINDOW_WIDTH,
                                      WINDOW_HEIGHT);
        ASSERT_NE(s.window, 0u);
        s.back_buffer = plat_create_back_buffer(s.window, WINDOW_WIDTH, WINDOW_HEIGHT);
        ASSERT_NE(s.back_buffer, nullptr);
        s.skin_bitmap = (uint32_t *)calloc((size_t)476 * SKIN_HEIGHT, 4);
        s.skin_pixels = (uint32_t *)malloc(SKIN_PIXEL_BUFFER_SIZE);
        uint32_t size = 0;
        const uint8_t *resource = find_skin_resource(&size);
        ASSERT_NE(resource, nullptr);
        ASSERT_EQ(decode_skin(resource, size / 4, s.skin_pixels, SKIN_PIXEL_BUFFER_SIZE / 4),
                  (uint32_t)SKIN_WIDTH * SKIN_HEIGHT);
        upload_skin();
        free(s.skin_pixels);
        s.skin_pixels = nullptr;
        s.font_serif = plat_create_font("MS Serif", 11, 400);
        s.font_bold = plat_create_font("Arial", 12, 800);
        s.font_small = plat_create_font("Small Fonts", 9, 400);
        s.font_text = plat_create_font("Thoma", 11, 400);
        s.visible_rows = (int32_t *)calloc(VISIBLE_ROWS_MAX, sizeof(int32_t));
        ASSERT_TRUE(allocate_table(0));
        s.window_shown = 1;
        pointer_at(3, 300);   // on the left frame: over nothing
    }

    void TearDown() override {
        AppState &s = app_state;
        if (s.back_buffer) plat_delete_back_buffer(s.window);
        free(s.skin_bitmap);
        free(s.visible_rows);
        s.back_buffer = s.skin_bitmap = nullptr;
        s.visible_rows = nullptr;
        free_table();
        restore_scrambled_table();
    }

    // Puts the pointer at a client position.
    void pointer_at(int x, int y) { fake_set_cursor(WINDOW_LEFT + x, WINDOW_TOP + y); }

    // Appends an item and lists it; returns its index.
    int add_item(uint32_t state, uint32_t total, uint32_t done, uint32_t speed, const char *address) {
        int i = downloads.item_count++;
        DownloadItem &it = downloads.items[i];
        std::memset(&it, 0, sizeof it);
        it.state = state;
        it.totalSize = total;
        it.doneSize = done;
        it.speed = speed;
        std::strncpy(it.pageAddress, address, sizeof it.pageAddress - 1);
        app_state.visible_rows[app_state.visible_count++] = i;
        return i;
    }

    uint32_t pixel(int x, int y) const { return app_state.back_buffer[(size_t)y * WINDOW_WIDTH + x]; }

    // Pixels of the back buffer block at (x, y) that differ from the skin
    // piece; rows listed in skip_rows are left out (text markers).
    int block_mismatches(const SkinPiece &piece, int x, int y, std::vector<int> skip_rows = {}) const {
        int bad = 0;
        for (int r = 0; r < piece.h; r++) {
            bool skip = false;
            for (int k : skip_rows) skip = skip || k == y + r;
            if (skip || y + r >= WINDOW_HEIGHT) continue;
            for (int c = 0; c < piece.w && x + c < WINDOW_WIDTH; c++)
                bad += pixel(x + c, y + r) !=
                       app_state.skin_bitmap[(size_t)(piece.sy + r) * 476 + (size_t)(piece.sx + c)];
        }
        return bad;
    }

    // The recorded text call with this text, or null.
    const FakeTextCall *text_call(const std::string &text) const {
        for (const FakeTextCall &c : fake_text_calls())
            if (c.text == text) return &c;
        return nullptr;
    }
    int text_calls_starting(const std::string &prefix) const {
        int n = 0;
        for (const FakeTextCall &c : fake_text_calls()) n += c.text.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    static int row_top(int k) { return 62 + 12 * k; }   // with list_offset 0
};
