// The window procedure driven with message sequences as the system delivers
// them: complete and incomplete clicks, the capture button, the item menu,
// the hidden window, the heartbeat's schedule, scrolling, dragging, double
// clicks, points outside the window, the capture shortcut, the settings
// panel's opening and closing, and showing the window again (from the tray
// or at a second start).
#include "ui/ui_fixture.h"

#include "ui/list_view.h"

namespace {

struct WindowProcTest : UiFixture {
    static int tray_modifies() {
        int n = 0;
        for (const FakeTrayCall &c : fake_tray_calls()) n += c.command == PLAT_TRAY_MODIFY;
        return n;
    }
    static bool quit_posted() {
        PlatMessage m;
        return plat_get_message(&m) == 0;
    }
    // The y of a point inside list row k with the list at its top.
    static int row_y(int k) { return 63 + 12 * k + 5; }
};

}  // namespace

TEST_F(WindowProcTest, a_click_completes_only_on_the_element_it_was_pressed_on) {
    open();
    move(260, 9);
    EXPECT_EQ(3, app_state.hover_id);
    EXPECT_TRUE(shows(254, 3, 13, 13, 181, 422));   // the hide button's hover look
    press(260, 9);
    EXPECT_TRUE(shows(254, 3, 13, 13, 178, 459));   // pressed
    move(100, 20);                                   // off the button...
    EXPECT_EQ(0, app_state.hover_id);
    release(100, 20);                                // ...and released there: nothing
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_TRUE(fake_window().shown);

    // Off and back on before the release: the click completes.
    move(260, 9);
    press(260, 9);
    move(100, 20);
    move(260, 9);
    release(260, 9);
    EXPECT_EQ(0, app_state.window_shown);
    EXPECT_FALSE(fake_window().shown);
    EXPECT_FALSE(quit_posted());

    // A press on no element never completes a click on the one released on.
    tray(513);
    ASSERT_EQ(1, app_state.window_shown);
    move(150, 20);
    press(150, 20);
    move(260, 9);
    release(260, 9);
    EXPECT_EQ(1, app_state.window_shown);

    // The quit button ends the program through the quit message.
    click(275, 9);
    EXPECT_EQ(0, app_state.window_shown);
    EXPECT_TRUE(quit_posted());
}

TEST_F(WindowProcTest, the_capture_button_takes_an_offer_and_nothing_else) {
    open();
    move(30, 29);
    EXPECT_EQ(0, app_state.hover_id);   // no offer: the button is not there to hover
    click(30, 29);
    EXPECT_EQ(0, downloads.item_count);

    offer("watch this: http://reelbox.test/watch/sunrise now");
    ASSERT_EQ(1, app_state.offer_pending);
    EXPECT_STREQ("reelbox.test/watch/sunrise", downloads.items[0].pageAddress);
    move(55, 29);   // 25 pixels from the centre: outside the circle
    EXPECT_EQ(0, app_state.hover_id);
    move(54, 29);   // 24: inside
    EXPECT_EQ(1, app_state.hover_id);
    EXPECT_TRUE(shows(4, 3, 52, 53, 118, 420));   // offered and hovered
    press(54, 29);
    EXPECT_EQ(1, app_state.capture_pressed);
    EXPECT_TRUE(shows(4, 3, 52, 53, 3, 419));     // pressed
    release(54, 29);
    ASSERT_EQ(1, downloads.item_count);
    EXPECT_EQ((uint32_t)Analysing, item(0).state);
    EXPECT_EQ(1u, stored_count());
    EXPECT_EQ(std::string("reelbox.test/watch/sunrise"), list_bytes().c_str() + record_at(0) + 52);
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(nullptr, fake_clipboard());   // the capture ended the offer
    EXPECT_EQ(62, app_state.note_x);
    EXPECT_EQ(27, app_state.note_y);
    // The new row is in view: the thumb stays at the top of its track.
    EXPECT_EQ(70, app_state.thumb_top);
    EXPECT_EQ(0, app_state.list_offset);

    // The same address again: the note, and nothing added.
    offer("reelbox.test/watch/sunrise");
    click(30, 29);
    EXPECT_EQ(1, downloads.item_count);
    EXPECT_EQ(1u, stored_count());
    EXPECT_EQ(40, app_state.note_ticks);
    EXPECT_EQ(0, downloads.selected_item);
}

