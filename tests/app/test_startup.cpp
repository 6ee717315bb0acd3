// Start-up, the message loop and shut-down, driven through the fake
// platform: the list-file message, silent failures, what a good start
// builds, and what shut-down writes back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app.h"
#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/temp_dir.h"

namespace {

// An empty list: magic, the given settings, count, folder.
std::string make_list(int32_t x, int32_t y, uint8_t max_active, int32_t count,
                      const std::string &folder) {
    std::string b(656, '\0');
    uint32_t magic = LIST_MAGIC;
    memcpy(&b[0], &magic, 4);
    memcpy(&b[4], &x, 4);
    memcpy(&b[8], &y, 4);
    b[12] = (char)max_active;
    memcpy(&b[32], &count, 4);
    memcpy(&b[160], folder.data(), folder.size());
    return b;
}

int32_t read_i32(const std::string &bytes, size_t offset) {
    int32_t v = 0;
    memcpy(&v, bytes.data() + offset, 4);
    return v;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        fake_set_tick(100000);
    }
    void TearDown() override { shutdown(); }
    TempWorkDir dir;
};

TEST_F(StartupTest, missing_list_file_shows_the_message_and_fails) {
    EXPECT_EQ(startup(), 0);
    ASSERT_EQ(fake_message_boxes().size(), 1u);
    EXPECT_EQ(fake_message_boxes()[0].text, "List.o");
    EXPECT_EQ(fake_message_boxes()[0].caption, "File not found!!");
    EXPECT_FALSE(fake_window().exists);
    shutdown();  // after a failed start it must release nothing twice
    shutdown();
}

TEST_F(StartupTest, wrong_magic_shows_the_same_message) {
    std::string list = make_list(0, 0, 1, 0, "");
    list[0] = 'X';
    write_file(dir.file("list.o"), list);
    EXPECT_EQ(startup(), 0);
    ASSERT_EQ(fake_message_boxes().size(), 1u);
    EXPECT_EQ(fake_message_boxes()[0].text, "List.o");
    // The list could be opened: no other instance holds it to be asked.
    EXPECT_TRUE(fake_instance_signals().empty());
}

TEST_F(StartupTest, item_count_out_of_range_fails_silently) {
    write_file(dir.file("list.o"), make_list(0, 0, 1, 10000001, ""));
    EXPECT_EQ(startup(), 0);
    EXPECT_TRUE(fake_message_boxes().empty());
    shutdown();
    write_file(dir.file("list.o"), make_list(0, 0, 1, -1, ""));
    EXPECT_EQ(startup(), 0);
    EXPECT_TRUE(fake_message_boxes().empty());
}

// A list file written by another program may hold any byte in a switch or
// the digit and any number in the port: the running program sees the values
// its settings panel could have set, and the file itself is left as it is.
TEST_F(StartupTest, loaded_settings_are_brought_into_their_ranges) {
    std::string list = make_list(0, 0, 200, 0, "");
    list[13] = 7;      // remove finished
    list[14] = 2;      // show finished
    list[15] = (char)0x80;   // use proxy
    int32_t port = 99999;
    memcpy(&list[16], &port, 4);
    write_file(dir.file("list.o"), list);
    ASSERT_EQ(startup(), 1);
    EXPECT_EQ(app_state.max_active_edit, 9);
    EXPECT_EQ(app_state.max_active, 9);
    EXPECT_EQ(app_state.auto_remove_finished, 1);
    EXPECT_EQ(app_state.show_finished, 1);
    EXPECT_EQ(app_state.use_proxy, 1);
    EXPECT_EQ(app_state.proxy_port, 65535);
    EXPECT_EQ(read_file(dir.file("list.o")), list);

    shutdown();
    port = -5;
    memcpy(&list[16], &port, 4);
    list[12] = 4;
    write_file(dir.file("list.o"), list);
    ASSERT_EQ(startup(), 1);
    EXPECT_EQ(app_state.max_active_edit, 4);
    EXPECT_EQ(app_state.proxy_port, 0);
}

