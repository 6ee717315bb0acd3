// The heartbeat's refresh on a started program: an idle window is painted
// and presented no more, and every kind of change the painting shows is
// presented at the next heartbeat, as exactly the picture a full paint
// gives.  A paint request from the desktop and every show always present.
#include <cstring>
#include <functional>
#include <vector>

#include "display/display.h"
#include "display/skin_layout.h"
#include "display/window_layout.h"
#include "ui/settings.h"
#include "ui/ui_fixture.h"

namespace {

struct RefreshTest : UiFixture {
    static int presents() { return fake_window().present_count; }

    // Timer messages up to and including the next heartbeat refresh (the
    // odd counts refresh), ending on an even count.
    static void heartbeat() {
        if (app_state.tick_count % 2 == 1) ticks(1);
        ticks(2);
    }

    // Heartbeats until 24 in a row (1.2 s, two speed samples at least)
    // present nothing; at most ten seconds' worth.
    static void settle() {
        int quiet = 0;
        for (int k = 0; k < 200 && quiet < 24; k++) {
            const int before = presents();
            heartbeat();
            quiet = presents() == before ? quiet + 1 : 0;
        }
        ASSERT_EQ(24, quiet) << "the window never came to rest";
    }

    // Timer messages until a speed sample has just been taken, ending on an
    // even count: the next heartbeat is then far from the next sample, and
    // what it presents is what the state still is afterwards.
    static void after_sample() {
        const int32_t last = app_state.sample_tick;
        while (app_state.sample_tick == last) ticks(1);
        if (app_state.tick_count % 2 == 1) ticks(1);
    }

    // The picture a full paint gives for the state as it is: the whole face,
    // the thumb and the list drawn into a cleared buffer, as showing the
    // window draws it.  The state and the back buffer are put back after.
    static std::vector<uint32_t> full_picture() {
        AppState &s = app_state;
        const size_t n = (size_t)WINDOW_WIDTH * WINDOW_HEIGHT;
        std::vector<uint32_t> kept(s.back_buffer, s.back_buffer + n);
        const AppState state = s;
        const int32_t selected = downloads.selected_item;
        std::memset(s.back_buffer, 0x5A, n * 4);
        copy_piece(SKIN_FACE);
        draw_scroll_thumb(0, s.thumb_top);
        paint_list();
        std::vector<uint32_t> picture(s.back_buffer, s.back_buffer + n);
        s = state;
        downloads.selected_item = selected;
        std::memcpy(s.back_buffer, kept.data(), n * 4);
        return picture;
    }

    // Pixels where the back buffer, or what was last presented, differs from
    // a full paint.
    static int differences_from_full_paint() {
        const std::vector<uint32_t> full = full_picture();
        const std::vector<uint32_t> &shown = fake_window().presented;
        if (shown.size() != full.size()) return -1;
        int bad = 0;
        for (size_t k = 0; k < full.size(); k++)
            bad += (app_state.back_buffer[k] & 0xFFFFFFu) != (full[k] & 0xFFFFFFu) ||
                   (shown[k] & 0xFFFFFFu) != (full[k] & 0xFFFFFFu);
        return bad;
    }

    static bool presented_is_back_buffer() {
        const std::vector<uint32_t> &shown = fake_window().presented;
        return shown.size() == (size_t)WINDOW_WIDTH * WINDOW_HEIGHT &&
               std::memcmp(shown.data(), app_state.back_buffer, shown.size() * 4) == 0;
    }

    // The pointer somewhere without a mouse message (the heartbeat reads it).
    static void pointer_at(int x, int y) { fake_set_cursor(UI_WINDOW_X + x, UI_WINDOW_Y + y); }
    static int row_y(int k) { return 63 + 12 * k + 5; }
    static DownloadItem &item(int i) { return downloads.items[i]; }
};

}  // namespace

