// The settings panel driven as the user drives it: the pointer through the
// window procedure, digits and Backspace through the fake key state and the
// per-message step.  Field editing and its limits, what applying puts in
// force and writes to the list file, the check boxes (a double click
// toggles twice), the show-finished box and the selection, the looks of the
// controls under the pointer, and the folder chooser: its answers, and the
// window while it is open.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/strings.h"
#include "display/window_layout.h"
#include "ui/folder_chooser.h"
#include "ui/list_view.h"
#include "ui/settings.h"
#include "ui/ui_fixture.h"

namespace {

struct Point {
    int x, y;
};

// A point inside each control, and outside the panel's two boxes.
const Point SHOW_FINISHED = {100, 50};
const Point MAX_FIELD = {100, 75};
const Point FOLDER_BUTTON = {120, 103};
const Point REMOVE_FINISHED = {100, 130};
const Point USE_PROXY = {100, 160};
const Point OCTET[4] = {{108, 179}, {127, 179}, {146, 179}, {165, 179}};
const Point PORT = {196, 179};
const Point INSIDE_RIGHT_PRESS_BOX = {150, 230};   // below the panel, inside the larger box
const Point OUTSIDE = {150, 300};

struct SettingsTest : UiFixture {
    using UiFixture::click;
    using UiFixture::double_click;
    using UiFixture::move;
    using UiFixture::right_press;
    static void click(Point p) { UiFixture::click(p.x, p.y); }
    static void move(Point p) { UiFixture::move(p.x, p.y); }
    static void double_click(Point p) { UiFixture::double_click(p.x, p.y); }
    static void right_press(Point p) { UiFixture::right_press(p.x, p.y); }

    static void open_panel() {
        UiFixture::click(70, 35);
        ASSERT_EQ(1, app_state.settings_open);
    }
    // A key pressed and let go, a timer message (and its per-message step)
    // each way, as the main loop sees it.
    static void key(int vk) {
        fake_set_key(vk, 1);
        ticks(1);
        fake_set_key(vk, 0);
        ticks(1);
    }
    // Digits, with '\b' for Backspace.
    static void type(const char *keys) {
        for (const char *c = keys; *c; c++) key(*c == '\b' ? (int)PLAT_VK_BACK : (int)*c);
    }
    static std::vector<int32_t> proxy_edit() {
        return std::vector<int32_t>(app_state.proxy_edit, app_state.proxy_edit + 5);
    }
    // The last text drawn at (x, y), or null.
    static const FakeTextCall *last_text_at(int x, int y) {
        const FakeTextCall *found = nullptr;
        for (const FakeTextCall &c : fake_text_calls())
            if (c.x == x && c.y == y) found = &c;
        return found;
    }
    // A message through the fake's dispatch, as a dialog's own loop would
    // deliver it (no per-message step).
    static void dispatch(uint32_t message, Point p, uint32_t wparam = 0) {
        fake_set_cursor(UI_WINDOW_X + p.x, UI_WINDOW_Y + p.y);
        PlatMessage m{app_state.window, message, wparam, lparam(p.x, p.y)};
        plat_dispatch_message(&m);
    }
    static int tray_modifies() {
        int n = 0;
        for (const FakeTrayCall &c : fake_tray_calls()) n += c.command == PLAT_TRAY_MODIFY;
        return n;
    }
    // A number field's look: the fake marks a text with one pixel per
    // character on the text's top row, which is the field's top row, so the
    // rows below it are compared.
    static bool field_shows(int x, int y, int w, int sx, int sy) { return shows(x, y + 1, w, 13, sx, sy + 1); }
    std::string stored_folder() const {
        std::string bytes = list_bytes();
        return std::string(bytes.c_str() + LIST_FOLDER_OFFSET);
    }
};

}  // namespace

// ---------------------------------------------------------------- fields

// After applying: the limit, the proxy switch and port in force and in the
// list file's settings header (bytes 12, 15 and 16-19).
static void expect_in_force_and_saved(const std::string &list, int32_t max_active, int32_t use_proxy,
                                      int32_t port) {
    EXPECT_EQ(max_active, app_state.max_active);
    EXPECT_EQ(use_proxy, app_state.use_proxy);
    EXPECT_EQ(port, app_state.proxy_port);
    EXPECT_EQ(max_active, list[12]);
    EXPECT_EQ(use_proxy, list[15]);
    EXPECT_EQ((uint32_t)port, get32(list, 16));
}

