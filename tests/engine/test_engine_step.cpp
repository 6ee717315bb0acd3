// The engine step on the fake clock, with no network: the regulation of
// running downloads, time-outs, retries and the give-up, the offline mode,
// the speed sample and the key latch.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/engine_fixture.h"
#include "display/display.h"
#include "ui/ui.h"
#include "web/web.h"
#include "support/scripted_connect.h"

namespace {

struct EngineStepTest : EngineFixture {
    // Nothing can connect: every connection attempt finds no host.
    static void no_network() {
        fake_fail(FAULT_RESOLVE, 1, 1);
        fake_fail(FAULT_CONNECT, 1, 1);
    }
    // Steps with the clock following real time until the probe in flight
    // (if any) has ended: its answer comes in a later step than its start.
    static bool until_probe_ends() {
        return run_until([] { return app_state.probe_phase == PROBE_IDLE; }, 15.0);
    }
    static std::vector<uint32_t> states() {
        std::vector<uint32_t> s;
        for (int32_t i = 0; i < downloads.item_count; i++) s.push_back(downloads.items[i].state);
        return s;
    }
    // A download that is running without a connection: it neither reads nor
    // completes while the test looks at it.
    static void running(int i, int user_started) {
        DownloadItem &it = downloads.items[i];
        it.state = Downloading;
        it.totalSize = 10000000;
        it.userStarted = (int16_t)user_started;
        it.lastActivityTick = app_state.now_tick;
    }
    // Steps up to and including the next speed sample.
    static void until_sample() {
        for (int k = 0; k < 30; k++) {
            step(25);
            if (app_state.sample_due) return;
        }
        FAIL() << "no sample in 750 ms";
    }
};

const uint32_t Q = Queued, C = Connecting, W = WaitingRetry, D = Downloading;

TEST_F(EngineStepTest, regulation_starts_the_lowest_queued_item_one_per_sample_up_to_the_limit) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued),
           engine_item("vidcue.test/watch/c", 3, Queued), engine_item("vidcue.test/watch/d", 3, Queued)},
          2);
    go_online();
    no_network();
    until_sample();  // the first step after start-up samples at once
    EXPECT_EQ((std::vector<uint32_t>{C, Q, Q, Q}), states());
    EXPECT_EQ(0, item(0).userStarted);
    step(25);
    EXPECT_EQ((std::vector<uint32_t>{W, Q, Q, Q}), states());  // no host: waits for its retry
    EXPECT_EQ(1, item(0).retryCount);
    until_sample();
    EXPECT_EQ((std::vector<uint32_t>{W, C, Q, Q}), states());
    until_sample();
    until_sample();
    // Two are running (waiting counts as running): nothing more starts.
    EXPECT_EQ((std::vector<uint32_t>{W, W, Q, Q}), states());
    EXPECT_EQ(2, app_state.active_count);
}

TEST_F(EngineStepTest, limit_zero_starts_nothing_and_pushes_back_one_download_per_sample) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued),
           engine_item("vidcue.test/watch/c", 3, Queued), engine_item("vidcue.test/watch/d", 3, Queued)},
          0);
    go_online();
    running(0, 0);
    running(1, 1);
    running(2, 0);
    until_sample();
    // The highest-indexed running download that the engine started yields.
    EXPECT_EQ((std::vector<uint32_t>{D, D, Q, Q}), states());
    // The push-back saves the record (its tick is this step's).
    EXPECT_EQ(app_state.now_tick, stored(2, 8));
    until_sample();
    EXPECT_EQ((std::vector<uint32_t>{Q, D, Q, Q}), states());
    until_sample();
    until_sample();
    // The one the user started runs on, outside the count.
    EXPECT_EQ((std::vector<uint32_t>{Q, D, Q, Q}), states());
    EXPECT_EQ(0, app_state.active_count);
    EXPECT_EQ(1, app_state.downloading_count);
}

TEST_F(EngineStepTest, user_started_downloads_do_not_count_against_the_limit) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued),
           engine_item("vidcue.test/watch/c", 3, Queued)},
          1);
    go_online();
    no_network();
    running(0, 1);
    until_sample();
    EXPECT_EQ((std::vector<uint32_t>{D, C, Q}), states());
    until_sample();
    until_sample();
    EXPECT_EQ((std::vector<uint32_t>{D, W, Q}), states());
    // Started by hand, the third runs too, and neither is pushed back.
    downloads.selected_item = 2;
    app_state.menu_entry = 1;
    run_menu_command();
    EXPECT_EQ(1, item(2).userStarted);
    until_sample();
    until_sample();
    EXPECT_EQ(1, app_state.active_count);
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_NE((uint32_t)Queued, item(2).state);
}

