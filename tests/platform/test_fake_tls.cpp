// The test backend's TLS stand-in does what engine tests will script: a
// handshake of a given length and outcome, bytes passed through as they
// are, and bytes held inside the connection while the socket is empty.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "platform/fake/fake_platform.h"

namespace {

struct FakeTlsTest : testing::Test {
    void SetUp() override {
        fake_reset();
        fake_script_connects(1);
    }
    void TearDown() override { fake_reset(); }
    // A scripted connect, made; the program's socket.
    plat_socket connected() {
        plat_socket s = plat_tcp_connect_start(0x0100007F, 443);
        fake_connects().back().result = 1;
        return s;
    }
    std::string take(plat_tls t, uint32_t n) {
        std::string out(n, '\0');
        int got = plat_tls_recv(t, &out[0], (int)n);
        out.resize(got > 0 ? (size_t)got : 0);
        return out;
    }
};

TEST_F(FakeTlsTest, handshake_takes_its_steps_then_carries_held_and_socket_bytes) {
    FakeTlsScript script;
    script.handshake_steps = 3;
    fake_tls_script(script);
    plat_socket s = connected();
    plat_tls t = plat_tls_start(s, "www.reelbox.test");
    ASSERT_NE(0u, t);
    char byte;
    EXPECT_EQ(-1, plat_tls_send(t, "x", 1)) << "no data before the handshake";
    EXPECT_EQ(0, plat_tls_handshake(t));
    EXPECT_EQ(0, plat_tls_handshake(t));
    EXPECT_EQ(1, plat_tls_handshake(t));
    EXPECT_EQ(1, plat_tls_handshake(t)) << "done stays done";
    EXPECT_EQ("www.reelbox.test", fake_tls_connections()[0].host);

    // The request reaches the test's end as it was sent.
    EXPECT_EQ(5, plat_tls_send(t, "GET /", 5));
    char sent[8] = {};
    EXPECT_EQ(5, read(fake_connects()[0].peer, sent, sizeof sent));
    EXPECT_STREQ("GET /", sent);

    // Held bytes count though the socket is empty, and come first.
    EXPECT_EQ(PLAT_TLS_WOULD_BLOCK, plat_tls_recv(t, &byte, 1));
    fake_tls_hold(t, "held");
    EXPECT_EQ(0u, plat_readable(s));
    EXPECT_EQ(4u, plat_tls_readable(t));
    ASSERT_EQ(4, write(fake_connects()[0].peer, "sock", 4));
    ASSERT_EQ(1, plat_wait_readable(s, 1000));
    EXPECT_EQ(8u, plat_tls_readable(t));
    EXPECT_EQ("heldsock", take(t, 8));
    close(fake_connects()[0].peer);
    fake_connects()[0].peer = -1;
    EXPECT_EQ(0, plat_tls_recv(t, &byte, 1)) << "the peer closed";
    plat_tls_close(t);
    EXPECT_TRUE(fake_tls_connections()[0].closed);
}

TEST_F(FakeTlsTest, held_arrivals_leave_the_socket_empty_and_failures_give_their_text) {
    FakeTlsScript script;
    script.hold_arrivals = 1;
    fake_tls_script(script);
    plat_socket s = connected();
    plat_tls t = plat_tls_start(s, "cdn.reelbox.test");
    ASSERT_EQ(1, plat_tls_handshake(t));
    ASSERT_EQ(6, write(fake_connects()[0].peer, "answer", 6));
    ASSERT_EQ(1, plat_wait_readable(s, 1000));
    EXPECT_EQ(6u, plat_tls_readable(t));
    EXPECT_EQ(0u, plat_readable(s)) << "the connection took them in";
    EXPECT_EQ("ans", take(t, 3));
    EXPECT_EQ(3u, plat_tls_readable(t));
    plat_tls_close(t);

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
    EXPECT_EQ(0u, plat_tls_readable(t));

    script.start_fails = 1;
    fake_tls_script(script);
    EXPECT_EQ(0u, plat_tls_start(connected(), "any.example"));
}

}  // namespace