TEST_F(SettingsTest, digits_edit_the_selected_field_within_its_range_and_apply_puts_them_in_force) {
    open();
    const int32_t address[4] = {10, 20, 30, 40};
    for (int k = 0; k < 4; k++) app_state.proxy_address[k] = address[k];
    app_state.proxy_port = 6553;
    open_panel();
    ASSERT_EQ(0, app_state.max_active_edit);   // as the fixture's list file says

    // No field selected: digits and Backspace change nothing.
    type("7\b");
    EXPECT_EQ(0, app_state.max_active_edit);
    EXPECT_EQ((std::vector<int32_t>{10, 20, 30, 40, 6553}), proxy_edit());

    // The downloads-at-once digit: replaced by each digit, untouched by
    // Backspace, drawn black while edited; in force only once saved.
    click(MAX_FIELD);
    EXPECT_EQ(1, app_state.edit_field);
    type("37\b");
    EXPECT_EQ(7, app_state.max_active_edit);
    EXPECT_EQ(0, app_state.max_active);
    const FakeTextCall *digit = last_text_at(84, 69);
    ASSERT_NE(nullptr, digit);
    EXPECT_EQ("7", digit->text);
    EXPECT_EQ(0x000000u, digit->colour);

    // The proxy fields take no press while the proxy is not ticked.
    click(OCTET[0]);
    EXPECT_EQ(1, app_state.edit_field);
    click(USE_PROXY);
    EXPECT_EQ(1, app_state.proxy_edit_on);
    EXPECT_EQ(0, app_state.edit_field);

    // Octets: a fresh field starts over; 25 then 9 is kept at 255.
    click(OCTET[0]);
    EXPECT_EQ(2, app_state.edit_field);
    type("259");
    EXPECT_EQ(255, app_state.proxy_edit[0]);
    // From 26 on, any digit is ignored; selecting the field again does not
    // start it over.
    click(OCTET[1]);
    type("26");
    click(OCTET[1]);
    type("0");
    EXPECT_EQ(26, app_state.proxy_edit[1]);
    // A fresh field: the first digit replaces it, Backspace takes it off.
    click(OCTET[2]);
    type("7");
    EXPECT_EQ(7, app_state.proxy_edit[2]);
    type("\b");
    EXPECT_EQ(0, app_state.proxy_edit[2]);
    // Backspace on a fresh octet empties it, then removes digits.
    click(OCTET[3]);
    type("\b");
    EXPECT_EQ(0, app_state.proxy_edit[3]);
    type("123\b");
    EXPECT_EQ(12, app_state.proxy_edit[3]);

    // The port: Backspace on a fresh field gives 0; digits that would pass
    // 65535 are ignored.
    click(PORT);
    EXPECT_EQ(6, app_state.edit_field);
    type("\b");
    EXPECT_EQ(0, app_state.proxy_edit[4]);
    type("6553");
    type("6");
    EXPECT_EQ(6553, app_state.proxy_edit[4]);
    type("5");
    EXPECT_EQ(65535, app_state.proxy_edit[4]);
    type("0");
    EXPECT_EQ(65535, app_state.proxy_edit[4]);
    // A key held over several messages counts once.
    type("\b\b\b");
    fake_set_key('4', 1);
    ticks(5);
    fake_set_key('4', 0);
    ticks(1);
    EXPECT_EQ(654, app_state.proxy_edit[4]);

    // The numbers are drawn right-aligned at their ends, the edited one black.
    const FakeTextCall *port_text = last_text_at(211 - 3 * FAKE_CHAR_WIDTH, 173);
    ASSERT_NE(nullptr, port_text);
    EXPECT_EQ("654", port_text->text);
    EXPECT_EQ(0x000000u, port_text->colour);
    const FakeTextCall *octet_text = last_text_at(115 - 3 * FAKE_CHAR_WIDTH, 173);
    ASSERT_NE(nullptr, octet_text);
    EXPECT_EQ("255", octet_text->text);
    EXPECT_EQ(0x404040u, octet_text->colour);

    // Nothing edited is in force while the panel is open.
    EXPECT_EQ(0, app_state.use_proxy);
    EXPECT_EQ(6553, app_state.proxy_port);
    EXPECT_EQ(10, app_state.proxy_address[0]);
    EXPECT_EQ(0, (int)list_bytes()[15]);

    // A right press inside the larger box does nothing; outside it applies
    // and saves, and the panel stays open.
    right_press(INSIDE_RIGHT_PRESS_BOX);
    EXPECT_EQ(0, app_state.use_proxy);
    right_press(OUTSIDE);
    EXPECT_EQ(1, app_state.settings_open);
    EXPECT_EQ(0, app_state.edit_field);
    expect_in_force_and_saved(list_bytes(), 7, 1, 654);
    EXPECT_EQ((std::vector<int32_t>{255, 26, 0, 12}),
              std::vector<int32_t>(app_state.proxy_address, app_state.proxy_address + 4));
    EXPECT_EQ(std::string("\xff\x1a\x00\x0c", 4), list_bytes().substr(20, 4));

    // More edits, then a left release outside the panel: closed, applied,
    // saved.
    click(MAX_FIELD);
    type("2");
    click(PORT);
    type("8080");
    click(USE_PROXY);
    EXPECT_EQ(1, app_state.use_proxy);
    click(OUTSIDE);
    EXPECT_EQ(0, app_state.settings_open);
    expect_in_force_and_saved(list_bytes(), 2, 0, 8080);

    // Closed, the panel takes no digits.
    type("9");
    EXPECT_EQ(2, app_state.max_active_edit);
}