TEST_F(EngineStepTest, failed_connections_are_retried_after_twenty_seconds_then_given_up) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 1);
    go_online();
    no_network();
    until_sample();
    step(25);
    ASSERT_EQ((uint32_t)WaitingRetry, item(0).state);
    ASSERT_EQ(1, item(0).retryCount);

    step(20000);  // exactly 20 s idle: not yet
    EXPECT_EQ((uint32_t)WaitingRetry, item(0).state);
    step(1);
    // Retried: fetched again from the page, one more retry counted, and the
    // new connection fails again.
    EXPECT_EQ((uint32_t)Connecting, item(0).state);
    EXPECT_EQ(2, item(0).retryCount);
    EXPECT_EQ(0, item(0).requestStage);
    step(25);
    EXPECT_EQ((uint32_t)WaitingRetry, item(0).state);
    EXPECT_EQ(3, item(0).retryCount);

    step(ITEM_TIMEOUT_MS + 1);
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    EXPECT_EQ(0u, item(0).buffer);
    EXPECT_EQ(0, app_state.online);
    EXPECT_EQ((int32_t)app_state.now_tick, app_state.engine_tick);
}

TEST_F(EngineStepTest, two_items_given_up_in_one_step_both_fail) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued)}, 0);
    go_online();
    for (int i = 0; i < 2; i++) {
        item(i).state = WaitingRetry;
        item(i).retryCount = 3;
        item(i).lastActivityTick = app_state.now_tick - 30000;
    }
    step(25);
    EXPECT_EQ((std::vector<uint32_t>{(uint32_t)Failed, (uint32_t)Failed}), states());
    EXPECT_EQ(0, app_state.online);
}

TEST_F(EngineStepTest, time_out_retry_starts_over_from_the_captured_page) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued)}, 0);
    go_online();
    no_network();
    // A transfer gone silent: file open, bytes held, a redirect target in
    // its buffer from an earlier page redirect.
    DownloadItem &it = item(0);
    it.state = WaitingRetry;
    it.buffer = buffer_alloc();
    it.bufferFill = 500;
    it.sampleBytes = 70;
    it.speed = 9000;
    it.requestStage = 2;
    it.redirectedPage = 1;
    it.doneSize = 4000;
    it.file = plat_create_new_rw(dir.file("held.flv").c_str());
    it.lastActivityTick = app_state.now_tick;

    step(ITEM_TIMEOUT_MS + 1);
    EXPECT_EQ((uint32_t)Connecting, it.state);
    EXPECT_EQ(0, it.requestStage);
    EXPECT_EQ(0, it.redirectedPage);  // the page asked for is pageAddress again
    EXPECT_EQ(0u, it.bufferFill);
    EXPECT_EQ(0u, it.sampleBytes);
    EXPECT_EQ(0u, it.speed);
    EXPECT_EQ(PLAT_INVALID_FILE, it.file);
    EXPECT_NE(0u, it.buffer);
    EXPECT_EQ(4000u, it.doneSize);
    EXPECT_EQ(1, it.retryCount);
    // Retries change memory only; the stored record catches up later.
    EXPECT_EQ((uint32_t)Queued, stored(0, REC_STATE));

    // A tick from the future counts as idle too (compared unsigned).
    item(1).state = WaitingRetry;
    item(1).lastActivityTick = app_state.now_tick + 5000;
    step(25);
    EXPECT_EQ((uint32_t)Connecting, item(1).state);
    EXPECT_EQ(1, item(1).retryCount);
    // It held no buffer (nothing had given it one); the retry does, or it
    // could never receive anything.
    EXPECT_NE(0u, item(1).buffer);
}

