// Painting the window, observed in the back buffer and in the text calls
// that reach the (fake) platform.
#include "display_fixture.h"

namespace {

const char ADDRESS_A[] = "http://reelbox.test/v/alpha";
const char ADDRESS_B[] = "http://redclips.test/watch/beta";
const char ADDRESS_C[] = "http://filer2.test/gamma";

int right_aligned_x(int end, const std::string &text) { return end - FAKE_CHAR_WIDTH * (int)text.size(); }

}  // namespace

TEST_F(DisplayTest, rows_show_address_size_and_speed_in_the_colour_of_their_state) {
    add_item(Downloading, 2000000, 500000, 300000, ADDRESS_A);
    add_item(Queued, 0, 0, 0, ADDRESS_B);
    add_item(Finished, 1536, 1536, 900, ADDRESS_C);
    paint_list();

    const FakeTextCall *a = text_call(ADDRESS_A);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->x, 9);
    EXPECT_EQ(a->y, row_top(0));
    EXPECT_EQ(a->colour, 0x202090u);
    EXPECT_EQ(a->font, app_state.font_small);
    const FakeTextCall *size = text_call("1,9m");   // 2,000,000 bytes
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->x, right_aligned_x(247, "1,9m"));
    EXPECT_EQ(size->y, row_top(0));
    const FakeTextCall *speed = text_call("585k");   // 2 x 300,000 bytes per second, no tenths
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->x, right_aligned_x(270, "585k"));

    // Unknown size: the first four characters of the placeholder.
    const FakeTextCall *b = text_call(ADDRESS_B);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->colour, 0x606060u);
    const FakeTextCall *placeholder = text_call(std::string(string_entry(STR_SIZE_PLACEHOLDER), 4));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(placeholder->x, 236);
    EXPECT_EQ(placeholder->y, row_top(1));

    // Finished: its own colour, its size, and no speed (only Downloading shows one).
    const FakeTextCall *c = text_call(ADDRESS_C);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->colour, 0x9A9A00u);
    EXPECT_NE(text_call("1,5k"), nullptr);
    EXPECT_EQ(text_call("1k"), nullptr) << "a finished item shows no speed";
}

TEST_F(DisplayTest, speeds_from_half_a_million_bytes_per_half_second_show_a_tenth) {
    add_item(Downloading, 100000000, 0, 600000, ADDRESS_A);
    paint_list();
    const FakeTextCall *speed = text_call("1,1m");   // 1,200,000 bytes per second
    ASSERT_NE(speed, nullptr);
    // In the speed column of the first row, ending at its right edge.
    EXPECT_EQ(speed->x, 270 - 4 * FAKE_CHAR_WIDTH);
    EXPECT_EQ(speed->y, row_top(0));
    EXPECT_EQ(speed->font, app_state.font_small);
}

TEST_F(DisplayTest, hovered_selected_and_plain_rows_take_their_brushes) {
    for (int i = 0; i < 4; i++) add_item(Queued, 0, 0, 0, ADDRESS_A);
    downloads.selected_item = 2;
    pointer_at(100, row_top(1) + 6);
    paint_list();
    EXPECT_EQ(app_state.hovered_item, 1);
    // Rows above the pointer's were painted before the hover moved to it
    // (hovered_item starts at 0); the next paint shows the new hover alone.
    EXPECT_EQ(pixel(150, row_top(0) + 5), BRUSH_HOVERED_ROW);
    paint_list();

    auto columns = [&](int k) {
        int y = row_top(k) + 5;
        return std::vector<uint32_t>{pixel(150, y), pixel(230, y), pixel(260, y)};
    };
    EXPECT_EQ(columns(0), (std::vector<uint32_t>{BRUSH_NAME_COLUMN, BRUSH_SIZE_COLUMN, BRUSH_SPEED_COLUMN}));
    EXPECT_EQ(columns(1), (std::vector<uint32_t>{BRUSH_HOVERED_ROW, BRUSH_HOVERED_ROW, BRUSH_HOVERED_ROW}));
    EXPECT_EQ(columns(2), (std::vector<uint32_t>{BRUSH_SELECTED_ROW, BRUSH_SELECTED_ROW, BRUSH_SELECTED_ROW}));

    // Hovering the selected row: selection wins.
    pointer_at(100, row_top(2) + 6);
    paint_list();
    paint_list();
    EXPECT_EQ(app_state.hovered_item, 2);
    EXPECT_EQ(columns(2)[0], BRUSH_SELECTED_ROW);
    EXPECT_EQ(columns(1)[0], BRUSH_NAME_COLUMN);
    // Separators and column lines in the grid pen.
    EXPECT_EQ(pixel(150, row_top(1) - 1), GRID_PEN);
    EXPECT_EQ(pixel(213, row_top(1) + 5), GRID_PEN);
    EXPECT_EQ(pixel(248, row_top(1) + 5), GRID_PEN);
}