TEST_F(SettingsTest, the_proxy_carries_requests_only_once_applied) {
    open(2);
    fake_fail(FAULT_RESOLVE, 1, 1);   // no name is looked up for real
    int port = 0;
    const int listener = loopback_listen(8, &port);
    ASSERT_GE(listener, 0);
    auto proxy_connections = [&] {
        int n = 0;
        for (;;) {
            struct pollfd p = {listener, POLLIN, 0};
            if (poll(&p, 1, 200) != 1) return n;
            int fd = accept(listener, nullptr, nullptr);
            if (fd < 0) return n;
            close(fd);
            n++;
        }
    };
    auto start_item = [](int i) {
        downloads.selected_item = i;
        app_state.menu_entry = MENU_ENTRY_START;
        run_menu_command();
        app_state.menu_entry = MENU_ENTRY_NONE;
        ticks(4);
    };

    open_panel();
    click(USE_PROXY);
    click(OCTET[0]);
    type("127");
    click(OCTET[1]);
    type("0");
    click(OCTET[2]);
    type("0");
    click(OCTET[3]);
    type("1");
    click(PORT);
    type(std::to_string(port).c_str());
    ASSERT_EQ((std::vector<int32_t>{127, 0, 0, 1, port}), proxy_edit());

    // With the panel still open, a request goes the direct way: it looks
    // its host up.
    start_item(0);
    EXPECT_GE(fake_calls(FAULT_RESOLVE), 1);
    EXPECT_EQ(0, proxy_connections());

    // Applied, the next request connects to the proxy and looks nothing up.
    right_press(OUTSIDE);
    ASSERT_EQ(1, app_state.use_proxy);
    const int lookups = fake_calls(FAULT_RESOLVE);
    start_item(1);
    EXPECT_EQ(1, proxy_connections());
    EXPECT_EQ(lookups, fake_calls(FAULT_RESOLVE));
    close(listener);
}

// ------------------------------------------------------------ check boxes

TEST_F(SettingsTest, check_boxes_toggle_on_every_press_and_a_double_click_leaves_them_as_they_were) {
    open();
    open_panel();
    const int32_t show = app_state.show_finished;
    const int32_t remove = app_state.auto_remove_finished;

    click(MAX_FIELD);
    click(SHOW_FINISHED);
    EXPECT_EQ(!show, app_state.show_finished);
    EXPECT_EQ(0, app_state.edit_field);
    // Under the pointer, the hover look of the new value.
    EXPECT_TRUE(shows(81, 45, 14, 14, show ? 355 : 323, 210));
    click(REMOVE_FINISHED);
    EXPECT_EQ(!remove, app_state.auto_remove_finished);
    click(USE_PROXY);
    EXPECT_EQ(1, app_state.proxy_edit_on);
    EXPECT_TRUE(shows(81, 156, 14, 14, 323, 210));
    EXPECT_EQ(0, app_state.use_proxy);   // the switch itself waits for applying

    // Press and double press each toggle.
    double_click(SHOW_FINISHED);
    EXPECT_EQ(!show, app_state.show_finished);
    double_click(REMOVE_FINISHED);
    EXPECT_EQ(!remove, app_state.auto_remove_finished);
    double_click(USE_PROXY);
    EXPECT_EQ(1, app_state.proxy_edit_on);
    // ...a double click on a field selects it as a click does.
    double_click(PORT);
    EXPECT_EQ(6, app_state.edit_field);

    // The boxes that act at once are saved with the rest.
    click(OUTSIDE);
    std::string bytes = list_bytes();
    EXPECT_EQ(!remove, (int)bytes[13]);
    EXPECT_EQ(!show, (int)bytes[14]);
}

