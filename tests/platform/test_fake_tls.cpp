// The test backend's TLS stand-in does what engine tests will script: a
// handshake of a given length and outcome, bytes passed through as they
// are, and bytes held inside the connection while the socket is empty.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/fake/fake_platform.h"

namespace {

// A made scripted connect: the program's socket; the test's end is
// fake_connects().back().peer.
plat_socket connected() {
    plat_socket s = plat_tcp_connect_start(0x0100007F, 443);
    fake_connects().back().result = 1;
    return s;
}

std::string take(plat_tls t, int n) {
    std::string out((size_t)n, '\0');
    int got = plat_tls_recv(t, &out[0], n);
    out.resize(got > 0 ? (size_t)got : 0);
    return out;
}

TEST(FakeTlsTest, scripted_handshakes_pass_bytes_through_and_hold_them_inside) {
    fake_reset();
    fake_script_connects(1);
    FakeTlsScript script;
    script.handshake_steps = 3;
    fake_tls_script(script);
    plat_socket s = connected();
    int peer = fake_connects().back().peer;
    plat_tls t = plat_tls_start(s, "www.reelbox.test");
    EXPECT_EQ(-1, plat_tls_send(t, "x", 1)) << "no data before the handshake";
    EXPECT_EQ(0, plat_tls_handshake(t));
    EXPECT_EQ(0, plat_tls_handshake(t));
    EXPECT_EQ(1, plat_tls_handshake(t));
    EXPECT_EQ("www.reelbox.test", fake_tls_connections()[0].host);
    EXPECT_EQ(5, plat_tls_send(t, "GET /", 5));
    char sent[8] = {};
    EXPECT_EQ(5, read(peer, sent, sizeof sent));
    EXPECT_STREQ("GET /", sent);
    // Held bytes count though the socket is empty, and come first.
    char byte;
    EXPECT_EQ(PLAT_TLS_WOULD_BLOCK, plat_tls_recv(t, &byte, 1));
    fake_tls_hold(t, "held");
    EXPECT_EQ(4u, plat_tls_readable(t));
    ASSERT_EQ(4, write(peer, "sock", 4));
    ASSERT_EQ(1, plat_wait_readable(s, 1000));
    EXPECT_EQ(8u, plat_tls_readable(t));
    EXPECT_EQ("heldsock", take(t, 8));
    shutdown(peer, SHUT_WR);
    EXPECT_EQ(0, plat_tls_recv(t, &byte, 1)) << "the peer closed";
    plat_tls_close(t);

    // Arrivals taken inside at once: only the connection's count shows them.
    script = FakeTlsScript();
    script.hold_arrivals = 1;
    fake_tls_script(script);
    s = connected();
    t = plat_tls_start(s, "cdn.reelbox.test");
    ASSERT_EQ(1, plat_tls_handshake(t));
    ASSERT_EQ(6, write(fake_connects().back().peer, "answer", 6));
    ASSERT_EQ(1, plat_wait_readable(s, 1000));
    EXPECT_EQ(6u, plat_tls_readable(t));
    EXPECT_EQ(0u, plat_readable(s));
    EXPECT_EQ("ans", take(t, 3));
    EXPECT_EQ(3u, plat_tls_readable(t));

    // A handshake that fails on its second step, with its reason.
    script = FakeTlsScript();
    script.handshake_steps = 2;
    script.failure = PLAT_TLS_EXPIRED;
    fake_tls_script(script);
    t = plat_tls_start(connected(), "old.example");
    EXPECT_EQ(0, plat_tls_handshake(t));
    EXPECT_EQ(-1, plat_tls_handshake(t));
    char reason[16];
    EXPECT_EQ(PLAT_TLS_EXPIRED, plat_tls_failure(t, reason, sizeof reason));
    EXPECT_STREQ("expired", reason);
    fake_reset();
}

}  // namespace
