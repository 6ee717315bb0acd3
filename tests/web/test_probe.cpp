// The connectivity probe through the proxy setting: a target that answers,
// one that refuses, one that accepts and stays silent, one that never
// completes the handshake, and one that closes without a byte.  (Every test
// goes through a loopback proxy: the targets themselves are never reached.)
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "ui/probe.h"
#include "web_fixture.h"

namespace {

// The probe's wait for an answer once connected (ui/probe.cpp).
const double PROBE_ANSWER_WAIT_SECONDS = 3.0;

struct ProbeTest : WebFixture {
    double seconds = 0;   // how long the last timed probe held the thread

    // Runs one probe and notes how long it held the thread.
    int timed_probe(const char *what) {
        auto begin = std::chrono::steady_clock::now();
        int result = probe_connectivity();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        RecordProperty(std::string(what) + "_seconds", std::to_string(seconds));
        return result;
    }
};

// A loopback listener that never accepts: the kernel completes the
// handshake, the request is taken in, and nothing ever answers.
struct MuteListener {
    int fd = -1, port = 0;
    MuteListener() { fd = loopback_listen(8, &port); }
    ~MuteListener() { close(fd); }
};

TEST_F(ProbeTest, an_answering_target_means_online_and_is_kept) {
    int port = shared_testweb().port;
    ASSERT_GT(port, 0);
    use_loopback_proxy(port);
    for (int target = 0; target < 3; target++) {
        SCOPED_TRACE(target);
        app_state.probe_target = target;
        EXPECT_EQ(1, probe_connectivity());
        EXPECT_EQ(target, app_state.probe_target);
    }
}

TEST_F(ProbeTest, a_refusing_target_fails_and_the_next_target_is_tried_next) {
    use_loopback_proxy(closed_loopback_port());
    app_state.probe_target = 0;
    EXPECT_EQ(0, timed_probe("refused"));
    EXPECT_EQ(1, app_state.probe_target);
    EXPECT_EQ(0, probe_connectivity());
    EXPECT_EQ(2, app_state.probe_target);
    EXPECT_EQ(0, probe_connectivity());
    EXPECT_EQ(0, app_state.probe_target);
}

TEST_F(ProbeTest, a_target_that_accepts_and_stays_silent_counts_as_a_failure) {
    MuteListener mute;
    use_loopback_proxy(mute.port);
    app_state.probe_target = 1;
    EXPECT_EQ(0, timed_probe("silent_after_connect"));
    EXPECT_EQ(2, app_state.probe_target);
    // Connected, the probe gives the answer its full wait.
    EXPECT_GE(seconds, PROBE_ANSWER_WAIT_SECONDS * 0.9);
}

TEST_F(ProbeTest, a_target_that_never_completes_the_handshake_counts_as_a_failure) {
    SilentListener silent;
    ASSERT_TRUE(open_silent_listener(&silent));
    use_loopback_proxy(silent.port);
    app_state.probe_target = 2;
    EXPECT_EQ(0, timed_probe("silent_handshake"));
    EXPECT_EQ(0, app_state.probe_target);
    // The connect's bound, and no answer wait on top of it: nothing can
    // answer on a connection that was never made.  (Loose: only the answer
    // wait's absence is measured.)
    const double connect_bound = CONNECT_TIMEOUT_MS / 1000.0;
    EXPECT_LT(seconds, connect_bound + PROBE_ANSWER_WAIT_SECONDS / 2);
    close_silent_listener(&silent);
}

TEST_F(ProbeTest, a_connection_closed_without_a_byte_counts_as_a_failure) {
    MuteListener server;
    std::thread closer([&] {
        int c = accept(server.fd, nullptr, nullptr);
        if (c >= 0) close(c);
    });
    use_loopback_proxy(server.port);
    EXPECT_EQ(0, probe_connectivity());
    closer.join();
    EXPECT_EQ(1, app_state.probe_target);
}

TEST_F(ProbeTest, an_unknown_target_number_starts_again_at_the_first) {
    int port = shared_testweb().port;
    ASSERT_GT(port, 0);
    use_loopback_proxy(port);
    app_state.probe_target = 7;
    EXPECT_EQ(1, probe_connectivity());
    EXPECT_EQ(0, app_state.probe_target);
}

}  // namespace
