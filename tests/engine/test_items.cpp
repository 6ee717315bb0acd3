// The item operations: adding the offered address, starting and stopping,
// the menu's page and file commands, removal (menu, Delete key, automatic)
// with the list file rewritten, and interrupted transfers taken up after a
// restart (finished at once when their files hold the whole stream).
#include "app/strings.h"
#include "engine/engine_fixture.h"
#include "ui/clipboard.h"
#include "ui/list_view.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct ItemsTest : EngineFixture {
    // The address copied and taken up by the heartbeat's clipboard poll, as
    // the program takes it (online, so that the poll looks at it).
    static void offer(const char *address, int32_t kind) {
        fake_set_clipboard(address);
        int32_t online = app_state.online;
        app_state.online = 1;
        poll_clipboard();
        app_state.online = online;
        ASSERT_EQ(1, app_state.offer_pending);
        ASSERT_STREQ(address, downloads.items[downloads.item_count].pageAddress);
        ASSERT_EQ(kind, downloads.items[downloads.item_count].siteKind);
    }
    static void menu(int entry, int32_t selected) {
        app_state.menu_entry = entry;
        downloads.selected_item = selected;
        run_menu_command();
        apply_pending_removal();
    }
    static void press_delete(int32_t selected) {
        downloads.selected_item = selected;
        app_state.current_message =
            PlatMessage{app_state.window, PLAT_WM_KEYDOWN, (uint32_t)PLAT_VK_DELETE, 0};
        per_message_step(nullptr, nullptr);
        app_state.current_message = PlatMessage{0, 0, 0, 0};
    }
    static std::vector<std::string> addresses() {
        std::vector<std::string> a;
        for (int32_t i = 0; i < downloads.item_count; i++) a.push_back(downloads.items[i].pageAddress);
        return a;
    }
    // Page addresses of the records stored in list.o, as many as its count.
    std::vector<std::string> stored_addresses() const {
        std::string bytes = list_bytes();
        std::vector<std::string> a;
        uint32_t count = get32(bytes, 32);
        for (uint32_t i = 0; i < count && record_at((int)i) + 1204 <= bytes.size(); i++)
            a.push_back(std::string(bytes.c_str() + record_at((int)i) + 52));
        return a;
    }
};

typedef std::vector<std::string> Names;

// In a child process whose memory is capped just above what it holds: the
// capture needs a larger table, cannot have it, and must leave the list as
// it was.  Exits 0 when it did.
void capture_without_memory_and_exit(uint32_t stored_before) {
    long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (!statm || fscanf(statm, "%ld", &pages) != 1) _exit(2);
    fclose(statm);
    struct rlimit cap;
    cap.rlim_cur = cap.rlim_max = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + 64 * 1024;
    if (setrlimit(RLIMIT_AS, &cap) != 0) _exit(3);
    add_offered_download();
    uint32_t stored = 0;
    FILE *list = fopen("list.o", "rb");
    if (list) {
        char b[36];
        if (fread(b, 1, 36, list) == 36) memcpy(&stored, b + 32, 4);
        fclose(list);
    }
    // _exit: the child must not run this process's exit handlers.
    _exit(downloads.item_count == 100099 && app_state.offer_pending == 0 && stored == stored_before ? 0 : 1);
}

// gcc announces the address sanitizer with a macro, clang through
// __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ITEMS_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ITEMS_TEST_ADDRESS_SANITIZER 1
#endif

TEST_F(ItemsTest, a_capture_that_cannot_grow_the_table_adds_nothing) {
#if defined(ITEMS_TEST_ADDRESS_SANITIZER)
    GTEST_SKIP() << "the address sanitizer's reserve leaves no room to cap the memory";
#endif
    start({});
    // A table so long that its next size can only come from a fresh mapping
    // (not from memory the C library still holds), with only the candidate's
    // place left.
    ASSERT_EQ(1, allocate_table(100000));
    downloads.item_count = 100099;
    offer("reelbox.test/watch/no-room", 0);
    EXPECT_EXIT(capture_without_memory_and_exit(stored_count()), testing::ExitedWithCode(0), "");
}