TEST_F(WindowProcTest, the_menu_opens_inside_the_window_and_acts_on_the_row_it_was_opened_on) {
    open(30);
    // Near the bottom right it moves left by its width and up by its height.
    right_press(250, 350);
    ASSERT_EQ(1, app_state.menu_open);
    EXPECT_EQ(180, app_state.menu_x);
    EXPECT_EQ(272, app_state.menu_y);
    EXPECT_EQ(23, downloads.selected_item);   // the row under the press
    move(190, 272 + 17);
    EXPECT_EQ(2, app_state.menu_entry);       // "stop"
    press(190, 272 + 17);
    release(190, 272 + 17);
    EXPECT_EQ(0, app_state.menu_open);
    EXPECT_EQ((uint32_t)Stopped, item(23).state);
    EXPECT_EQ((uint32_t)Stopped, stored(23, REC_STATE));

    // A right press outside the list closes the menu.
    right_press(100, 100);
    ASSERT_EQ(1, app_state.menu_open);
    right_press(280, 20);
    EXPECT_EQ(0, app_state.menu_open);

    // A removal between opening the menu and choosing its entry: the menu
    // closes and the selection stays on its download.
    right_press(100, row_y(5));
    ASSERT_EQ(5, downloads.selected_item);
    app_state.hovered_item = 6;
    item(2).state = Finished;
    app_state.auto_remove_finished = 1;
    remove_finished_items();
    EXPECT_EQ(0, app_state.menu_open);
    ASSERT_EQ(4, downloads.selected_item);
    EXPECT_STREQ("reelbox.test/watch/5", item(4).pageAddress);
    EXPECT_EQ(5, app_state.hovered_item);

    // "Remove" takes the chosen row out of the list and the list file.
    right_press(100, row_y(3));
    ASSERT_EQ(3, downloads.selected_item);
    const std::string chosen = item(3).pageAddress;
    const int menu_y = app_state.menu_y;
    move(110, menu_y + 40);
    EXPECT_EQ(3, app_state.menu_entry);
    press(110, menu_y + 40);
    release(110, menu_y + 40);
    ASSERT_EQ(28, downloads.item_count);
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ(28u, stored_count());
    for (int i = 0; i < 28; i++) EXPECT_NE(chosen, item(i).pageAddress);
}

TEST_F(WindowProcTest, a_press_is_the_rows_only_where_nothing_lies_over_the_list) {
    open(20);
    click(100, row_y(22));   // a row with no item: nothing selected
    right_press(100, row_y(22));
    EXPECT_EQ(0, app_state.menu_open);
    EXPECT_EQ(-1, downloads.selected_item);

    // Over the offline notice the press belongs to the notice.
    app_state.offline_notice = 1;
    click(120, 200);
    right_press(120, 200);
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ(0, app_state.menu_open);
    app_state.offline_notice = 0;

    // Over an entry of the open menu a right press opens no menu for the
    // row underneath, and a left press runs the entry, not a selection.
    right_press(100, row_y(2));
    ASSERT_EQ(1, app_state.menu_open);
    const int menu_x = app_state.menu_x, menu_y = app_state.menu_y;
    right_press(110, row_y(4));   // over the menu's third entry, on row 4
    EXPECT_EQ(2, downloads.selected_item);
    EXPECT_EQ(menu_x, app_state.menu_x);
    EXPECT_EQ(menu_y, app_state.menu_y);

    // With the settings panel open no row is selected or opened.
    click(70, 35);
    ASSERT_EQ(1, app_state.settings_open);
    right_press(120, row_y(10));
    EXPECT_EQ(0, app_state.menu_open);
    EXPECT_EQ(2, downloads.selected_item);
}

TEST_F(WindowProcTest, a_hidden_window_draws_nothing_and_ignores_the_pointer_but_runs_the_engine) {
    open(3);
    click(260, 9);
    ASSERT_EQ(0, app_state.window_shown);
    const int presents = fake_window().present_count;
    const int begun = fake_window().begin_paint_count;
    main_window_proc(app_state.window, PLAT_WM_PAINT, 0, 0);
    EXPECT_EQ(begun + 1, fake_window().begin_paint_count);   // validated all the same
    EXPECT_EQ(presents, fake_window().present_count);

    const int hover = app_state.hover_id;
    move(30, 29);
    click(100, row_y(1));
    right_press(100, row_y(2));
    EXPECT_EQ(hover, app_state.hover_id);
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ(0, app_state.menu_open);

    const uint32_t ticks_before = app_state.tick_count;
    ticks(30);
    EXPECT_EQ(ticks_before + 30, app_state.tick_count);
    EXPECT_LE(app_state.now_tick - (uint32_t)app_state.sample_tick, 500u);   // the engine sampled
    EXPECT_EQ(presents, fake_window().present_count);
}

