// Drawing primitives on the back buffer.
#include "display_fixture.h"

TEST_F(DisplayTest, lines_stop_one_pixel_short_of_their_end_point) {
    draw_line(10, 10, 20, 10);
    EXPECT_EQ(pixel(10, 10), GRID_PEN);
    EXPECT_EQ(pixel(19, 10), GRID_PEN);
    EXPECT_EQ(pixel(20, 10), 0u);
    draw_line(5, 30, 5, 20);   // drawn upwards
    EXPECT_EQ(pixel(5, 30), GRID_PEN);
    EXPECT_EQ(pixel(5, 21), GRID_PEN);
    EXPECT_EQ(pixel(5, 20), 0u);
    draw_line(40, 40, 40, 40);   // a line to itself draws nothing
    EXPECT_EQ(pixel(40, 40), 0u);
    draw_line(280, 5, 300, 5);   // off the edge: clipped, not written past it
    EXPECT_EQ(pixel(287, 5), GRID_PEN);
    EXPECT_EQ(pixel(0, 6), 0u);
}

TEST_F(DisplayTest, fills_exclude_right_and_bottom_and_clip_to_the_buffer) {
    PlatRect r = {10, 20, 13, 22};
    fill_rect(&r, BRUSH_TOTALS_BAR);
    EXPECT_EQ(pixel(12, 21), BRUSH_TOTALS_BAR);
    EXPECT_EQ(pixel(13, 21), 0u);
    EXPECT_EQ(pixel(12, 22), 0u);
    PlatRect edge = {-5, -5, 2, 2};
    fill_rect(&edge, BRUSH_HOVERED_ROW);
    EXPECT_EQ(pixel(0, 0), BRUSH_HOVERED_ROW);
    EXPECT_EQ(pixel(2, 0), 0u);
    PlatRect empty = {50, 50, 40, 60};
    fill_rect(&empty, BRUSH_HOVERED_ROW);
    EXPECT_EQ(pixel(45, 55), 0u);
}

TEST_F(DisplayTest, piece_copies_are_exact_and_clipped_at_the_window_edge) {
    // The frame strip below the list is 23 rows from y 397: only 20 fit.
    copy_skin_piece(0, 397, 288, 23, 0, 397);
    EXPECT_EQ(block_mismatches(SKIN_FRAME_BELOW_LIST, 0, 397), 0);
    // A piece placed partly left of and above the window.
    copy_skin_piece(-10, -5, 70, 78, 291, 327);
    EXPECT_EQ(pixel(0, 0), app_state.skin_bitmap[(size_t)(327 + 5) * 476 + 291 + 10]);
    // A source reaching past the skin bitmap copies only what exists.
    std::memset(app_state.back_buffer, 0, (size_t)WINDOW_WIDTH * WINDOW_HEIGHT * 4);
    copy_skin_piece(0, 0, 20, 20, 470, 480);
    EXPECT_EQ(pixel(5, 6), app_state.skin_bitmap[(size_t)486 * 476 + 475]);
    EXPECT_EQ(pixel(6, 6), 0u);
    EXPECT_EQ(pixel(5, 7), 0u);
}

TEST_F(DisplayTest, texts_go_to_the_platform_with_the_selected_font_and_colour) {
    select_font(app_state.font_bold);
    set_text_colour(0x123456);
    draw_text(30, 40, "abcdef", 3);
    ASSERT_EQ(fake_text_calls().size(), 1u);
    EXPECT_EQ(fake_text_calls()[0].text, "abc");
    EXPECT_EQ(fake_text_calls()[0].x, 30);
    EXPECT_EQ(fake_text_calls()[0].colour, 0x123456u);
    EXPECT_EQ(fake_text_calls()[0].font, app_state.font_bold);
    draw_size(1536, 100, 50, SIZE_RIGHT_ALIGN | SIZE_TENTHS | SIZE_LONG_UNITS);
    ASSERT_EQ(fake_text_calls().size(), 2u);
    EXPECT_EQ(fake_text_calls()[1].text, "1,5kb");
    EXPECT_EQ(fake_text_calls()[1].x, 100 - 5 * FAKE_CHAR_WIDTH);
    draw_large_size(5000000000.0, 100, 60, SIZE_TENTHS);
    EXPECT_EQ(fake_text_calls()[2].text, "4,6gb");
    EXPECT_EQ(fake_text_calls()[2].x, 100);
}