TEST_F(StartupTest, good_start_builds_window_timer_shape_and_state) {
    fake_set_screen(1024, 768);
    write_file(dir.file("list.o"), make_list(-50, 9000, 3, 0, "dl"));
    ASSERT_EQ(startup(), 1);

    const FakeWindow &w = fake_window();
    EXPECT_TRUE(w.exists);
    EXPECT_EQ(w.title, "Quorvax 1.0");
    EXPECT_EQ(w.class_name, "Quorvax");
    EXPECT_EQ(w.width, 288);
    EXPECT_EQ(w.height, 417);
    // Clamped: negative x to 0, y to the screen height - 472.
    EXPECT_EQ(w.x, 0);
    EXPECT_EQ(w.y, 768 - 472);
    EXPECT_EQ(fake_timer_period(PROGRAM_TIMER_ID), 25);
    ASSERT_EQ(w.region.size(), 9u);
    EXPECT_EQ(w.region[8].left, 2);
    EXPECT_EQ(w.region[8].right, 286);

    EXPECT_EQ(app_state.window_shown, 1);
    EXPECT_EQ(app_state.max_active, 3);
    EXPECT_EQ(app_state.engine_tick, 100000 - 3500);
    EXPECT_EQ(app_state.sample_tick, 100000 - 3500);
    EXPECT_EQ(downloads.selected_item, -1);
    EXPECT_EQ(app_state.thumb_grab, -1);
    EXPECT_EQ(downloads.item_count, 0);
    EXPECT_EQ(downloads.table_capacity, 100);
    EXPECT_GE(w.present_count, 1);
    // The program draws into the backend's back buffer of the window's size.
    EXPECT_EQ(w.back_width, 288);
    EXPECT_EQ(w.back_height, 417);
    EXPECT_EQ(app_state.back_buffer, w.back_buffer.data());
    // The folder is created when missing; the skin pixels are released.
    EXPECT_TRUE(plat_directory_exists("dl"));
    EXPECT_EQ(app_state.skin_pixels, nullptr);
    // Strings are plain and carry this run's token.
    EXPECT_STREQ(string_entry(STR_SCHEME_PREFIX), "http://");

    const FakeFont *bold = fake_font(app_state.font_bold);
    ASSERT_NE(bold, nullptr);
    EXPECT_EQ(bold->face, "Arial");
    EXPECT_EQ(bold->height, 12);
    EXPECT_EQ(bold->weight, 800);
    ASSERT_NE(fake_font(app_state.font_text), nullptr);
    EXPECT_EQ(fake_font(app_state.font_text)->face, "Thoma");

    // Shut-down gives the back buffer back before the window goes.
    shutdown();
    EXPECT_FALSE(w.exists);
    EXPECT_TRUE(w.back_buffer.empty());
    EXPECT_FALSE(w.destroyed_with_back_buffer);
    EXPECT_EQ(app_state.back_buffer, nullptr);
}

TEST_F(StartupTest, list_file_is_held_while_running) {
    write_file(dir.file("list.o"), make_list(0, 0, 1, 0, ""));
    ASSERT_EQ(startup(), 1);
    plat_file second = plat_open_existing_rw("list.o");
    EXPECT_EQ(second, PLAT_INVALID_FILE);
    shutdown();
    second = plat_open_existing_rw("list.o");
    EXPECT_NE(second, PLAT_INVALID_FILE);
    plat_close(second);
}

TEST_F(StartupTest, window_creation_failure_ends_silently_and_releases) {
    write_file(dir.file("list.o"), make_list(0, 0, 1, 0, ""));
    fake_set_window_creation_fails(1);
    EXPECT_EQ(startup(), 0);
    EXPECT_TRUE(fake_message_boxes().empty());
    shutdown();
    EXPECT_EQ(app_state.list_file, PLAT_INVALID_FILE);
    EXPECT_EQ(downloads.items, nullptr);
}

class ProgramTest : public StartupTest {};