TEST_F(WindowProcTest, the_heartbeat_keeps_its_schedule) {
    open();
    ASSERT_EQ(0u, app_state.tick_count);
    ticks(1);
    EXPECT_EQ(1, app_state.save_on_exit);
    EXPECT_EQ(UI_WINDOW_X, app_state.window_x);
    ticks(21);
    EXPECT_EQ(0, tray_modifies());
    ticks(1);   // the 23rd
    EXPECT_EQ(1, tray_modifies());
    ticks(64);  // the 87th
    EXPECT_EQ(2, tray_modifies());

    // The position is noted on every second message.
    plat_move_window(app_state.window, 300, 200, 288, 417);
    ticks(1);   // the 88th
    EXPECT_EQ(UI_WINDOW_X, app_state.window_x);
    ticks(1);
    EXPECT_EQ(300, app_state.window_x);
    EXPECT_EQ(200, app_state.window_y);

    // The duplicate note stays 40 messages, then the face shows again.
    app_state.note_ticks = 40;
    app_state.note_x = 120;
    app_state.note_y = 250;
    ticks(39);
    EXPECT_EQ(1, app_state.note_ticks);
    EXPECT_TRUE(shows(120, 250, 96, 18, 360, 248));
    ticks(1);
    EXPECT_EQ(0, app_state.note_ticks);
    EXPECT_TRUE(shows(120, 250, 96, 18, 120, 250));

    // A timer message that comes without the main loop's step (inside a
    // modal dialog's loop) brings the clock up to date first.
    fake_advance(60000);
    main_window_proc(app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0);
    EXPECT_EQ(plat_tick(), app_state.now_tick);
}

TEST_F(WindowProcTest, the_wheel_and_the_arrows_scroll_by_rows_within_the_track) {
    open(30);   // 30 rows: (360 - 300) / 279 list pixels per thumb pixel
    set_scroll_thumb(0, 349, 1);
    app_state.menu_open = 1;
    wheel(1);   // a notch away from the user: up by 3 rows' worth
    EXPECT_EQ(349 - 167, app_state.thumb_top);
    EXPECT_EQ(0, app_state.menu_open);
    wheel(-5);
    EXPECT_EQ(349, app_state.thumb_top);   // the track's end holds it
    EXPECT_EQ(60, app_state.list_offset);  // the last 25 rows

    // An arrow held down: one row at the press, again at the 15th tick,
    // then every second tick, until the pointer leaves it.
    set_scroll_thumb(0, 70, 1);
    move(278, 395);
    press(278, 395);
    EXPECT_EQ(70 + 55, app_state.thumb_top);
    ticks(14);
    EXPECT_EQ(70 + 55, app_state.thumb_top);
    ticks(1);
    EXPECT_EQ(70 + 110, app_state.thumb_top);
    ticks(2);
    EXPECT_EQ(70 + 165, app_state.thumb_top);
    move(150, 200);
    ticks(6);
    EXPECT_EQ(70 + 165, app_state.thumb_top);
    release(150, 200);
}

TEST_F(WindowProcTest, scrolling_a_list_that_fits_or_a_very_long_one_stays_bounded) {
    open(25);   // every row fits: nothing scrolls, and nothing divides by 0
    wheel(-3);
    click(278, 395);
    click(278, 64);
    EXPECT_EQ(70, app_state.thumb_top);
    EXPECT_EQ(0, app_state.list_offset);

    // The thumb let go while everything fits returns to the top.
    app_state.thumb_grab = 5;
    release(278, 200);
    EXPECT_EQ(70, app_state.thumb_top);
    EXPECT_EQ(-1, app_state.thumb_grab);
}

TEST_F(WindowProcTest, a_very_long_list_still_moves_a_pixel_per_step) {
    open(1000);
    wheel(-1);   // 12 / 41.9 x 3 is below one pixel: one pixel all the same
    EXPECT_EQ(71, app_state.thumb_top);
    click(278, 395);
    EXPECT_EQ(72, app_state.thumb_top);
    EXPECT_GT(app_state.list_offset, 0);
}

