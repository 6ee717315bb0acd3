// The test backend keeps the Windows rules the program's tests lean on:
// messages name their window and go only there, a paint comes back until it
// is validated, a hidden window gets none, the quit message is a flag read
// once the queue is empty, and destroying a window always sends WM_DESTROY.
#include <gtest/gtest.h>

#include <vector>

#include "platform/fake/fake_platform.h"

namespace {

const uint32_t APP_A = 0x8002;
const uint32_t APP_B = 0x8003;
const uint32_t TIMER_ID = 5;

struct Delivery {
    plat_window window;
    uint32_t message, wparam;
};
std::vector<Delivery> delivered;

int32_t recording_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t) {
    delivered.push_back(Delivery{window, message, wparam});
    return 0;
}

struct FakeSeamTest : testing::Test {
    plat_window window = 0;

    void SetUp() override {
        fake_reset();
        delivered.clear();
        ASSERT_EQ(1, plat_register_class("Seam", recording_proc, PLAT_CURSOR_ARROW, 0));
        window = plat_create_window("Seam", "seam", 0, 0, 40, 30);
        ASSERT_NE(0u, window);
    }
    void TearDown() override { fake_reset(); }

    static PlatMessage next() {
        PlatMessage m{};
        plat_get_message(&m);
        return m;
    }
};

TEST_F(FakeSeamTest, messages_name_their_window_and_are_dispatched_only_there) {
    fake_post(APP_A, 1, 0);
    plat_post_message(0, APP_B, 2, 0);              // a message for no window
    plat_post_message(window + 1, APP_B, 3, 0);     // for a window that does not exist
    PlatMessage a = next(), none = next(), stray = next();
    EXPECT_EQ(window, a.window);
    EXPECT_EQ(0u, none.window);
    EXPECT_EQ(window + 1, stray.window);
    plat_dispatch_message(&stray);
    plat_dispatch_message(&none);
    plat_dispatch_message(&a);
    ASSERT_EQ(1u, delivered.size());
    EXPECT_EQ(window, delivered[0].window);
    EXPECT_EQ(APP_A, delivered[0].message);
    EXPECT_EQ(1u, delivered[0].wparam);
}

TEST_F(FakeSeamTest, a_paint_comes_back_ahead_of_the_timer_until_validated_and_waits_while_hidden) {
    plat_set_timer(window, TIMER_ID, 25);
    plat_show_window(window, 1);
    plat_invalidate(window);
    plat_invalidate(window);   // coalesced with the first
    PlatMessage first = next();
    EXPECT_EQ((uint32_t)PLAT_WM_PAINT, first.message);
    EXPECT_EQ(window, first.window);
    EXPECT_EQ((uint32_t)PLAT_WM_PAINT, next().message) << "an unvalidated paint comes back";
    plat_begin_paint(window);
    plat_end_paint(window);
    PlatMessage tick = next();
    EXPECT_EQ((uint32_t)PLAT_WM_TIMER, tick.message);
    EXPECT_EQ(TIMER_ID, tick.wparam);
    EXPECT_EQ(1, fake_window().begin_paint_count);
    EXPECT_EQ(1, fake_window().end_paint_count);

    // Hidden, the window gets no paint; the request waits until it shows.
    plat_show_window(window, 0);
    plat_invalidate(window);
    EXPECT_EQ((uint32_t)PLAT_WM_TIMER, next().message);
    plat_show_window(window, 1);
    EXPECT_EQ((uint32_t)PLAT_WM_PAINT, next().message);
}

TEST_F(FakeSeamTest, quit_is_a_flag_returned_once_after_the_queue_and_before_paint_and_timer) {
    plat_set_timer(window, TIMER_ID, 25);
    plat_show_window(window, 1);
    plat_invalidate(window);
    fake_post(APP_A, 0, 0);
    plat_post_quit(7);
    fake_post(APP_B, 0, 0);   // posted after the quit, still retrieved before it
    EXPECT_EQ(APP_A, next().message);
    EXPECT_EQ(APP_B, next().message);
    PlatMessage quit{};
    EXPECT_EQ(0, plat_get_message(&quit));
    EXPECT_EQ((uint32_t)PLAT_WM_QUIT, quit.message);
    EXPECT_EQ(7u, quit.wparam);
    EXPECT_EQ(0u, quit.window);
    EXPECT_EQ((uint32_t)PLAT_WM_PAINT, next().message) << "the quit message comes once";

    // A reset forgets a quit that nobody retrieved.
    plat_post_quit(3);
    fake_reset();
    ASSERT_EQ(1, plat_register_class("Seam", recording_proc, PLAT_CURSOR_ARROW, 0));
    window = plat_create_window("Seam", "seam", 0, 0, 40, 30);
    plat_set_timer(window, TIMER_ID, 25);
    EXPECT_EQ(1, plat_get_message(&quit));
    EXPECT_EQ((uint32_t)PLAT_WM_TIMER, quit.message);
}

TEST_F(FakeSeamTest, destroying_a_window_never_shown_sends_wm_destroy_once) {
    plat_destroy_window(window);
    plat_destroy_window(window);   // gone already
    ASSERT_EQ(1u, delivered.size());
    EXPECT_EQ(window, delivered[0].window);
    EXPECT_EQ((uint32_t)PLAT_WM_DESTROY, delivered[0].message);
    EXPECT_FALSE(fake_window().exists);
}

TEST_F(FakeSeamTest, folder_chooser_records_where_it_opened_and_answers_within_the_buffer) {
    char out[16];
    EXPECT_EQ(0, plat_choose_folder(window, "Pick", "/home/u/Vid\xc3\xa9os", out, sizeof out));
    EXPECT_EQ("/home/u/Vid\xc3\xa9os", fake_folder_chooser_start());
    fake_set_folder_answer("/srv/downloads");
    EXPECT_EQ(1, plat_choose_folder(window, "Pick", nullptr, out, sizeof out));
    EXPECT_EQ("", fake_folder_chooser_start());
    EXPECT_STREQ("/srv/downloads", out);
    // A path that does not fit is refused, not cut to another folder's name.
    fake_set_folder_answer("/srv/downloads/quorvax");
    EXPECT_EQ(0, plat_choose_folder(window, "Pick", "/srv", out, sizeof out));
    EXPECT_STREQ("/srv/downloads", out);
    EXPECT_EQ(3, fake_folder_chooser_count());

    // While it is open, the scripted loop runs: here it dispatches a message
    // and asks for a second chooser, which opens without running the loop
    // again.  The answer comes after.
    fake_set_folder_answer("/srv/a");
    int loops = 0;
    fake_set_folder_during([&] {
        loops++;
        EXPECT_EQ(1, fake_folder_chooser_open());
        PlatMessage timer{window, PLAT_WM_TIMER, 7, 0};
        plat_dispatch_message(&timer);
        char inner[16];
        EXPECT_EQ(1, plat_choose_folder(window, "Again", nullptr, inner, sizeof inner));
    });
    EXPECT_EQ(1, plat_choose_folder(window, "Pick", "/srv", out, sizeof out));
    EXPECT_EQ(1, loops);
    EXPECT_EQ(0, fake_folder_chooser_open());
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ((uint32_t)PLAT_WM_TIMER, delivered.back().message);
    EXPECT_EQ("Again", fake_folder_chooser_title());
    EXPECT_EQ(5, fake_folder_chooser_count());
}

}  // namespace