TEST_F(ItemsTest, offered_address_becomes_an_analysing_item_stored_in_the_list) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)});
    offer("flvbay.test/watch/new", 2);
    int buffers = buffers_in_use();
    add_offered_download();
    ASSERT_EQ(2, downloads.item_count);
    EXPECT_EQ((uint32_t)Analysing, item(1).state);
    EXPECT_EQ(2, item(1).siteKind);
    EXPECT_NE(0u, item(1).buffer);
    EXPECT_EQ(buffers + 1, buffers_in_use());
    EXPECT_EQ(app_state.now_tick, item(1).lastActivityTick);
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(nullptr, fake_clipboard());
    EXPECT_EQ(2u, stored_count());
    EXPECT_EQ((Names{"vidcue.test/watch/a", "flvbay.test/watch/new"}), stored_addresses());
    EXPECT_EQ((uint32_t)Analysing, stored(1, REC_STATE));
}

TEST_F(ItemsTest, an_address_containing_a_listed_one_is_a_duplicate_and_a_prefix_is_not) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("flvbay.test/watch/bb", 2, Finished)});
    app_state.show_finished = 0;
    rebuild_visible_list();
    offer("VIDCUE.test/watch/a&feature=x", 3);  // the search ignores case
    add_offered_download();
    EXPECT_EQ(2, downloads.item_count);
    EXPECT_EQ(0, downloads.selected_item);
    EXPECT_EQ(40, app_state.note_ticks);
    EXPECT_EQ(nullptr, fake_clipboard());
    EXPECT_EQ(0, app_state.offer_pending);

    // A hidden finished duplicate turns finished items on and is selected.
    app_state.note_ticks = 0;
    offer("flvbay.test/watch/bb", 2);
    add_offered_download();
    EXPECT_EQ(2, downloads.item_count);
    EXPECT_EQ(1, downloads.selected_item);
    EXPECT_EQ(1, app_state.show_finished);
    EXPECT_EQ(2, app_state.visible_count);

    // Only a prefix of a listed address: a new item.
    offer("flvbay.test/watch/b", 2);
    add_offered_download();
    EXPECT_EQ(3, downloads.item_count);
    EXPECT_EQ(3u, stored_count());
}

TEST_F(ItemsTest, starting_checks_the_output_file_against_done_size) {
    start({engine_item("vidcue.test/watch/a", 3, Queued, 5000, 9000, "a.flv"),
           engine_item("vidcue.test/watch/b", 3, Queued, 5000, 9000, "b.flv"),
           engine_item("vidcue.test/watch/c", 3, Queued, 5000, 9000, "c.flv"),
           engine_item("vidcue.test/watch/d", 3, Finished, 9000, 9000, "d.flv")});
    write_file(dir.file("b.flv"), std::string(3000, 'b'));  // shorter than doneSize
    write_file(dir.file("c.flv"), std::string(7000, 'c'));  // longer: resumes at doneSize
    write_file(dir.file("d.flv"), std::string(9000, 'd'));
    for (int i = 0; i < 4; i++) start_item(i, i % 2);
    EXPECT_EQ(0u, item(0).doneSize);     // no file: from byte 0
    EXPECT_EQ(3000u, item(1).doneSize);  // the file's length: no hole is left
    EXPECT_EQ(5000u, item(2).doneSize);
    EXPECT_EQ(0u, item(3).doneSize);     // a finished item is fetched again
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ((uint32_t)Connecting, item(i).state);
        EXPECT_EQ(i % 2, item(i).userStarted);
        EXPECT_NE(0u, item(i).buffer);
        EXPECT_EQ(0u, item(i).file);
        EXPECT_EQ(0, item(i).requestStage);
    }
    // The file is not held open: the transfer can open it later.
    plat_file f = plat_open_existing_rw(dir.file("c.flv").c_str());
    EXPECT_NE(PLAT_INVALID_FILE, f);
    plat_close(f);
    // Starting is not saved by itself.
    EXPECT_EQ((uint32_t)Queued, stored(0, REC_STATE));
}