// A second start on a list that a running instance holds asks that
// instance to show its window (under the list's absolute path) and ends at
// once with 0: no message, no window, no tray icon, the list untouched.
// When nothing answers under that key - the list tool holds the list, or an
// instance of another list answers - the message shows as before.
TEST_F(ProgramTest, a_second_start_on_a_held_list_hands_over_to_the_running_instance) {
    const std::string list = make_list(10, 20, 2, 0, "");
    write_file(dir.file("list.o"), list);
    plat_file held = plat_open_existing_rw("list.o");   // the running instance's hold
    ASSERT_NE(held, PLAT_INVALID_FILE);
    const std::string key = dir.file("list.o");

    fake_set_running_instance(key.c_str());
    EXPECT_EQ(run_program(), 0);
    EXPECT_EQ(app_state.handed_over, 1);
    EXPECT_TRUE(fake_message_boxes().empty());
    ASSERT_EQ(fake_instance_signals().size(), 1u);
    EXPECT_EQ(fake_instance_signals()[0], key);
    EXPECT_EQ(fake_window().show_count, 0);
    EXPECT_TRUE(fake_tray_calls().empty());
    EXPECT_TRUE(fake_instance_listens().empty());
    EXPECT_EQ(read_file(dir.file("list.o")), list);

    for (const char *other : {(const char *)nullptr, "/elsewhere/list.o"}) {
        fake_set_running_instance(other);
        fake_message_boxes().clear();
        EXPECT_EQ(run_program(), 0);
        EXPECT_EQ(app_state.handed_over, 0);
        ASSERT_EQ(fake_message_boxes().size(), 1u);
        EXPECT_EQ(fake_message_boxes()[0].caption, "File not found!!");
    }
    plat_close(held);

    // The list free again: this start runs, and listens for later ones.
    fake_set_running_instance(key.c_str());
    fake_message_boxes().clear();
    ASSERT_EQ(startup(), 1);
    EXPECT_EQ(app_state.handed_over, 0);
    EXPECT_TRUE(fake_message_boxes().empty());
    ASSERT_EQ(fake_instance_listens().size(), 1u);
    EXPECT_EQ(fake_instance_listens()[0].key, key);
    EXPECT_TRUE(fake_instance_listens()[0].active);
}

TEST_F(ProgramTest, loop_steps_every_message_and_saves_position_on_quit) {
    write_file(dir.file("list.o"), make_list(10, 20, 2, 0, ""));
    fake_set_timer_advances_clock(1);
    fake_quit_after(6);  // a few heartbeats, then the quit message
    EXPECT_EQ(run_program(), 0);
    // Every message, timer ticks included, refreshed the clock first: the
    // last one saw the clock as it was after the last tick moved it.
    EXPECT_EQ(app_state.now_tick, plat_tick());
    EXPECT_GT(app_state.now_tick, 100000u);
    std::string list = read_file(dir.file("list.o"));
    ASSERT_EQ(list.size(), 656u);
    // The window position seen by the heartbeat was saved.
    EXPECT_EQ(read_i32(list, 4), 10);
    EXPECT_EQ(read_i32(list, 8), 20);
    EXPECT_EQ((uint8_t)list[12], 2);
    ASSERT_FALSE(fake_tray_calls().empty());
    EXPECT_EQ(fake_tray_calls().front().command, PLAT_TRAY_ADD);
    EXPECT_EQ(fake_tray_calls().back().command, PLAT_TRAY_DELETE);
}

TEST_F(ProgramTest, no_save_without_a_shown_tick) {
    std::string original = make_list(10, 20, 2, 0, "");
    original[24] = 0x5A;  // reserved bytes stay as found in any case
    write_file(dir.file("list.o"), original);
    fake_post(PLAT_WM_QUIT, 0, 0);
    EXPECT_EQ(run_program(), 0);
    EXPECT_EQ(read_file(dir.file("list.o")), original);
}

// The window procedure validates every paint, drawn or not: with the
// drawing off (window_shown 0) while the system still shows the window, a
// paint left pending would come back ahead of every timer message and the
// engine would never run.
TEST_F(ProgramTest, paint_is_validated_whether_drawn_or_not_and_the_heartbeat_goes_on) {
    write_file(dir.file("list.o"), make_list(10, 20, 2, 0, ""));
    ASSERT_EQ(startup(), 1);
    plat_show_window(app_state.window, 1);
    auto run_messages = [](int n) {
        PlatMessage msg;
        for (int k = 0; k < n && plat_get_message(&msg); k++) {
            app_state.current_message = msg;
            plat_dispatch_message(&msg);
        }
    };

    app_state.window_shown = 0;
    plat_invalidate(app_state.window);
    int presents = fake_window().present_count;
    run_messages(4);
    EXPECT_EQ(app_state.tick_count, 3) << "the paint once, then a timer message every time";
    EXPECT_EQ(fake_window().begin_paint_count, 1);
    EXPECT_EQ(fake_window().end_paint_count, 1);
    EXPECT_EQ(fake_window().present_count, presents) << "nothing drawn while window_shown is 0";

    app_state.window_shown = 1;
    plat_invalidate(app_state.window);
    run_messages(2);
    EXPECT_EQ(app_state.tick_count, 4);
    EXPECT_EQ(fake_window().begin_paint_count, 2);
    EXPECT_EQ(fake_window().end_paint_count, 2);
    EXPECT_GT(fake_window().present_count, presents);
}

}  // namespace
