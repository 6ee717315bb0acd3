// The request a second start sends the instance running on its list, over
// real local sockets in one process: the caller thread knocks while the
// test plays the listening instance.  Answered, it returns 1; unanswered or
// with nobody listening it returns 0 within its time bound; a listener
// under another key never hears it; and a key is held by one listener at a
// time, free again once that one closes.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/posix/posix_io.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

bool readable_within(int fd, int ms) {
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

// A key no other test run on this machine uses.
std::string unique_key(const char *name) {
    return "/test/" + std::to_string(getpid()) + "/" + name + "/list.o";
}

TEST(PosixInstanceTest, a_knock_is_answered_by_the_instance_listening_under_its_key) {
    const std::string key = unique_key("answered");
    int listening = posix_instance_listen(key.c_str());
    ASSERT_GE(listening, 0);
    auto knock = std::async(std::launch::async, [&] { return posix_instance_signal(key.c_str(), 1000); });

    ASSERT_TRUE(readable_within(listening, 1000));
    int connection = posix_instance_accept(listening);
    ASSERT_GE(connection, 0);
    EXPECT_EQ(-1, posix_instance_accept(listening)) << "one knock, one connection";
    ASSERT_TRUE(readable_within(connection, 1000));
    EXPECT_EQ(1, posix_instance_read_request(connection));
    posix_instance_answer(connection);
    EXPECT_EQ(1, knock.get());
    posix_instance_close(connection);

    // Another list's key finds nobody, at once.
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, posix_instance_signal(unique_key("other").c_str(), 1000));
    EXPECT_LT(seconds_since(begin), 0.2);
    EXPECT_EQ(-1, posix_instance_accept(listening));
    posix_instance_close(listening);
}

TEST(PosixInstanceTest, an_instance_that_does_not_answer_is_given_up_at_the_time_bound) {
    const std::string key = unique_key("silent");
    int listening = posix_instance_listen(key.c_str());
    ASSERT_GE(listening, 0);
    // Connected but never answered (a busy instance): the caller waits its
    // bound and no longer.
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, posix_instance_signal(key.c_str(), 300));
    double waited = seconds_since(begin);
    EXPECT_GE(waited, 0.25);
    EXPECT_LT(waited, 1.0);

    posix_instance_close(listening);

    // Accepted, and the request read, but closed without the answer: the
    // caller learns it at once.
    const std::string closing_key = unique_key("closing");
    listening = posix_instance_listen(closing_key.c_str());
    ASSERT_GE(listening, 0);
    begin = std::chrono::steady_clock::now();
    auto knock = std::async(std::launch::async, [&] { return posix_instance_signal(closing_key.c_str(), 1000); });
    ASSERT_TRUE(readable_within(listening, 1000));
    int connection = posix_instance_accept(listening);
    ASSERT_GE(connection, 0);
    ASSERT_TRUE(readable_within(connection, 1000));
    EXPECT_EQ(1, posix_instance_read_request(connection));
    posix_instance_close(connection);
    EXPECT_EQ(0, knock.get());
    EXPECT_LT(seconds_since(begin), 0.5);
    posix_instance_close(listening);

    // Nobody listening at all: 0 at once.
    begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, posix_instance_signal(key.c_str(), 1000));
    EXPECT_LT(seconds_since(begin), 0.2);
}

TEST(PosixInstanceTest, a_key_has_one_listener_and_is_free_again_once_it_closes) {
    const std::string key = unique_key("held");
    int first = posix_instance_listen(key.c_str());
    ASSERT_GE(first, 0);
    EXPECT_EQ(-1, posix_instance_listen(key.c_str()));
    int other = posix_instance_listen(unique_key("held-other").c_str());
    EXPECT_GE(other, 0);
    posix_instance_close(other);
    // Nothing is left behind to clean up: the name goes with the socket.
    posix_instance_close(first);
    int again = posix_instance_listen(key.c_str());
    EXPECT_GE(again, 0);
    posix_instance_close(again);
    EXPECT_EQ(0, posix_instance_signal("", 100));
    EXPECT_EQ(-1, posix_instance_listen(""));
}

}  // namespace