TEST_F(ItemsTest, stopping_releases_everything_keeps_the_progress_and_saves) {
    start({engine_item("vidcue.test/watch/a", 3, Queued, 4000, 9000, "a.flv")});
    write_file(dir.file("a.flv"), std::string(4000, 'a'));
    menu(1, 0);
    ASSERT_EQ((uint32_t)Connecting, item(0).state);
    ASSERT_EQ(1, item(0).userStarted);
    int buffers = buffers_in_use();
    menu(2, 0);
    EXPECT_EQ((uint32_t)Stopped, item(0).state);
    EXPECT_EQ(0u, item(0).buffer);
    EXPECT_EQ(buffers - 1, buffers_in_use());
    EXPECT_EQ(0, item(0).userStarted);
    EXPECT_EQ(4000u, item(0).doneSize);
    EXPECT_EQ((uint32_t)Stopped, stored(0, REC_STATE));
    EXPECT_EQ(4000u, stored(0, REC_DONE));
    // Stop is not offered for a finished item; nothing changes.
    item(0).state = Finished;
    menu(2, 0);
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(1, downloads.item_count);
}

TEST_F(ItemsTest, menu_opens_the_page_and_shows_an_existing_file) {
    start({engine_item("vidcue.test/watch/a?x=1", 3, Finished, 10, 10, "clip 1A2B.flv"),
           engine_item("vidcue.test/watch/b", 3, Queued, 0, 0, "missing.flv")});
    write_file(dir.file("clip 1A2B.flv"), "0123456789");
    menu(4, 0);
    ASSERT_EQ(1u, fake_shell_calls().size());
    EXPECT_EQ("http://vidcue.test/watch/a?x=1", fake_shell_calls()[0].target);
    // Showing the file is the platform's show-in-folder, with the string
    // table's program and option and the file's absolute path.
    menu(5, 0);
    EXPECT_EQ(1u, fake_shell_calls().size());
    ASSERT_EQ(1u, fake_show_calls().size());
    EXPECT_EQ(dir.file("clip 1A2B.flv"), fake_show_calls()[0].path);
    EXPECT_EQ(string_entry(STR_SHOW_PROGRAM), fake_show_calls()[0].program);
    EXPECT_EQ(string_entry(STR_SHOW_PARAM_PREFIX), fake_show_calls()[0].prefix);
    menu(5, 1);  // no file: nothing to show
    menu(4, 7);  // no such item
    EXPECT_EQ(1u, fake_shell_calls().size());
    EXPECT_EQ(1u, fake_show_calls().size());
    EXPECT_EQ(2, downloads.item_count);
    // The same program with other parameters is simply run.
    per_message_step(string_entry(STR_SHOW_PROGRAM), "/e,C:\\");
    EXPECT_EQ(1u, fake_show_calls().size());
    ASSERT_EQ(2u, fake_shell_calls().size());
    EXPECT_EQ("/e,C:\\", fake_shell_calls()[1].params);
}

TEST_F(ItemsTest, removal_from_the_menu_rewrites_the_list_and_its_count) {
    start({engine_item("a.test/1", 3, Queued), engine_item("a.test/2", 3, Queued, 0, 0, "two.flv"),
           engine_item("a.test/3", 3, Queued)});
    write_file(dir.file("two.flv"), "kept");
    start_item(1, 1);
    int buffers = buffers_in_use();
    menu(3, 1);
    EXPECT_EQ((Names{"a.test/1", "a.test/3"}), addresses());
    EXPECT_EQ(buffers - 1, buffers_in_use());
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ(0, app_state.removal_requested);
    EXPECT_EQ(2u, stored_count());
    EXPECT_EQ((Names{"a.test/1", "a.test/3"}), stored_addresses());
    EXPECT_EQ("kept", read_file(dir.file("two.flv")));  // the file on disk stays

    // Other entries never remove, whatever the selection.
    menu(2, 0);
    menu(9, 0);
    menu(3, 5);
    EXPECT_EQ(2, downloads.item_count);
    menu(3, 1);
    menu(3, 0);
    EXPECT_EQ(0, downloads.item_count);
    EXPECT_EQ(0u, stored_count());
}

