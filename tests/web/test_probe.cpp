// The connectivity probe, one call per engine step.  On real loopback
// sockets through the proxy setting: a target that answers, one that
// refuses, one that accepts and stays silent, one that never completes the
// handshake, and one that closes without a byte (the targets themselves are
// never reached).  On scripted connects: what happens at each step, with the
// clock moved by the test.
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "ui/probe.h"
#include "web_fixture.h"

namespace {

// The probe's wait for an answer once connected (ui/probe.cpp).
const uint32_t PROBE_ANSWER_WAIT_MS = 3000;

struct ProbeTest : WebFixture {
    double seconds = 0;        // how long the last probe took as a whole
    double longest_call = 0;   // the longest that one of its calls held the thread
    uint32_t ticks = 0;        // now_tick from its first call to its result

    // Runs one probe to its result as the engine does: one call per step of
    // a few milliseconds, the clock following real time.
    int run_probe(const char *what = nullptr) {
        auto begin = std::chrono::steady_clock::now();
        uint32_t base = app_state.now_tick;
        longest_call = 0;
        for (;;) {
            double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            app_state.now_tick = base + (uint32_t)(elapsed * 1000.0);
            fake_set_tick(app_state.now_tick);
            auto call = std::chrono::steady_clock::now();
            int result = probe_connectivity();
            double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - call).count();
            if (held > longest_call) longest_call = held;
            if (result != PROBE_IN_FLIGHT || elapsed > 30.0) {
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                ticks = app_state.now_tick - base;
                if (what) RecordProperty(std::string(what) + "_seconds", std::to_string(seconds));
                return result;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // One call at the fake clock moved by ms.
    static int call_after(uint32_t ms) {
        fake_advance(ms);
        app_state.now_tick = plat_tick();
        return probe_connectivity();
    }
};

// A loopback listener that never accepts: the kernel completes the
// handshake, the request is taken in, and nothing ever answers.
struct MuteListener {
    int fd = -1, port = 0;
    MuteListener() { fd = loopback_listen(8, &port); }
    ~MuteListener() { close(fd); }
};

// What the test's end of a scripted connect has received so far, without
// waiting; closed is set when the program's end has been closed.
std::string peer_bytes(int peer, bool *closed = nullptr) {
    std::string got;
    char buffer[4096];
    if (closed) *closed = false;
    for (;;) {
        struct pollfd p = {peer, POLLIN, 0};
        if (poll(&p, 1, 0) != 1) break;
        ssize_t n = recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got.append(buffer, (size_t)n);
    }
    return got;
}

// ------------------------------------------------------- real sockets

TEST_F(ProbeTest, an_answering_target_means_online_and_is_kept) {
    int port = shared_testweb().port;
    ASSERT_GT(port, 0);
    use_loopback_proxy(port);
    for (int target = 0; target < 3; target++) {
        SCOPED_TRACE(target);
        app_state.probe_target = target;
        EXPECT_EQ(1, run_probe());
        EXPECT_EQ(target, app_state.probe_target);
        EXPECT_EQ(0u, app_state.probe_socket);
    }
}

TEST_F(ProbeTest, a_refusing_target_fails_and_the_next_target_is_tried_next) {
    use_loopback_proxy(closed_loopback_port());
    app_state.probe_target = 0;
    EXPECT_EQ(0, run_probe("refused"));
    EXPECT_EQ(1, app_state.probe_target);
    EXPECT_EQ(0, run_probe());
    EXPECT_EQ(2, app_state.probe_target);
    EXPECT_EQ(0, run_probe());
    EXPECT_EQ(0, app_state.probe_target);
}

// The two dead proxies: neither holds a call of the probe (1 s is far above
// what a call takes), and each probe runs to its deadline on the clock.
TEST_F(ProbeTest, a_target_that_accepts_and_stays_silent_counts_as_a_failure) {
    MuteListener mute;
    use_loopback_proxy(mute.port);
    app_state.probe_target = 1;
    EXPECT_EQ(0, run_probe("silent_after_connect"));
    EXPECT_EQ(2, app_state.probe_target);
    // Connected at once, the probe gives the answer its full wait.
    EXPECT_GE(ticks, PROBE_ANSWER_WAIT_MS);
    EXPECT_LT(longest_call, 1.0);
}

TEST_F(ProbeTest, a_target_that_never_completes_the_handshake_counts_as_a_failure) {
    SilentListener silent;
    ASSERT_TRUE(open_silent_listener(&silent));
    use_loopback_proxy(silent.port);
    app_state.probe_target = 2;
    EXPECT_EQ(0, run_probe("silent_handshake"));
    EXPECT_EQ(0, app_state.probe_target);
    // The connect's bound, and no answer wait on top of it: nothing can
    // answer on a connection that was never made.
    EXPECT_GE(ticks, (uint32_t)CONNECT_TIMEOUT_MS);
    EXPECT_LT(ticks, (uint32_t)CONNECT_TIMEOUT_MS + PROBE_ANSWER_WAIT_MS / 2);
    EXPECT_LT(longest_call, 1.0);
    close_silent_listener(&silent);
}

TEST_F(ProbeTest, a_connection_closed_without_a_byte_counts_as_a_failure) {
    MuteListener server;
    std::thread closer([&] {
        int c = accept(server.fd, nullptr, nullptr);
        if (c >= 0) close(c);
    });
    use_loopback_proxy(server.port);
    EXPECT_EQ(0, run_probe());
    closer.join();
    EXPECT_EQ(1, app_state.probe_target);
    // Told by the close, long before the answer's wait is up.
    EXPECT_LT(ticks, PROBE_ANSWER_WAIT_MS);
}

TEST_F(ProbeTest, an_unknown_target_number_starts_again_at_the_first) {
    int port = shared_testweb().port;
    ASSERT_GT(port, 0);
    use_loopback_proxy(port);
    app_state.probe_target = 7;
    EXPECT_EQ(1, run_probe());
    EXPECT_EQ(0, app_state.probe_target);
}

// ---------------------------------------------------- scripted connects

// The whole way of a probe that succeeds: the connect goes to the proxy and
// is waited for over several steps with nothing sent; once it is made the
// request goes out, the same bytes as a waiting request would send; the
// first byte of an answer, steps later, makes it a success.
TEST_F(ProbeTest, answers_on_the_first_byte_after_several_steps_and_sends_only_once_connected) {
    fake_script_connects(1);
    use_loopback_proxy(8080);
    app_state.proxy_address[0] = 10;
    app_state.proxy_address[3] = 7;
    app_state.probe_target = 1;

    EXPECT_EQ(PROBE_IN_FLIGHT, probe_connectivity());
    ASSERT_EQ(1u, fake_connects().size());
    const FakeConnect &c = fake_connects()[0];
    const uint8_t *octets = (const uint8_t *)&c.address;
    EXPECT_EQ((std::vector<int>{10, 0, 0, 7}), (std::vector<int>{octets[0], octets[1], octets[2], octets[3]}));
    EXPECT_EQ(8080, c.port);
    EXPECT_EQ(c.socket, app_state.probe_socket);
    for (int k = 0; k < 10; k++) EXPECT_EQ(PROBE_IN_FLIGHT, call_after(300));
    EXPECT_EQ("", peer_bytes(c.peer)) << "nothing is sent before the connect is made";

    fake_connects()[0].result = 1;
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));
    std::string request = peer_bytes(c.peer);
    // The request a waiting open_request sends to the same target.
    std::string expected(BUILD_REQUEST_CAP, '\0');
    std::string host = string_entry(STR_PROBE_2);
    std::string path;
    size_t slash = host.find('/');
    if (slash != std::string::npos) {
        path = host.substr(slash + 1);
        host = host.substr(0, slash);
    }
    int n = build_request(&expected[0], host.c_str(), slash == std::string::npos ? nullptr : path.c_str(), 0, 0, 1);
    EXPECT_EQ(expected.substr(0, (size_t)n), request);