TEST_F(SettingsTest, unticking_show_finished_drops_a_finished_selection_and_keeps_the_scroll_position) {
    open(30);
    item(3).state = Finished;
    item(28).state = Finished;
    app_state.show_finished = 1;
    rebuild_visible_list();
    wheel(-1);   // toward the user: the list moves down
    const int32_t thumb = app_state.thumb_top;
    ASSERT_GT(thumb, 70);
    downloads.selected_item = 28;

    open_panel();
    click(SHOW_FINISHED);
    EXPECT_EQ(0, app_state.show_finished);
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ(thumb, app_state.thumb_top);
    EXPECT_EQ((int32_t)((float)(thumb - 70) * app_state.scroll_scale), app_state.list_offset);
    ASSERT_EQ(28, app_state.visible_count);
    for (int k = 0; k < app_state.visible_count; k++) {
        EXPECT_NE(3, app_state.visible_rows[k]);
        EXPECT_NE(28, app_state.visible_rows[k]);
    }

    // A download that is not finished stays selected.
    click(SHOW_FINISHED);
    EXPECT_EQ(30, app_state.visible_count);
    downloads.selected_item = 5;
    click(SHOW_FINISHED);
    EXPECT_EQ(5, downloads.selected_item);

    // A selection that names no item is not looked up, only kept.
    for (int32_t outside : {30, 1000000, -1000000}) {
        click(SHOW_FINISHED);
        ASSERT_EQ(1, app_state.show_finished);
        downloads.selected_item = outside;
        click(SHOW_FINISHED);
        EXPECT_EQ(0, app_state.show_finished);
        EXPECT_EQ(outside, downloads.selected_item);
    }
}

// ------------------------------------------------------------------ looks

TEST_F(SettingsTest, controls_take_their_hover_looks_and_the_proxy_fields_only_while_the_proxy_is_ticked) {
    open();
    open_panel();
    move(SHOW_FINISHED);
    EXPECT_EQ(9, app_state.hover_id);
    EXPECT_TRUE(shows(81, 45, 14, 14, app_state.show_finished ? 323 : 355, 210));
    move(MAX_FIELD);
    EXPECT_EQ(13, app_state.hover_id);
    EXPECT_TRUE(field_shows(81, 69, 14, 362, 229));
    move(FOLDER_BUTTON);
    EXPECT_EQ(14, app_state.hover_id);
    EXPECT_TRUE(shows(80, 97, 14, 14, 323, 230));
    move(150, 150);   // on the panel, on no control
    EXPECT_EQ(0, app_state.hover_id);
    EXPECT_TRUE(shows(80, 97, 14, 14, 322, 59));
    EXPECT_TRUE(field_shows(81, 69, 14, 323, 31));

    // Proxy not ticked: the fields are not there.
    for (Point p : {OCTET[0], OCTET[3], PORT}) {
        move(p);
        EXPECT_EQ(0, app_state.hover_id);
    }
    click(USE_PROXY);
    move(OCTET[1]);
    EXPECT_EQ(16, app_state.hover_id);
    EXPECT_TRUE(field_shows(119, 173, 18, 374, 209));
    EXPECT_TRUE(field_shows(100, 173, 18, 395, 226));   // its neighbour plain
    move(PORT);
    EXPECT_EQ(19, app_state.hover_id);
    EXPECT_TRUE(field_shows(180, 173, 34, 418, 225));
    EXPECT_TRUE(field_shows(119, 173, 18, 395, 226));

    // A press without a move before it lands on the control under it.
    send(PLAT_WM_LBUTTONDOWN, OCTET[2].x, OCTET[2].y, 1);
    release(OCTET[2].x, OCTET[2].y);
    EXPECT_EQ(4, app_state.edit_field);
    EXPECT_EQ(17, app_state.hover_id);
    move(150, 150);
    EXPECT_TRUE(field_shows(138, 173, 18, 394, 209));   // the edited look
    click(MAX_FIELD);
    move(150, 150);
    EXPECT_TRUE(field_shows(81, 69, 14, 379, 229));
    EXPECT_TRUE(field_shows(138, 173, 18, 395, 226));

    // Unticked again: the fields neither hover nor take a press.
    click(USE_PROXY);
    move(PORT);
    EXPECT_EQ(0, app_state.hover_id);
    click(PORT);
    EXPECT_EQ(0, app_state.edit_field);
}