TEST_F(ItemsTest, delete_key_selects_the_item_that_moves_into_the_place) {
    start({engine_item("a.test/1", 3, Queued), engine_item("a.test/2", 3, Finished),
           engine_item("a.test/3", 3, Queued), engine_item("a.test/4", 3, Queued)});
    app_state.show_finished = 1;
    press_delete(1);
    EXPECT_EQ((Names{"a.test/1", "a.test/3", "a.test/4"}), addresses());
    EXPECT_EQ(1, downloads.selected_item);
    EXPECT_EQ(3u, stored_count());
    press_delete(2);  // the last one: nothing moves into its place
    EXPECT_EQ(-1, downloads.selected_item);
    EXPECT_EQ((Names{"a.test/1", "a.test/3"}), stored_addresses());

    // Only while the window is shown.
    app_state.window_shown = 0;
    press_delete(0);
    EXPECT_EQ(2, downloads.item_count);
}

TEST_F(ItemsTest, delete_key_with_finished_hidden_selects_the_next_unfinished_item) {
    start({engine_item("a.test/1", 3, Queued), engine_item("a.test/2", 3, Finished),
           engine_item("a.test/3", 3, Finished), engine_item("a.test/4", 3, Queued)});
    app_state.show_finished = 0;
    press_delete(0);
    EXPECT_EQ((Names{"a.test/2", "a.test/3", "a.test/4"}), addresses());
    EXPECT_EQ(2, downloads.selected_item);
    press_delete(2);
    EXPECT_EQ(-1, downloads.selected_item);  // only finished ones follow
    EXPECT_EQ((Names{"a.test/2", "a.test/3"}), stored_addresses());
}

TEST_F(ItemsTest, finished_items_are_removed_at_the_sample_when_asked) {
    start({engine_item("a.test/1", 3, Finished), engine_item("a.test/2", 3, Finished),
           engine_item("a.test/3", 3, Queued), engine_item("a.test/4", 3, Finished)},
          0);
    step(25);  // a sample with automatic removal off
    EXPECT_EQ(4, downloads.item_count);
    app_state.auto_remove_finished = 1;
    step(501);
    EXPECT_EQ((Names{"a.test/3"}), addresses());
    EXPECT_EQ(1u, stored_count());
    EXPECT_EQ((Names{"a.test/3"}), stored_addresses());
    EXPECT_EQ(1, app_state.visible_count);
}

TEST_F(ItemsTest, finished_items_of_a_long_list_go_in_one_pass_and_the_marks_follow) {
    // 3,000 downloads, every second one finished, taken out in one pass
    // (one at a time, each removal moved the rest of the table down; with
    // tens of thousands of downloads that held the window for many seconds).
    const int n = 3000;
    std::vector<DownloadItem> items;
    for (int i = 0; i < n; i++)
        items.push_back(engine_item(("a.test/" + std::to_string(i)).c_str(), 3, i % 2 ? Queued : Finished));
    start(items, 0);
    step(25);  // the first sample, with automatic removal off
    ASSERT_EQ(n, downloads.item_count);
    downloads.selected_item = 1501;    // stays on its download, now at 750
    app_state.hovered_item = 2000;     // a finished one: none afterwards
    app_state.auto_remove_finished = 1;
    step(501);

    ASSERT_EQ(n / 2, downloads.item_count);
    int misplaced = 0;
    for (int i = 0; i < n / 2; i++)
        misplaced += std::string(downloads.items[i].pageAddress) != "a.test/" + std::to_string(2 * i + 1);
    EXPECT_EQ(0, misplaced);
    EXPECT_EQ(750, downloads.selected_item);
    EXPECT_EQ(-1, app_state.hovered_item);
    EXPECT_EQ(n / 2, app_state.visible_count);
    // The candidate record follows the last item, blank.
    EXPECT_STREQ("", downloads.items[n / 2].pageAddress);
    EXPECT_EQ((uint32_t)(n / 2), stored_count());
    Names stored = stored_addresses();
    ASSERT_EQ((size_t)(n / 2), stored.size());
    EXPECT_EQ("a.test/1", stored.front());
    EXPECT_EQ("a.test/2999", stored.back());
}