TEST_F(DisplayTest, hover_is_kept_while_the_pointer_is_off_the_list_or_held_elsewhere) {
    for (int i = 0; i < 3; i++) add_item(Queued, 0, 0, 0, ADDRESS_A);
    pointer_at(100, row_top(1) + 6);
    paint_list();
    ASSERT_EQ(app_state.hovered_item, 1);
    pointer_at(280, 30);   // outside the rows
    paint_list();
    EXPECT_EQ(app_state.hovered_item, 1);
    EXPECT_EQ(pixel(150, row_top(1) + 5), BRUSH_HOVERED_ROW);
    app_state.menu_entry = 2;   // a menu entry under the pointer holds the hover
    pointer_at(100, row_top(2) + 6);
    paint_list();
    EXPECT_EQ(app_state.hovered_item, 1);
}

TEST_F(DisplayTest, progress_bar_width_follows_done_over_total) {
    add_item(Downloading, 1000, 500, 0, ADDRESS_A);    // 102 of 205 pixels
    add_item(Finished, 1000, 500, 0, ADDRESS_B);       // finished: no bar
    add_item(Stopped, 1000, 4000, 0, ADDRESS_C);       // past its total: a full bar
    add_item(Downloading, 1000, 500, 0, ADDRESS_A);
    downloads.selected_item = 3;
    app_state.hovered_item = -1;
    paint_list();
    int y0 = row_top(0) + 5, y1 = row_top(1) + 5, y2 = row_top(2) + 5, y3 = row_top(3) + 5;
    EXPECT_EQ(pixel(8, y0), BRUSH_PROGRESS);
    EXPECT_EQ(pixel(8 + 101, y0), BRUSH_PROGRESS);
    EXPECT_EQ(pixel(8 + 102, y0), BRUSH_NAME_COLUMN);
    EXPECT_EQ(pixel(8, y1), BRUSH_NAME_COLUMN);
    EXPECT_EQ(pixel(212, y2), BRUSH_PROGRESS);
    EXPECT_EQ(pixel(214, y2), BRUSH_SIZE_COLUMN);
    // The selected row's bar is highlighted, the rest of it selected.
    EXPECT_EQ(pixel(8 + 101, y3), BRUSH_PROGRESS_HIGHLIGHT);
    EXPECT_EQ(pixel(8 + 102, y3), BRUSH_SELECTED_ROW);
}

TEST_F(DisplayTest, rows_past_the_end_are_blank_and_never_highlighted) {
    add_item(Queued, 100, 0, 0, ADDRESS_A);
    add_item(Queued, 100, 0, 0, ADDRESS_B);
    app_state.visible_rows[2] = 0;   // a stale entry past the count shows nothing
    downloads.selected_item = -1;
    pointer_at(100, row_top(5) + 6);
    paint_list();
    EXPECT_LT(app_state.hovered_item, 0) << "a blank row under the pointer hovers nothing";
    EXPECT_EQ(text_calls_starting("http://"), 2);
    EXPECT_EQ(text_calls_starting("100b"), 2);
    for (int k = 2; k < 28; k++) {
        int y = row_top(k) + 5;
        if (y >= 397) break;
        EXPECT_EQ(pixel(150, y), BRUSH_NAME_COLUMN) << "row " << k;
        EXPECT_EQ(pixel(260, y), BRUSH_SPEED_COLUMN) << "row " << k;
    }
}