TEST_F(WindowProcTest, dragging_the_title_strip_moves_the_window_until_the_button_is_up) {
    open();
    fake_set_key(PLAT_VK_LBUTTON, 1);
    move(100, 10);
    press(100, 10);
    ASSERT_EQ(1, app_state.dragging);
    // The pointer moves 30 right and 20 down: the window follows.
    fake_set_cursor(UI_WINDOW_X + 130, UI_WINDOW_Y + 30);
    main_window_proc(app_state.window, PLAT_WM_MOUSEMOVE, 1, lparam(130, 30));
    EXPECT_EQ(UI_WINDOW_X + 30, fake_window().x);
    EXPECT_EQ(UI_WINDOW_Y + 20, fake_window().y);
    EXPECT_EQ(288, fake_window().width);
    // Outside the window the timer keeps it following.
    fake_set_cursor(600, 500);
    ticks(1);
    EXPECT_EQ(500, fake_window().x);
    EXPECT_EQ(490, fake_window().y);
    // The button let go anywhere ends the drag.
    fake_set_key(PLAT_VK_LBUTTON, 0);
    ticks(1);
    EXPECT_EQ(0, app_state.dragging);
    fake_set_cursor(700, 600);
    ticks(1);
    EXPECT_EQ(500, fake_window().x);
    // A press outside the title strip drags nothing.
    press(100, 20);
    EXPECT_EQ(0, app_state.dragging);
}

TEST_F(WindowProcTest, a_double_click_does_not_run_a_command_twice) {
    open(30);
    double_click(150, 410);   // the web link opens once
    ASSERT_EQ(1u, fake_shell_calls().size());
    EXPECT_EQ("http://quorvax.example", fake_shell_calls()[0].target);

    // A row: the double press opens the file of the download its first
    // press selected.
    strcpy(item(1).fileName, "one.flv");
    double_click(100, row_y(1));
    EXPECT_EQ(1, downloads.selected_item);
    ASSERT_EQ(2u, fake_shell_calls().size());
    EXPECT_EQ(dir.file("one.flv"), fake_shell_calls()[1].target);

    // The list moved under the pointer between the two presses: the
    // double press selects what is there now and opens nothing.
    click(100, row_y(2));
    ASSERT_EQ(2, downloads.selected_item);
    wheel(-1);
    send(PLAT_WM_LBUTTONDBLCLK, 100, row_y(2), 1);
    release(100, row_y(2));
    EXPECT_NE(2, downloads.selected_item);
    EXPECT_EQ(2u, fake_shell_calls().size());

    // A double press on a menu entry: the entry runs once and nothing else.
    wheel(10);
    right_press(100, row_y(4));
    ASSERT_EQ(4, downloads.selected_item);
    const int entry_y = app_state.menu_y + 5;
    double_click(110, entry_y);
    EXPECT_EQ((uint32_t)Connecting, item(4).state);   // "start now"
    EXPECT_EQ(1, item(4).userStarted);
    EXPECT_EQ(4, downloads.selected_item);
    EXPECT_EQ(2u, fake_shell_calls().size());

    // The settings button: opened by the first click, not closed by the
    // second release.
    double_click(70, 35);
    EXPECT_EQ(1, app_state.settings_open);
}

TEST_F(WindowProcTest, points_outside_the_window_hit_nothing) {
    open();
    // x 65535, y 0: far right of the quit and hide circles, whose squares
    // must not wrap round into them.
    for (uint32_t message : {PLAT_WM_MOUSEMOVE, PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONUP})
        main_window_proc(app_state.window, message, 1, 0x0000FFFF);
    EXPECT_EQ(0, app_state.hover_id);
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_FALSE(quit_posted());
    click(300, 9);
    click(270, 0xFFFF);
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_FALSE(quit_posted());
}

TEST_F(WindowProcTest, enter_or_space_presses_the_capture_button_during_an_offer) {
    open();
    offer("reelbox.test/watch/keyed");
    ASSERT_EQ(1, app_state.offer_pending);
    fake_set_key(PLAT_VK_SPACE, 1);
    ticks(1);
    EXPECT_EQ(1, app_state.offer_key_down);
    EXPECT_TRUE(shows(4, 3, 52, 53, 3, 419));
    fake_set_key(PLAT_VK_SPACE, 0);
    ticks(1);
    EXPECT_EQ(0, app_state.offer_key_down);
    EXPECT_EQ(0, app_state.offer_pending);
    ASSERT_EQ(1, downloads.item_count);
    EXPECT_STREQ("reelbox.test/watch/keyed", item(0).pageAddress);
    EXPECT_EQ(1u, stored_count());
}

