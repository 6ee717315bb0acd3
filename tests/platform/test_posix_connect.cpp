// Connects on POSIX that do not wait: started, then asked how they stand,
// on real loopback sockets - made, refused, and one that hangs because the
// listener's accept queue is full.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/posix/posix_io.h"
#include "support/testweb.h"

namespace {

const uint32_t LOOPBACK = htonl(0x7F000001);

// Asks until the connect is no longer under way, for at most ms.
int settled_result(plat_socket s, int ms) {
    int result = 0;
    for (int waited = 0; waited < ms && (result = posix_connect_result(s)) == 0; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return result;
}

// Handles are the descriptor plus one (posix_io.h).
bool blocking(plat_socket s) { return (fcntl((int)s - 1, F_GETFL, 0) & O_NONBLOCK) == 0; }

TEST(PosixConnectTest, a_started_connect_is_told_made_refused_or_under_way_and_ends_blocking) {
    // Made: the socket is back in blocking mode and carries bytes.
    int port = 0;
    int listener = loopback_listen(4, &port);
    ASSERT_GE(listener, 0);
    plat_socket made = posix_tcp_connect_start(LOOPBACK, (uint16_t)port);
    ASSERT_NE(0u, made);
    EXPECT_EQ(1, settled_result(made, 2000));
    EXPECT_TRUE(blocking(made));
    EXPECT_EQ(1, posix_connect_result(made)) << "asked again";
    EXPECT_EQ(4, posix_send(made, "ping", 4));
    posix_close_socket(made);
    close(listener);

    // Refused: failed, and failed again when asked again (the error is read
    // only once from the socket).
    plat_socket refused = posix_tcp_connect_start(LOOPBACK, (uint16_t)closed_loopback_port());
    ASSERT_NE(0u, refused);
    EXPECT_EQ(-1, settled_result(refused, 2000));
    EXPECT_EQ(-1, posix_connect_result(refused));
    EXPECT_TRUE(blocking(refused));
    posix_close_socket(refused);

    // A handshake that never comes: under way at every look, and the start
    // itself did not wait for it.
    SilentListener silent;
    ASSERT_TRUE(open_silent_listener(&silent));
    auto begin = std::chrono::steady_clock::now();
    plat_socket hanging = posix_tcp_connect_start(LOOPBACK, (uint16_t)silent.port);
    double started_in = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_NE(0u, hanging);
    EXPECT_LT(started_in, 1.0);
    EXPECT_EQ(0, settled_result(hanging, 300));
    EXPECT_FALSE(blocking(hanging)) << "still connecting";
    posix_close_socket(hanging);
    close_silent_listener(&silent);
}

}  // namespace