TEST_F(EngineStepTest, offline_engine_touches_no_item_and_probes_every_six_seconds) {
    // The first item's page never ends, so it keeps its slot once started.
    start({engine_item("vidcue.test/watch/a?noend=1&bare=1&stall=1", 3, Queued),
           engine_item("vidcue.test/watch/b", 3, Queued)},
          1);
    // The probe goes through a proxy on a port where nothing listens.
    use_loopback_proxy(closed_loopback_port());
    item(1).state = Failed;
    step(25);  // 3,525 ms after start-up's base: no probe yet
    EXPECT_EQ(0, app_state.offline_notice);
    EXPECT_EQ((uint32_t)Failed, item(1).state);
    step(2500);  // past 6 s: the probe runs and fails
    ASSERT_TRUE(until_probe_ends());
    EXPECT_EQ(0, app_state.online);
    EXPECT_EQ(1, app_state.offline_notice);
    // Everything given up while the network was down is queued again,
    // but nothing starts while offline.
    EXPECT_EQ((std::vector<uint32_t>{Q, Q}), states());
    for (int k = 0; k < 40; k++) step(25);
    EXPECT_EQ((std::vector<uint32_t>{Q, Q}), states());

    TestWeb &web = shared_testweb();
    ASSERT_NE(0, web.port);
    use_loopback_proxy(web.port);
    step(5000);
    EXPECT_EQ(0, app_state.online);  // the probe waits for its 6 seconds
    step(1100);
    ASSERT_TRUE(until_probe_ends());
    EXPECT_EQ(1, app_state.online);
    EXPECT_EQ(0, app_state.offline_notice);
    until_sample();
    EXPECT_NE((uint32_t)Queued, item(0).state);  // started once online
    EXPECT_EQ((uint32_t)Queued, item(1).state);
}

TEST_F(EngineStepTest, starting_by_hand_probes_at_the_next_step_when_offline) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 1);
    use_loopback_proxy(closed_loopback_port());
    step(25);
    ASSERT_EQ(0, app_state.online);
    downloads.selected_item = 0;
    app_state.menu_entry = 1;
    run_menu_command();
    EXPECT_EQ((int32_t)(app_state.now_tick + 8000), app_state.engine_tick);
    int connects = fake_calls(FAULT_CONNECT);
    step(25);
    EXPECT_EQ(connects + 1, fake_calls(FAULT_CONNECT));  // the probe started
    ASSERT_TRUE(until_probe_ends());
    EXPECT_EQ(1, app_state.offline_notice);  // the probe ran (and failed)
}

// A probe on a scripted connect takes as many steps as its connect and
// answer do; the engine stays offline meanwhile and nothing changes: no
// item is touched, no second probe starts, the failed item stays failed.
// Only its end acts: a failure shows the notice and queues failed items
// again, a success goes online and leaves failed items failed; the six
// seconds to the next probe count from that end.
TEST_F(EngineStepTest, a_probe_in_flight_changes_nothing_until_it_ends) {
    fake_script_connects(1);
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued)}, 1);
    use_loopback_proxy(8080);
    item(0).state = Failed;   // (loading queues a failed item)
    step(25);
    step(2500);  // past 6 s: the probe starts
    ASSERT_EQ(1u, fake_connects().size());
    for (int k = 0; k < 150; k++) step(25);   // within the connect's bound
    EXPECT_EQ(1u, fake_connects().size());
    EXPECT_EQ(PROBE_CONNECTING, app_state.probe_phase);
    EXPECT_EQ(0, app_state.online);
    EXPECT_EQ(0, app_state.offline_notice);
    EXPECT_EQ((std::vector<uint32_t>{Failed, Q}), states());

    fake_connects()[0].result = -1;   // refused
    step(25);
    EXPECT_EQ(PROBE_IDLE, app_state.probe_phase);
    EXPECT_EQ(1, app_state.offline_notice);
    EXPECT_EQ((std::vector<uint32_t>{Q, Q}), states());
    EXPECT_EQ((int32_t)plat_tick(), app_state.engine_tick);

    item(0).state = Failed;
    step(PROBE_PERIOD_MS);
    EXPECT_EQ(1u, fake_connects().size());
    step(1);   // six seconds after the last probe ended
    ASSERT_EQ(2u, fake_connects().size());
    fake_connects()[1].result = 1;
    for (int k = 0; k < 20; k++) step(25);
    bool closed = false;
    EXPECT_NE("", peer_bytes(fake_connects()[1].peer, &closed));
    EXPECT_EQ(PROBE_WAITING, app_state.probe_phase);
    EXPECT_EQ(0, app_state.online);
    ASSERT_EQ(4, (int)write(fake_connects()[1].peer, "HTTP", 4));
    step(25);
    EXPECT_EQ(1, app_state.online);
    EXPECT_EQ(0, app_state.offline_notice);
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    peer_bytes(fake_connects()[1].peer, &closed);
    EXPECT_TRUE(closed);
}

TEST_F(EngineStepTest, shutdown_closes_the_connection_of_a_probe_in_flight) {
    fake_script_connects(1);
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 1);
    use_loopback_proxy(8080);
    step(2525);
    ASSERT_EQ(1u, fake_connects().size());
    fake_connects()[0].result = 1;
    step(25);
    ASSERT_EQ(PROBE_WAITING, app_state.probe_phase);
    bool closed = false;
    peer_bytes(fake_connects()[0].peer, &closed);
    ASSERT_FALSE(closed);
    shutdown();
    started = false;
    peer_bytes(fake_connects()[0].peer, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(0u, app_state.probe_socket);
}