TEST_F(DisplayTest, scrolled_rows_are_clipped_to_the_list_band) {
    add_item(Queued, 0, 0, 0, ADDRESS_A);
    add_item(Queued, 0, 0, 0, ADDRESS_B);
    downloads.selected_item = 0;
    app_state.list_offset = 5;
    paint_list();
    // The first row keeps y 62..67; the second row's separator is at 68.
    EXPECT_EQ(pixel(150, 62), BRUSH_SELECTED_ROW);
    EXPECT_EQ(pixel(150, 67), BRUSH_SELECTED_ROW);
    EXPECT_EQ(pixel(150, 68), GRID_PEN);
    EXPECT_EQ(pixel(150, 69), BRUSH_NAME_COLUMN);
    EXPECT_EQ(text_call(ADDRESS_A)->y, 62);
    EXPECT_EQ(text_call(ADDRESS_B)->y, 69);
    // Nothing of the rows shows below the list: the frame covers it.
    EXPECT_EQ(block_mismatches(SKIN_FRAME_BELOW_LIST, 0, 397), 0);
}

TEST_F(DisplayTest, menu_shows_the_entry_under_the_pointer_highlighted) {
    add_item(Queued, 0, 0, 0, ADDRESS_A);
    app_state.menu_open = 1;
    app_state.menu_x = 100;
    app_state.menu_y = 150;
    app_state.menu_entry = 0;
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_MENU, 100, 150), 0);

    app_state.menu_entry = 4;
    paint_list();
    const SkinPiece &strip = SKIN_MENU_ENTRY[3];
    EXPECT_EQ(block_mismatches(strip, 100, 150 + 46), 0);
    EXPECT_GT(block_mismatches(SKIN_MENU, 100, 150), 0);
    // Above the strip the menu is as it was.
    SkinPiece upper = SKIN_MENU;
    upper.h = 46;
    EXPECT_EQ(block_mismatches(upper, 100, 150), 0);
}

TEST_F(DisplayTest, offline_notice_and_duplicate_note_show_over_the_list) {
    add_item(Queued, 0, 0, 0, ADDRESS_A);
    paint_list();
    EXPECT_GT(block_mismatches(SKIN_OFFLINE_NOTICE, 83, 175), 0);
    app_state.offline_notice = 1;
    app_state.note_ticks = 12;
    app_state.note_x = 30;
    app_state.note_y = 40;
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_OFFLINE_NOTICE, 83, 175), 0);
    EXPECT_EQ(block_mismatches(SKIN_DUPLICATE_NOTE, 30, 40), 0);
}

TEST_F(DisplayTest, totals_show_the_overall_bar_sizes_and_speed) {
    app_state.sum_done_size = 1.5 * 1048576;
    app_state.sum_total_size = 3.0 * 1048576;
    app_state.total_speed = 1280;   // 2560 bytes per second: no tenths below 500,000
    paint_list();
    EXPECT_EQ(pixel(94, 30), BRUSH_TOTALS_BAR);
    EXPECT_EQ(pixel(94 + 68, 44), BRUSH_TOTALS_BAR);   // 69 of 139 pixels
    EXPECT_NE(pixel(94 + 69, 40), BRUSH_TOTALS_BAR);

    const FakeTextCall *done = text_call("1,5m");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->x, right_aligned_x(154, "1,5m"));
    EXPECT_EQ(done->y, 30);
    EXPECT_EQ(done->colour, 0x305030u);
    EXPECT_EQ(done->font, app_state.font_text);
    const FakeTextCall *sep = text_call(string_entry(STR_PATH_SEPARATOR));
    ASSERT_NE(sep, nullptr);
    EXPECT_EQ(sep->x, 160);
    const FakeTextCall *total = text_call("3m");
    ASSERT_NE(total, nullptr);
    EXPECT_EQ(total->x, 170);
    const FakeTextCall *speed = text_call("2kb");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->x, right_aligned_x(278, "2kb"));
    EXPECT_EQ(speed->colour, 0x803030u);

    fake_text_calls().clear();
    app_state.sum_total_size = 5000000000.0;
    app_state.total_speed = 600000;
    paint_list();
    EXPECT_NE(text_call("4,6gb"), nullptr);
    EXPECT_NE(text_call("1,1mb"), nullptr);

    fake_text_calls().clear();
    app_state.sum_done_size = 0;
    app_state.sum_total_size = 0;   // nothing listed: an empty bar
    paint_list();
    EXPECT_NE(pixel(94, 30), BRUSH_TOTALS_BAR);
    EXPECT_NE(text_call("0b"), nullptr);
}