TEST_F(RefreshTest, an_idle_window_is_presented_no_more) {
    open(40);
    pointer_at(-50, -50);
    settle();
    int before = presents();
    ticks(400);   // ten seconds, twenty speed samples
    EXPECT_EQ(before, presents());
    EXPECT_EQ(0, differences_from_full_paint());

    // The pointer moving about away from every look changes nothing either,
    // nor does the panel's idle.
    for (int k = 0; k < 20; k++) {
        pointer_at(-300 + 13 * k, 600 - 7 * k);
        heartbeat();
    }
    pointer_at(3, 200);   // the frame left of the rows
    heartbeat();
    EXPECT_EQ(before, presents());
    app_state.settings_open = 1;
    heartbeat();
    before = presents();
    ticks(100);
    EXPECT_EQ(before, presents());
    EXPECT_EQ(0, differences_from_full_paint());
}

TEST_F(RefreshTest, every_change_the_painting_shows_is_presented_at_the_next_heartbeat_as_a_full_paint) {
    open(40);
    pointer_at(-50, -50);
    struct Change {
        const char *what;
        std::function<void()> apply;
    };
    const Change changes[] = {
        {"a download's done count", [] { item(0).doneSize = 500; }},
        {"a download's size", [] { item(1).totalSize = 7777777; }},
        {"a selection", [] { downloads.selected_item = 2; }},
        {"the item menu opening", [] {
             app_state.menu_open = 1;
             app_state.menu_x = 60;
             app_state.menu_y = 90;
         }},
        {"the menu closing", [] { app_state.menu_open = 0; }},
        {"the settings panel", [] { app_state.settings_open = 1; }},
        {"a setting in the panel", [] { app_state.max_active_edit = 6; }},
        {"the panel closing", [] { close_settings_panel(); }},
        {"a scroll", [] {
             app_state.thumb_top = 120;
             app_state.list_offset = 150;
         }},
        {"an address on offer, from the clipboard", [] { fake_set_clipboard("http://tubeon.test/watch/fresh"); }},
        {"the offline notice", [] { app_state.offline_notice = 1; }},
    };
    for (const Change &c : changes) {
        SCOPED_TRACE(c.what);
        settle();
        after_sample();
        const int before = presents();
        c.apply();
        heartbeat();
        EXPECT_GT(presents(), before);
        EXPECT_EQ(0, differences_from_full_paint());
    }
    EXPECT_EQ(1, app_state.offer_pending);
}

// The row under the pointer is taken by the paint: the row left keeps its
// highlight for that paint, and the next heartbeat presents the list with
// the new row alone lit.
TEST_F(RefreshTest, a_pointer_moving_over_the_rows_is_followed_without_mouse_messages) {
    open(40);
    pointer_at(100, row_y(1));
    settle();
    EXPECT_EQ(1, app_state.hovered_item);
    for (int row : {4, 5, 2}) {
        SCOPED_TRACE(row);
        const int before = presents();
        pointer_at(120, row_y(row));
        heartbeat();
        EXPECT_GT(presents(), before);
        EXPECT_EQ(row, app_state.hovered_item);
        heartbeat();
        EXPECT_EQ(0, differences_from_full_paint());
        const int settled = presents();
        heartbeat();
        EXPECT_EQ(settled, presents());
    }
}

TEST_F(RefreshTest, the_note_is_presented_while_it_counts_down_and_gone_when_it_ends) {
    open(3);
    pointer_at(-50, -50);
    settle();
    int before = presents();
    app_state.note_ticks = 40;
    app_state.note_x = 38;
    app_state.note_y = 27;
    heartbeat();
    EXPECT_EQ(before + 1, presents());
    EXPECT_EQ(0, differences_from_full_paint());
    EXPECT_TRUE(shows(38, 27, SKIN_DUPLICATE_NOTE.w, SKIN_DUPLICATE_NOTE.h, SKIN_DUPLICATE_NOTE.sx,
                      SKIN_DUPLICATE_NOTE.sy));

    // Counting down shows nothing new...
    before = presents();
    while (app_state.note_ticks > 2) ticks(1);
    EXPECT_EQ(before, presents());
    // ...its end takes it away, and the next heartbeat presents that.
    ticks(2);
    ASSERT_EQ(0, app_state.note_ticks);
    heartbeat();
    EXPECT_EQ(before + 1, presents());
    EXPECT_EQ(0, differences_from_full_paint());
    EXPECT_FALSE(shows(38, 27, SKIN_DUPLICATE_NOTE.w, SKIN_DUPLICATE_NOTE.h, SKIN_DUPLICATE_NOTE.sx,
                       SKIN_DUPLICATE_NOTE.sy));
}