// ---------------------------------------------------------- folder chooser

TEST_F(SettingsTest, the_folder_chooser_replaces_the_folder_only_with_a_path_the_list_file_can_hold) {
    open();
    strcpy(app_state.download_folder, "/srv/videos");
    open_panel();

    // Cancelled: the folder stays.  The chooser opens on the folder in use.
    fake_set_folder_answer(nullptr);
    click(FOLDER_BUTTON);
    EXPECT_EQ(1, fake_folder_chooser_count());
    EXPECT_EQ("/srv/videos", fake_folder_chooser_start());
    EXPECT_EQ(string_entry(STR_FOLDER_TITLE), fake_folder_chooser_title());
    EXPECT_STREQ("/srv/videos", app_state.download_folder);
    EXPECT_EQ(0, app_state.modal_depth);

    // Confirmed but unusable: empty, or one character longer than the list
    // file holds.
    fake_set_folder_answer("");
    click(FOLDER_BUTTON);
    EXPECT_STREQ("/srv/videos", app_state.download_folder);
    const std::string too_long = "/" + std::string(LIST_FOLDER_MAX, 'a');
    ASSERT_EQ(496u, too_long.size());
    fake_set_folder_answer(too_long.c_str());
    click(FOLDER_BUTTON);
    EXPECT_STREQ("/srv/videos", app_state.download_folder);

    // Confirmed: in memory at once, in the list file once applied.
    const std::string before = stored_folder();
    fake_set_folder_answer("/media/clips");
    click(FOLDER_BUTTON);
    EXPECT_EQ(4, fake_folder_chooser_count());
    EXPECT_STREQ("/media/clips", app_state.download_folder);
    EXPECT_EQ(before, stored_folder());
    right_press(OUTSIDE);
    EXPECT_EQ("/media/clips", stored_folder());

    // The longest path the file holds is taken whole, and the next chooser
    // opens on it.
    const std::string longest = "/" + std::string(LIST_FOLDER_MAX - 1, 'b');
    fake_set_folder_answer(longest.c_str());
    click(FOLDER_BUTTON);
    EXPECT_EQ(longest, app_state.download_folder);
    fake_set_folder_answer(nullptr);
    click(FOLDER_BUTTON);
    EXPECT_EQ(longest, fake_folder_chooser_start());
    click(OUTSIDE);
    EXPECT_EQ(longest, stored_folder());
}