TEST_F(ItemsTest, hidden_finished_items_drop_out_of_the_list_at_the_sample) {
    start({engine_item("a.test/1", 3, Queued), engine_item("a.test/2", 3, Queued)}, 0);
    app_state.show_finished = 0;
    step(25);
    EXPECT_EQ(2, app_state.visible_count);
    item(0).state = Finished;
    step(100);
    EXPECT_EQ(2, app_state.visible_count);  // not before the next sample
    step(401);
    EXPECT_EQ(1, app_state.visible_count);
    EXPECT_EQ(1, app_state.visible_rows[0]);
}

TEST_F(ItemsTest, interrupted_transfers_resume_at_once_after_a_restart) {
    DownloadItem restart = engine_item("a.test/7", 3, RestartFromZero, 700, 900, "r.flv");
    restart.buffer = 77;  // handles from the earlier run mean nothing
    restart.socket = 12;
    restart.file = 13;
    restart.lastActivityTick = 42;
    // One file shorter than its doneSize, one as long; the others missing.
    write_file(dir.file("h.flv"), std::string(500, 'h'));
    write_file(dir.file("c.flv"), std::string(800, 'c'));
    int before = buffers_in_use();
    start({engine_item("a.test/8", 3, Connecting, 800, 900, "c.flv"),
           engine_item("a.test/9", 3, ReceivingHeaders, 800, 900, "h.flv"),
           engine_item("a.test/10", 3, WaitingRetry, 800, 900, "w.flv"), restart,
           engine_item("a.test/6", 3, Finished, 900, 900), engine_item("a.test/3", 3, Downloading, 5, 900)});
    const uint32_t expect_state[] = {Connecting, Connecting, Connecting, RestartFromZero, Finished, Queued};
    const uint32_t expect_done[] = {800, 500, 0, 0, 900, 5};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(expect_state[i], item(i).state) << i;
        EXPECT_EQ(expect_done[i], item(i).doneSize) << i;
        bool running = i < 4;
        EXPECT_EQ(running, item(i).buffer != 0) << i;
        if (running) {
            EXPECT_EQ(plat_tick(), item(i).lastActivityTick) << i;
        }
        EXPECT_EQ(0u, item(i).socket);
        EXPECT_EQ(0u, item(i).file);
        EXPECT_EQ(0, item(i).requestStage);
    }
    EXPECT_EQ(before + 4, buffers_in_use());
}