    for (int k = 0; k < 10; k++) EXPECT_EQ(PROBE_IN_FLIGHT, call_after(250));
    ASSERT_EQ(1, (int)write(c.peer, "H", 1));
    EXPECT_EQ(1, call_after(25));
    EXPECT_EQ(1, app_state.probe_target) << "a target that answers is kept";
    EXPECT_EQ(PROBE_IDLE, app_state.probe_phase);
    EXPECT_EQ(0u, app_state.probe_socket);
    bool closed = false;
    peer_bytes(c.peer, &closed);
    EXPECT_TRUE(closed) << "the probe closes its connection";
}

// The ways a probe fails, each ending on the next target with its
// connection closed: refused; still connecting at the connect's bound;
// connected and silent at the end of the answer's wait; no socket at all.
TEST_F(ProbeTest, refused_pending_past_its_bound_and_silent_past_the_wait_each_fail_on_the_next_target) {
    fake_script_connects(1);
    use_loopback_proxy(8080);
    auto expect_failed = [](int connect, int next_target) {
        EXPECT_EQ(next_target, app_state.probe_target);
        EXPECT_EQ(PROBE_IDLE, app_state.probe_phase);
        EXPECT_EQ(0u, app_state.probe_socket);
        bool closed = false;
        peer_bytes(fake_connects()[(size_t)connect].peer, &closed);
        EXPECT_TRUE(closed);
    };

    // Refused, steps after the start.
    app_state.probe_target = 0;
    EXPECT_EQ(PROBE_IN_FLIGHT, probe_connectivity());
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(1000));
    fake_connects()[0].result = -1;
    EXPECT_EQ(0, call_after(25));
    expect_failed(0, 1);
    EXPECT_EQ("", peer_bytes(fake_connects()[0].peer));

    // Still connecting: in flight up to the connect's bound, failed at it.
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(CONNECT_TIMEOUT_MS - 1));
    EXPECT_EQ(0, call_after(1));
    expect_failed(1, 2);

    // Connected and silent: the answer's wait runs from the send.
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(3500));   // long connect: still within its bound
    fake_connects()[2].result = 1;
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));      // connected: the request goes out
    EXPECT_NE("", peer_bytes(fake_connects()[2].peer));
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(PROBE_ANSWER_WAIT_MS - 1));
    EXPECT_EQ(0, call_after(1));
    expect_failed(2, 0);

    // A connection closed by the other side without a byte ends it at once.
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));
    fake_connects()[3].result = 1;
    EXPECT_EQ(PROBE_IN_FLIGHT, call_after(25));
    close(fake_connects()[3].peer);
    fake_connects()[3].peer = -1;
    EXPECT_EQ(0, call_after(25));
    EXPECT_EQ(1, app_state.probe_target);

    // No socket to be had: failed in the same call.
    fake_fail(FAULT_CONNECT, 1, 0);
    EXPECT_EQ(0, probe_connectivity());
    EXPECT_EQ(2, app_state.probe_target);
    EXPECT_EQ(4u, fake_connects().size());
}

}  // namespace
