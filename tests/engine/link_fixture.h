// link_fixture.h - the engine fixture for links and pages captured whole:
// connects are scripted, and each test plays the other end of connect k
// (the proxy, or the server behind it) through its peer socket.
#pragma once

#include <unistd.h>

#include <string>

#include "engine/engine_fixture.h"
#include "support/scripted_connect.h"
#include "web/web.h"

struct LinkFixture : EngineFixture {
    void SetUp() override {
        EngineFixture::SetUp();
        fake_script_connects(1);
    }
    static int peer(size_t k) { return fake_connects().at(k).peer; }
    // The server's bytes on connect k, there for the program's next step.
    static void answer(size_t k, const std::string &bytes) {
        ASSERT_EQ((ssize_t)bytes.size(), write(peer(k), bytes.data(), bytes.size()));
        ASSERT_EQ(1, plat_wait_readable(fake_connects()[k].socket, 1000));
    }
    // The item's next connect (number k) is made; returns what the program
    // sent on it first.
    static std::string next_request(size_t k) {
        step();
        EXPECT_EQ(k + 1, fake_connects().size());
        if (fake_connects().size() != k + 1) return "";
        fake_connects()[k].result = 1;
        step();
        return peer_bytes(peer(k));
    }
    std::string log_text() const { return read_file(dir.file(FAILURE_LOG_NAME)); }
};