TEST_F(SettingsTest, while_the_folder_chooser_is_open_only_the_timer_reaches_the_window) {
    open(3);
    downloads.selected_item = 1;
    offer("reelbox.test/watch/modal");
    ASSERT_EQ(1, app_state.offer_pending);
    open_panel();
    click(MAX_FIELD);
    ASSERT_EQ(1, app_state.edit_field);
    const int32_t max_edit = app_state.max_active_edit;
    const int32_t show = app_state.show_finished;
    const std::string saved = list_bytes();

    bool ran = false;
    fake_set_folder_answer("/media/new");
    fake_set_folder_during([&] {
        ran = true;
        EXPECT_GT(app_state.modal_depth, 0);
        const int32_t hover = app_state.hover_id;

        // 64 timer messages, 25 ms apart, through the chooser's own loop:
        // the heartbeat reads the clock, the engine samples, the tray icon
        // is re-submitted once.  Enter, held meanwhile in the chooser, is
        // not the capture shortcut.
        fake_set_key(PLAT_VK_RETURN, 1);
        const uint32_t ticks_before = app_state.tick_count;
        const uint32_t now_before = app_state.now_tick;
        const int32_t sample_before = app_state.sample_tick;
        const int modifies_before = tray_modifies();
        for (int k = 0; k < 64; k++) {
            fake_advance(25);
            dispatch(PLAT_WM_TIMER, {0, 0}, PROGRAM_TIMER_ID);
        }
        EXPECT_EQ(ticks_before + 64, app_state.tick_count);
        EXPECT_EQ(now_before + 64 * 25, app_state.now_tick);
        EXPECT_NE(sample_before, app_state.sample_tick);
        EXPECT_EQ(modifies_before + 1, tray_modifies());
        EXPECT_EQ(0, app_state.offer_key_down);
        fake_set_key(PLAT_VK_RETURN, 0);
        dispatch(PLAT_WM_TIMER, {0, 0}, PROGRAM_TIMER_ID);
        EXPECT_EQ(1, app_state.offer_pending);
        EXPECT_EQ(3, downloads.item_count);

        // The pointer: moves, presses, double presses, releases outside the
        // panel, right presses outside the larger box, the wheel.
        dispatch(PLAT_WM_MOUSEMOVE, SHOW_FINISHED);
        dispatch(PLAT_WM_LBUTTONDOWN, SHOW_FINISHED, 1);
        dispatch(PLAT_WM_LBUTTONDBLCLK, REMOVE_FINISHED, 1);
        dispatch(PLAT_WM_LBUTTONDOWN, FOLDER_BUTTON, 1);
        dispatch(PLAT_WM_LBUTTONUP, OUTSIDE);
        dispatch(PLAT_WM_RBUTTONDOWN, OUTSIDE, 2);
        dispatch(PLAT_WM_MOUSEWHEEL, OUTSIDE, (uint32_t)(-120) << 16);
        EXPECT_EQ(hover, app_state.hover_id);
        EXPECT_EQ(show, app_state.show_finished);
        EXPECT_EQ(1, app_state.settings_open);
        EXPECT_EQ(1, app_state.edit_field);
        EXPECT_EQ(saved, list_bytes());
        // A second chooser never opens, however it is asked for.
        press_settings_element(ELEMENT_FOLDER_BUTTON);
        choose_download_folder();
        EXPECT_EQ(1, fake_folder_chooser_count());

        // Keys: a digit and the Delete key reaching the per-message step
        // meanwhile do nothing.
        fake_set_key('5', 1);
        app_state.current_message = PlatMessage{app_state.window, PLAT_WM_KEYDOWN, PLAT_VK_DELETE, 0};
        per_message_step(nullptr, nullptr);
        EXPECT_EQ(max_edit, app_state.max_active_edit);
        EXPECT_EQ(3, downloads.item_count);
        fake_set_key('5', 0);
        // A digit typed into the chooser and Enter confirming it, both
        // still held when it closes.
        fake_set_key('4', 1);
        fake_set_key(PLAT_VK_RETURN, 1);
    });
    click(FOLDER_BUTTON);
    fake_set_folder_during(nullptr);
    ASSERT_TRUE(ran);
    EXPECT_EQ(0, app_state.modal_depth);
    EXPECT_STREQ("/media/new", app_state.download_folder);

    // Nothing is left hovered or pressed; the next move finds the button.
    EXPECT_EQ(0, app_state.hover_id);
    EXPECT_EQ(0, app_state.press_id);
    move(FOLDER_BUTTON);
    EXPECT_EQ(14, app_state.hover_id);
    EXPECT_TRUE(shows(80, 97, 14, 14, 323, 230));

    // The digit held over from the chooser is not typed into the panel; the
    // next one is.
    ticks(3);
    EXPECT_EQ(max_edit, app_state.max_active_edit);
    fake_set_key('4', 0);
    type("6");
    EXPECT_EQ(6, app_state.max_active_edit);
    // Enter held over from the chooser captures nothing, held or let go;
    // pressed again, it is the capture shortcut.
    ticks(3);
    fake_set_key(PLAT_VK_RETURN, 0);
    ticks(3);
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ(3, downloads.item_count);
    fake_set_key(PLAT_VK_RETURN, 1);
    ticks(2);
    fake_set_key(PLAT_VK_RETURN, 0);
    ticks(2);
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(4, downloads.item_count);
    // The pointer works again.
    click(SHOW_FINISHED);
    EXPECT_EQ(!show, app_state.show_finished);
}