// Behind a dead proxy on real loopback sockets - one that accepts and never
// answers, one whose accept queue is full so that the handshake never
// completes - no engine step is held (1 s is far above what a step takes),
// while each probe runs to its deadline on the clock, fails, moves to the
// next target and queues the failed item again; nor is one held by a
// download's connect once online.
TEST_F(EngineStepTest, behind_a_dead_proxy_no_step_is_held_by_the_probe_or_a_download) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 1);
    int accepting_port = 0;
    int accepting = loopback_listen(8, &accepting_port);
    ASSERT_GE(accepting, 0);
    SilentListener full;
    ASSERT_TRUE(open_silent_listener(&full));
    struct Kind {
        const char *name;
        int port;
        uint32_t deadline_ms;
    } kinds[] = {{"accepts_and_never_answers", accepting_port, 3000},
                 {"never_completes_the_handshake", full.port, (uint32_t)CONNECT_TIMEOUT_MS}};
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.name);
        use_loopback_proxy(kind.port);
        item(0).state = Failed;
        int target = app_state.probe_target;
        app_state.engine_tick = (int32_t)(plat_tick() - PROBE_PERIOD_MS - 1);   // due now
        double longest_step = 0;
        uint32_t started_at = 0, ended_at = 0;
        bool started = false, ended = false;
        auto begin = std::chrono::steady_clock::now();
        uint32_t base = plat_tick();
        while (!ended) {
            double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            ASSERT_LT(elapsed, 20.0) << "the probe never ended";
            fake_set_tick(base + (uint32_t)(elapsed * 1000.0) + 1);
            int phase_before = app_state.probe_phase;
            auto s0 = std::chrono::steady_clock::now();
            step(0);
            double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
            if (held > longest_step) longest_step = held;
            if (phase_before == PROBE_IDLE && app_state.probe_phase != PROBE_IDLE) {
                started = true;
                started_at = app_state.now_tick;
                EXPECT_EQ((uint32_t)Failed, item(0).state) << "nothing changes while it is in flight";
            } else if (started && app_state.probe_phase == PROBE_IDLE) {
                ended = true;
                ended_at = app_state.now_tick;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        RecordProperty(std::string(kind.name) + "_longest_step_seconds", std::to_string(longest_step));
        EXPECT_LT(longest_step, 1.0);
        EXPECT_GE(ended_at - started_at, kind.deadline_ms);
        EXPECT_EQ((target + 1) % 3, app_state.probe_target);
        EXPECT_EQ(0, app_state.online);
        EXPECT_EQ(1, app_state.offline_notice);
        EXPECT_EQ((uint32_t)Queued, item(0).state);
    }

    // Online behind the proxy that never completes a handshake, the item
    // started by the engine waits for its connect over the steps instead of
    // in one of them.
    go_online();
    double longest_step = 0;
    auto begin = std::chrono::steady_clock::now();
    uint32_t base = plat_tick();
    for (double elapsed = 0; elapsed < 1.5;
         elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count()) {
        fake_set_tick(base + (uint32_t)(elapsed * 1000.0) + 1);
        auto s0 = std::chrono::steady_clock::now();
        step(0);
        double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
        if (held > longest_step) longest_step = held;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LT(longest_step, 1.0);
    EXPECT_EQ((uint32_t)Connecting, item(0).state);
    EXPECT_NE(0u, item(0).socket);
    close_silent_listener(&full);
    close(accepting);
}

TEST_F(EngineStepTest, speed_is_averaged_per_sample_and_shown_doubled_in_the_status_text) {
    start({engine_item("vidcue.test/watch/a", 3, Queued), engine_item("vidcue.test/watch/b", 3, Queued)}, 0);
    go_online();
    until_sample();
    running(0, 1);
    // 200,000 bytes in a period of 1,000 ms: 100,000 per 500 ms, averaged
    // with the old speed 0.
    item(0).sampleBytes = 200000;
    app_state.sample_tick = (int32_t)(app_state.now_tick - 1000);
    step(0);
    EXPECT_EQ(1, app_state.sample_due);
    EXPECT_EQ(50000u, item(0).speed);
    EXPECT_EQ(0u, item(0).sampleBytes);
    EXPECT_EQ(50000, app_state.total_speed);
    // The status text of that sample was written before the item pass.
    char speed[128] = "";
    format_speed(speed, 0);
    EXPECT_EQ(std::string("Downloads now: 0 @ ") + speed, app_state.status_text);

    // Between samples the speed stays; a stall halves it at the next one.
    step(400);
    EXPECT_EQ(0, app_state.sample_due);
    EXPECT_EQ(50000u, item(0).speed);
    step(101);
    EXPECT_EQ(25000u, item(0).speed);
    format_speed(speed, 100000);
    EXPECT_EQ(std::string("Downloads now: 1 @ ") + speed, app_state.status_text);
    EXPECT_LE(strlen(app_state.status_text), 63u);
}

TEST_F(EngineStepTest, clock_going_back_takes_a_sample_at_once_as_if_500_ms_passed) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 0);
    go_online();
    until_sample();
    running(0, 1);
    item(0).sampleBytes = 1000;
    item(0).speed = 0;
    app_state.sample_tick = (int32_t)(app_state.now_tick + 100);  // "later" than now
    step(0);
    EXPECT_EQ(1, app_state.sample_due);
    EXPECT_EQ(500u, item(0).speed);  // (1000 * 1.0 + 0) / 2
    EXPECT_EQ((int32_t)app_state.now_tick, app_state.sample_tick);
}