TEST_F(WindowProcTest, the_settings_panel_opens_and_applies_where_the_pointer_leaves_it) {
    open();
    click(70, 35);
    ASSERT_EQ(1, app_state.settings_open);
    EXPECT_EQ(0, app_state.hover_id);
    app_state.proxy_edit_on = 1;
    const int32_t edited[5] = {127, 0, 0, 1, 8080};
    for (int k = 0; k < 5; k++) app_state.proxy_edit[k] = edited[k];

    // A right press inside the larger box does nothing; outside it applies
    // and saves, and the panel stays open.
    right_press(150, 230);
    EXPECT_EQ(0, app_state.use_proxy);
    right_press(150, 300);
    EXPECT_EQ(1, app_state.settings_open);
    EXPECT_EQ(1, app_state.use_proxy);
    EXPECT_EQ(8080, app_state.proxy_port);
    std::string bytes = list_bytes();
    EXPECT_EQ(1, bytes[15]);
    EXPECT_EQ(8080u, get32(bytes, 16));
    EXPECT_EQ(std::string("\x7f\x00\x00\x01", 4), bytes.substr(20, 4));

    // A left release outside the panel closes it and saves.
    app_state.proxy_edit[4] = 9090;
    click(150, 300);
    EXPECT_EQ(0, app_state.settings_open);
    EXPECT_EQ(9090u, get32(list_bytes(), 16));
    // The element left behind is no element: moving on changes no look.
    EXPECT_EQ(-1, app_state.hover_id);
}

// The hidden window brought back: shown, active, nothing hovered or pressed
// from before, drawn again with the hide button in its plain look.
static void expect_shown_whole(int presents_before) {
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_TRUE(fake_window().shown);
    EXPECT_TRUE(fake_window().activated);
    EXPECT_EQ(0, app_state.hover_id);
    EXPECT_EQ(0, app_state.press_id);
    EXPECT_GT(fake_window().present_count, presents_before);
    EXPECT_TRUE(UiFixture::shows(254, 3, 13, 13, 254, 3));
}

TEST_F(WindowProcTest, showing_the_window_again_forgets_the_hover_and_draws_it_whole) {
    open();
    move(260, 9);
    click(260, 9);
    ASSERT_EQ(0, app_state.window_shown);
    tray(0x0204);   // a right press on the icon: nothing
    EXPECT_EQ(0, app_state.window_shown);
    const int presents = fake_window().present_count;
    tray(515);
    expect_shown_whole(presents);
}

// A later start on the same list knocks (the backend posts the message);
// the window comes to the front as a press on the tray icon brings it,
// whether it was hidden or only behind another window.
TEST_F(WindowProcTest, a_second_start_on_the_list_brings_the_window_to_the_front) {
    open(3);
    ASSERT_EQ(1u, fake_instance_listens().size());
    EXPECT_EQ(dir.file("list.o"), fake_instance_listens()[0].key);
    EXPECT_EQ(app_state.window, fake_instance_listens()[0].window);
    EXPECT_EQ(SECOND_START_MESSAGE, fake_instance_listens()[0].message);
    // Retrieves the knock and hands it on as the main loop does.
    auto deliver = [] {
        PlatMessage msg;
        ASSERT_EQ(1, plat_get_message(&msg));
        ASSERT_EQ(SECOND_START_MESSAGE, msg.message);
        app_state.current_message = msg;
        per_message_step(nullptr, nullptr);
        plat_dispatch_message(&msg);
    };

    move(260, 9);
    click(260, 9);   // hidden to the tray
    ASSERT_EQ(0, app_state.window_shown);
    ASSERT_FALSE(fake_window().shown);
    fake_deactivate_window();
    app_state.press_id = 3;   // the hide button, as left by the hiding press
    const int presents = fake_window().present_count;
    ASSERT_EQ(1, fake_knock());
    deliver();
    expect_shown_whole(presents);

    // Shown, but another program has the focus: activated again.
    fake_deactivate_window();
    const int shows_before = fake_window().show_count;
    ASSERT_EQ(1, fake_knock());
    deliver();
    EXPECT_TRUE(fake_window().activated);
    EXPECT_EQ(shows_before + 1, fake_window().show_count);

    // Once the window is gone nothing listens any more.
    shutdown();
    started = false;
    EXPECT_FALSE(fake_instance_listens()[0].active);
    EXPECT_EQ(0, fake_knock());
}

TEST_F(WindowProcTest, the_first_paint_lights_the_row_under_the_pointer_only) {
    fake_set_cursor(500, 500);   // away from the window at (0, 0)
    start({engine_item("reelbox.test/watch/a", 0, Queued), engine_item("reelbox.test/watch/b", 0, Queued)}, 0);
    EXPECT_EQ(-1, app_state.hovered_item);
    shutdown();
    started = false;
    fake_set_cursor(100, row_y(1));
    start({engine_item("reelbox.test/watch/a", 0, Queued), engine_item("reelbox.test/watch/b", 0, Queued)}, 0);
    EXPECT_EQ(1, app_state.hovered_item);
}
