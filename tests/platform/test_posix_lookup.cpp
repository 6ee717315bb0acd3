// Name look-ups on POSIX are bounded: a name server that hangs is given up
// after the caller's timeout, the workers left behind stay few, and they
// end once the look-up returns.  The hanging name server is a look-up that
// waits for the test to release it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/posix/posix_io.h"

namespace {

std::atomic<bool> released{false};
std::atomic<int> lookups_begun{0};

int hanging_lookup(const char *, uint32_t *address) {
    lookups_begun++;
    while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    *address = htonl(0x0A000001);
    return 1;
}

int answering_lookup(const char *host, uint32_t *address) {
    if (strcmp(host, "known.test") != 0) return 0;
    *address = htonl(0x0A000002);
    return 1;
}

// Waits up to 5 s for the count to reach n (workers start on their own time).
void wait_for(const std::atomic<int> &count, int n) {
    for (int k = 0; k < 500 && count.load() < n; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

double seconds_since(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

struct PosixLookupTest : testing::Test {
    void SetUp() override {
        released = false;
        lookups_begun = 0;
    }
    // No worker may outlive the test: release them and wait for the last.
    void TearDown() override {
        released = true;
        for (int k = 0; k < 500 && posix_lookups_running() > 0; k++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(0, posix_lookups_running());
        posix_set_lookup(nullptr);
    }
};

TEST_F(PosixLookupTest, a_hanging_name_server_is_given_up_at_the_timeout_with_few_workers_left) {
    posix_set_lookup(hanging_lookup);
    uint32_t address = 0xDEADBEEF;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, posix_resolve("slow.test", &address, 200));
    double waited = seconds_since(begin);
    EXPECT_GE(waited, 0.15) << "the caller waits for the look-up up to its timeout";
    EXPECT_LT(waited, 2.0);
    EXPECT_EQ(0xDEADBEEFu, address);
    wait_for(lookups_begun, 1);
    EXPECT_EQ(1, lookups_begun.load());

    // Every further call leaves one more worker behind, up to four; then a
    // call fails at once rather than start another.
    for (int k = 0; k < 6; k++) EXPECT_EQ(0, posix_resolve("slow.test", &address, 20));
    EXPECT_EQ(4, posix_lookups_running());
    begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, posix_resolve("slow.test", &address, 3000));
    EXPECT_LT(seconds_since(begin), 1.0);
    wait_for(lookups_begun, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(4, lookups_begun.load());

    // The name server answers at last: the abandoned workers end, and
    // look-ups work again.
    released = true;
    for (int k = 0; k < 500 && posix_lookups_running() > 0; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(0, posix_lookups_running());
    posix_set_lookup(answering_lookup);
    EXPECT_EQ(1, posix_resolve("known.test", &address, 2000));
    EXPECT_EQ(htonl(0x0A000002), address);
    EXPECT_EQ(0, posix_resolve("unknown.test", &address, 2000));
}

TEST_F(PosixLookupTest, dotted_addresses_need_no_look_up_and_names_go_to_the_system) {
    posix_set_lookup(hanging_lookup);
    uint32_t address = 0;
    EXPECT_EQ(1, posix_resolve("10.1.2.3", &address, 0));
    EXPECT_EQ(htonl(0x0A010203), address);
    EXPECT_EQ(0, lookups_begun.load());
    EXPECT_EQ(0, posix_resolve("", &address, 1000));

    posix_set_lookup(nullptr);   // the system's getaddrinfo again
    EXPECT_EQ(1, posix_resolve("localhost", &address, 4000));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
}

}  // namespace