TEST_F(DisplayTest, hidden_window_gets_fills_but_no_pieces_texts_or_presenting) {
    add_item(Queued, 0, 0, 0, ADDRESS_A);
    app_state.hovered_item = -1;
    app_state.window_shown = 0;
    int presented = fake_window().present_count;
    refresh_window();
    EXPECT_TRUE(fake_text_calls().empty());
    EXPECT_EQ(pixel(150, row_top(0) + 5), BRUSH_NAME_COLUMN);
    EXPECT_EQ(pixel(10, 405), 0u) << "the frame piece was not copied";
    EXPECT_EQ(fake_window().present_count, presented);

    app_state.window_shown = 1;
    refresh_window();
    EXPECT_EQ(fake_window().present_count, presented + 1);
    ASSERT_EQ(fake_window().presented.size(), (size_t)WINDOW_WIDTH * WINDOW_HEIGHT);
    EXPECT_EQ(std::memcmp(fake_window().presented.data(), app_state.back_buffer,
                          (size_t)WINDOW_WIDTH * WINDOW_HEIGHT * 4),
              0);
}

TEST_F(DisplayTest, capture_button_look_follows_offer_pointer_and_press) {
    repaint_all();
    EXPECT_EQ(block_mismatches(SKIN_CAPTURE_PLAIN, 4, 3), 0);
    app_state.offer_pending = 1;
    repaint_all();
    EXPECT_EQ(block_mismatches(SKIN_CAPTURE_OFFERED, 4, 3), 0);
    pointer_at(30, 29);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_CAPTURE_OFFERED_HOVER, 4, 3), 0);
    app_state.capture_pressed = 1;
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_CAPTURE_PRESSED, 4, 3), 0);
    // Without an offer the button under the pointer is left as it is (but
    // for its lowest rows, which the strip above the list redraws).
    app_state.offer_pending = 0;
    paint_list();
    SkinPiece pressed_top = SKIN_CAPTURE_PRESSED;
    pressed_top.h = 48 - 3;
    EXPECT_EQ(block_mismatches(pressed_top, 4, 3), 0);
}

TEST_F(DisplayTest, link_arrows_and_thumb_take_their_hover_looks) {
    app_state.thumb_top = 100;
    pointer_at(150, 410);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_LINK_HOVER, 88, 405), 0);
    EXPECT_EQ(block_mismatches(SKIN_UP_NORMAL, 273, 58), 0);
    pointer_at(278, 62);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_LINK_NORMAL, 88, 405), 0);
    EXPECT_EQ(block_mismatches(SKIN_UP_HOVER, 273, 58), 0);
    pointer_at(278, 395);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_DOWN_HOVER, 273, 389), 0);
    pointer_at(278, 120);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_THUMB_GRIP_HIGHLIGHT, 273, 100 + 15), 0);
    pointer_at(3, 300);
    paint_list();
    EXPECT_EQ(block_mismatches(SKIN_THUMB_GRIP_PLAIN, 273, 100 + 15), 0);
}