// A download receiving nothing keeps its state for a while, and its speed
// halves at every sample: each sample changes the row's speed, the totals
// and the status text, and each is presented as a full paint gives it.
TEST_F(RefreshTest, speed_totals_and_status_text_are_presented_after_every_sample) {
    open(3);
    pointer_at(-50, -50);
    settle();
    after_sample();
    DownloadItem &it = item(0);
    it.state = Downloading;
    it.userStarted = 1;   // outside the limit of none at once
    it.totalSize = 10000000;
    it.doneSize = 3000000;
    it.speed = 400000;
    it.lastActivityTick = app_state.now_tick;
    int before = presents();
    heartbeat();
    EXPECT_GT(presents(), before);
    // The total speed is counted by the engine step that follows the
    // heartbeat's refresh: the next heartbeat shows it.
    before = presents();
    heartbeat();
    EXPECT_GT(presents(), before);
    EXPECT_EQ(0, differences_from_full_paint());

    for (int sample = 0; sample < 3; sample++) {
        SCOPED_TRACE(sample);
        const std::string status = app_state.status_text;
        const uint32_t speed = it.speed;
        before = presents();
        after_sample();
        heartbeat();
        EXPECT_EQ(speed / 2, it.speed);
        EXPECT_NE(status, std::string(app_state.status_text));
        EXPECT_EQ(2 * (double)speed / 2, 2 * (double)app_state.total_speed);
        EXPECT_GT(presents(), before);
        EXPECT_EQ(0, differences_from_full_paint());
    }
    EXPECT_EQ(Downloading, it.state);
}

// What is drawn straight into the back buffer reaches the screen at the
// next heartbeat; a look drawn again as it was does not present.
TEST_F(RefreshTest, drawing_outside_the_painting_is_presented_and_redrawing_the_same_is_not) {
    open(3);
    pointer_at(-50, -50);
    settle();
    int before = presents();
    copy_piece(*FACE_SETTINGS.hover);
    heartbeat();
    EXPECT_EQ(before + 1, presents());
    EXPECT_TRUE(presented_is_back_buffer());

    settle();
    before = presents();
    draw_scroll_thumb(0, app_state.thumb_top);   // the thumb as it is
    copy_piece(*FACE_SETTINGS.hover);            // the look already there
    heartbeat();
    EXPECT_EQ(before, presents());
}

TEST_F(RefreshTest, a_paint_request_and_every_show_present_the_whole_picture) {
    open(3);
    pointer_at(-50, -50);
    settle();
    int before = presents();
    main_window_proc(app_state.window, PLAT_WM_PAINT, 0, 0);
    EXPECT_EQ(before + 1, presents());
    EXPECT_EQ(0, differences_from_full_paint());

    // Hidden: nothing is presented; shown again from the tray or by a
    // second start, the whole picture is.
    click(260, 9);
    ASSERT_EQ(0, app_state.window_shown);
    pointer_at(-50, -50);
    before = presents();
    ticks(40);
    EXPECT_EQ(before, presents());
    tray(513);
    EXPECT_GT(presents(), before);
    EXPECT_EQ(0, differences_from_full_paint());

    settle();
    before = presents();
    main_window_proc(app_state.window, SECOND_START_MESSAGE, 0, 0);
    EXPECT_GT(presents(), before);
    EXPECT_EQ(0, differences_from_full_paint());
}