// A kill between storing a stream's last block and recording the finish
// leaves a record that is not Finished while its file holds every byte.
// Started again - at start-up, by the regulation, by hand - such an item is
// finished at once, recorded, holds nothing, and neither its stream is
// asked for from its end (refused, which gave the item up) nor its file
// written; an item whose file is short still goes on from the file.
TEST_F(ItemsTest, an_item_whose_file_holds_the_whole_stream_finishes_when_started) {
    const std::string whole(9000, 'w');
    for (const char *name : {"q.flv", "c.flv", "f.flv"}) write_file(dir.file(name), whole);
    write_file(dir.file("s.flv"), std::string(6000, 's'));
    int before = buffers_in_use();
    start({engine_item("vidcue.test/watch/q", 3, Downloading, 9000, 9000, "q.flv"),
           engine_item("vidcue.test/watch/c", 3, Connecting, 9000, 9000, "c.flv"),
           engine_item("vidcue.test/watch/f", 3, Queued, 9000, 9000, "f.flv"),
           engine_item("vidcue.test/watch/s", 3, Queued, 9000, 9000, "s.flv")},
          1);
    // At start-up: the transfer that was connecting.
    EXPECT_EQ((uint32_t)Finished, item(1).state);
    EXPECT_EQ((uint32_t)Finished, stored(1, REC_STATE));
    EXPECT_EQ((uint32_t)Queued, item(0).state);  // a download goes back to the queue at loading
    EXPECT_EQ(before, buffers_in_use());

    // The regulation starts the queued one at the first sample.
    go_online();
    fake_fail(FAULT_RESOLVE, 1, 1);
    step();
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ((uint32_t)Finished, stored(0, REC_STATE));
    EXPECT_EQ(9000u, stored(0, REC_DONE));

    // By hand, after a run that gave it up.
    item(2).state = Failed;
    menu(1, 2);
    EXPECT_EQ((uint32_t)Finished, item(2).state);
    EXPECT_EQ((uint32_t)Finished, stored(2, REC_STATE));
    EXPECT_EQ(0, item(2).userStarted);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(0u, item(i).buffer) << i;
        EXPECT_EQ(0u, item(i).file) << i;
        EXPECT_EQ(9000u, item(i).doneSize) << i;
    }
    EXPECT_EQ(before, buffers_in_use());
    step();
    EXPECT_EQ(0, fake_calls(FAULT_RESOLVE));  // nothing was asked for

    // The short file: fetched on from its length.
    menu(1, 3);
    EXPECT_EQ((uint32_t)Connecting, item(3).state);
    EXPECT_EQ(6000u, item(3).doneSize);
    for (const char *name : {"q.flv", "c.flv", "f.flv"}) EXPECT_EQ(whole, read_file(dir.file(name))) << name;
}

}  // namespace

TEST_F(ItemsTest, a_link_repeats_only_its_exact_address_and_has_its_page_asked_for) {
    start({engine_item("http://example.com/page", SITE_WEB_PAGE, Queued),
           engine_item("reelbox.test/watch/a", 0, Queued)}, 0);
    go_online();
    // Its scheme stored in lower case, the same link repeats; a link holding
    // a listed one does not.
    fake_set_clipboard("HTTP://example.com/page");
    poll_clipboard();
    add_offered_download();
    EXPECT_EQ(0, downloads.selected_item);
    offer("http://example.com/page.html", SITE_WEB_PAGE);
    const int buffers = buffers_in_use();
    add_offered_download();
    ASSERT_EQ(3, downloads.item_count);

    // A link that is not a media file has its page asked for at its first
    // step, like a direct link (what its answer leads to is told by
    // test_web_page): its host is looked up (and not found here), so it
    // waits for a retry instead of failing.
    step();
    EXPECT_EQ((uint32_t)WaitingRetry, item(2).state);
    EXPECT_EQ(1, fake_calls(FAULT_RESOLVE));
    EXPECT_EQ(1, app_state.online);
    reset_item(2, Stopped);
    EXPECT_EQ(buffers, buffers_in_use());

    // A site's page holding a listed link is new; one holding a listed page
    // repeats it.
    offer("reelbox.test/watch/b?u=http://example.com/page", 0);
    add_offered_download();
    offer("reelbox.test/watch/a&x=1", 0);
    add_offered_download();
    EXPECT_EQ(1, downloads.selected_item);
    EXPECT_EQ((Names{"http://example.com/page", "reelbox.test/watch/a", "http://example.com/page.html",
                     "reelbox.test/watch/b?u=http://example.com/page"}),
              stored_addresses());
}