TEST_F(DisplayTest, thumb_is_kept_on_the_track_and_cut_from_its_column) {
    // A piece of a thumb column: rows [row, row + h) of the column at sx.
    auto column_rows = [](int sx, int row, int h) { return SkinPiece{"thumb part", sx, row, 10, h, -1, -1}; };
    app_state.list_offset = 123;
    draw_scroll_thumb(0, 10);
    EXPECT_EQ(app_state.thumb_top, 70);
    EXPECT_EQ(block_mismatches(column_rows(290, 2, 15), 273, 70), 0);   // top cap
    EXPECT_EQ(block_mismatches(column_rows(290, 161, 10), 273, 85), 0);   // grip
    EXPECT_EQ(block_mismatches(column_rows(290, 308, 15), 273, 95), 0);   // bottom cap
    EXPECT_EQ(block_mismatches(SkinPiece{"track below", 273, 110, 10, 279, 273, 110}, 273, 110), 0);

    draw_scroll_thumb(1, 380);   // highlighted, and put back to end at 389
    EXPECT_EQ(app_state.thumb_top, 349);
    EXPECT_EQ(block_mismatches(SkinPiece{"track above", 273, 70, 10, 279, 273, 70}, 273, 70), 0);
    EXPECT_EQ(block_mismatches(column_rows(303, 2, 15), 273, 349), 0);
    EXPECT_EQ(block_mismatches(column_rows(303, 161, 10), 273, 364), 0);
    EXPECT_EQ(block_mismatches(column_rows(303, 308, 15), 273, 374), 0);

    // An odd length: the extra row goes to the bottom cap.
    app_state.thumb_length = 41;
    draw_scroll_thumb(0, 200);
    EXPECT_EQ(app_state.thumb_top, 200);
    EXPECT_EQ(block_mismatches(column_rows(290, 161, 10), 273, 215), 0);
    EXPECT_EQ(block_mismatches(column_rows(290, 307, 16), 273, 225), 0);
    EXPECT_EQ(app_state.list_offset, 123) << "drawing the thumb leaves the list where it is";
}

TEST_F(DisplayTest, settings_panel_shows_values_looks_and_numbers) {
    AppState &s = app_state;
    s.settings_open = 1;
    s.show_finished = 1;
    s.auto_remove_finished = 0;
    s.proxy_edit_on = 1;
    s.max_active_edit = 4;
    s.edit_field = 3;   // the second octet
    const int32_t values[5] = {10, 0, 0, 1, 8080};
    std::memcpy(s.proxy_edit, values, sizeof values);
    pointer_at(190, 180);   // over the port field
    paint_list();

    EXPECT_EQ(block_mismatches(SKIN_CHECK_ON, 81, 45), 0);
    EXPECT_EQ(block_mismatches(SKIN_CHECK_OFF, 81, 126), 0);
    EXPECT_EQ(block_mismatches(SKIN_CHECK_ON, 81, 156), 0);
    EXPECT_EQ(block_mismatches(SKIN_OCTET_FIELD, 100, 173, {173}), 0);
    EXPECT_EQ(block_mismatches(SKIN_OCTET_FIELD_EDIT, 119, 173, {173}), 0);
    EXPECT_EQ(block_mismatches(SKIN_PORT_FIELD_HOVER, 180, 173, {173}), 0);

    const FakeTextCall *digit = text_call("4");
    ASSERT_NE(digit, nullptr);
    EXPECT_EQ(digit->x, 84);
    EXPECT_EQ(digit->y, 69);
    EXPECT_EQ(digit->colour, 0x303030u);
    EXPECT_EQ(digit->font, s.font_bold);
    const FakeTextCall *first = text_call("10");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->x, right_aligned_x(115, "10"));
    EXPECT_EQ(first->y, 173);
    EXPECT_EQ(first->colour, 0x404040u);
    EXPECT_EQ(first->font, s.font_serif);
    const FakeTextCall *port = text_call("8080");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->x, right_aligned_x(211, "8080"));
    int edited = 0;
    for (const FakeTextCall &c : fake_text_calls())
        if (c.y == 173 && c.x == right_aligned_x(134, "0")) edited += c.colour == 0u;
    EXPECT_EQ(edited, 1) << "the field being edited is drawn in black";

    // With the proxy off the fields keep the panel's own look, the numbers stay.
    s.proxy_edit_on = 0;
    fake_text_calls().clear();
    paint_list();
    EXPECT_GT(block_mismatches(SKIN_PORT_FIELD_HOVER, 180, 173, {173}), 0);
    EXPECT_NE(text_call("8080"), nullptr);
    // Closed: nothing of the panel.
    s.settings_open = 0;
    fake_text_calls().clear();
    paint_list();
    EXPECT_EQ(text_call("8080"), nullptr);
}