TEST_F(EngineStepTest, size_sums_are_taken_over_every_item_without_overflow) {
    start({engine_item("vidcue.test/watch/a", 3, Finished, 3000000000u, 3000000000u),
           engine_item("vidcue.test/watch/b", 3, Stopped, 1000000000u, 3500000000u)},
          0);
    step(25);  // the first step samples, online or not
    EXPECT_EQ(6500000000.0, app_state.sum_total_size);
    EXPECT_EQ(4000000000.0, app_state.sum_done_size);
}

TEST_F(EngineStepTest, timer_message_runs_one_engine_step_while_the_window_is_hidden) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)}, 1);
    go_online();
    no_network();
    app_state.window_shown = 0;
    fake_advance(25);
    app_state.current_message =
        PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
    per_message_step(nullptr, nullptr);
    main_window_proc(app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0);
    EXPECT_EQ((uint32_t)Connecting, item(0).state);  // started by that step's sample
    main_window_proc(app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0);
    EXPECT_EQ((uint32_t)WaitingRetry, item(0).state);  // and served by the next
}

// ---- the key latch

struct KeyLatchTest : testing::Test {
    void SetUp() override {
        fake_reset();
        app_state.pending_key = 0;
    }
    // One message: what the settings panel would see, then the latch.
    static int32_t message() {
        poll_keys();
        int32_t seen = app_state.pending_key;
        mark_key_handled();
        return seen;
    }
};

TEST_F(KeyLatchTest, a_held_digit_is_taken_once) {
    fake_set_key('5', 1);
    EXPECT_EQ('5', message());
    EXPECT_EQ(-'5', message());
    EXPECT_EQ(-'5', message());
    fake_set_key('5', 0);
    EXPECT_EQ(0, message());
    fake_set_key('5', 1);
    EXPECT_EQ('5', message());
}

TEST_F(KeyLatchTest, of_two_held_digits_the_lower_is_taken_then_the_higher_when_it_is_released) {
    fake_set_key('7', 1);
    fake_set_key('3', 1);
    EXPECT_EQ('3', message());
    EXPECT_EQ(-'3', message());
    fake_set_key('3', 0);
    EXPECT_EQ('7', message());
    EXPECT_EQ(-'7', message());
}

TEST_F(KeyLatchTest, backspace_held_with_a_digit_repeats_at_every_message) {
    fake_set_key(PLAT_VK_BACK, 1);
    EXPECT_EQ(PLAT_VK_BACK, message());
    EXPECT_EQ(-PLAT_VK_BACK, message());  // alone it is taken once
    fake_set_key('4', 1);
    EXPECT_EQ(PLAT_VK_BACK, message());
    EXPECT_EQ(PLAT_VK_BACK, message());
    EXPECT_EQ(PLAT_VK_BACK, message());
}

TEST_F(KeyLatchTest, per_message_step_reads_the_clock_and_leaves_the_key_handled) {
    fake_set_tick(123456);
    fake_set_key('0', 1);
    app_state.current_message =
        PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
    per_message_step(nullptr, nullptr);
    EXPECT_EQ(123456u, app_state.now_tick);
    EXPECT_EQ(-'0', app_state.pending_key);
    EXPECT_TRUE(fake_shell_calls().empty());
    per_message_step("/tmp/some file.flv", nullptr);
    ASSERT_EQ(1u, fake_shell_calls().size());
    EXPECT_EQ("/tmp/some file.flv", fake_shell_calls()[0].target);
}

}  // namespace
