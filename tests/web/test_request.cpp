// Requests as they leave the program: the bytes a listening loopback socket
// receives for each form, and where the connection goes.
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "web_fixture.h"

namespace {

// A loopback listener that takes the request of one connection.
struct CaptureListener {
    int fd = -1;
    int port = 0;
    CaptureListener() { fd = loopback_listen(4, &port); }
    ~CaptureListener() { close(fd); }
    // The request bytes of the next connection ("" when none comes within
    // wait_ms), read up to the empty line.
    std::string take(int wait_ms = 3000) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) != 1) return "";
        int c = accept(fd, nullptr, nullptr);
        std::string got;
        char buf[4096];
        while (got.find("\r\n\r\n") == std::string::npos) {
            struct pollfd q = {c, POLLIN, 0};
            if (poll(&q, 1, wait_ms) != 1) break;
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, (size_t)n);
        }
        close(c);
        return got;
    }
};

std::string entry(StringEntry e) { return string_entry(e); }

// The closing header block without its last two header lines, as a request
// through a proxy carries it: split into lines independently of the code.
std::string closing_block_for_proxy() {
    std::string block = entry(STR_HEADER_BLOCK_2);
    std::string body = block.substr(0, block.size() - 4);   // last line's break, empty line
    size_t last = body.rfind("\r\n");
    size_t second_last = body.rfind("\r\n", last - 1);
    return body.substr(0, second_last + 2);
}

struct RequestTest : WebFixture {
    CaptureListener listener;
    uint32_t slot = 0;
    int opened = -1;   // what the last open_request returned
    void TearDown() override {
        if (slot) plat_close_socket(slot);
        WebFixture::TearDown();
    }
    std::string direct(const std::string &address, int bare, uint32_t range) {
        opened = open_request(&slot, 0, address.c_str(), bare, range);
        return listener.take();
    }
    std::string proxied(const std::string &address, int bare, uint32_t range) {
        use_loopback_proxy(listener.port);
        opened = open_request(&slot, 1, address.c_str(), bare, range);
        return listener.take();
    }
    std::string here() const { return "127.0.0.1:" + std::to_string(listener.port); }
};

TEST_F(RequestTest, direct_request_names_path_and_www_host_and_ends_with_the_closing_block) {
    std::string got = direct(here() + "/watch/abc?x=1", 0, 0);
    ASSERT_NE(0u, slot) << "connected to the port written in the address";
    EXPECT_EQ(1, opened) << "connected and sent";
    EXPECT_EQ("GET /watch/abc?x=1 HTTP/1.1\r\n" + entry(STR_HEADER_BLOCK_1) + "Host: www." + here() +
                  "\r\n" + entry(STR_HEADER_BLOCK_2),
              got);
    // The run's token stands at character 208 of the closing block.
    EXPECT_NE(std::string::npos, got.find("X-Request-Token: 1a2b3cM"));
}

TEST_F(RequestTest, scheme_is_skipped_and_an_address_without_slash_asks_for_the_root) {
    std::string got = direct("http://" + here(), 1, 0);
    EXPECT_EQ(0u, got.find("GET / HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, got.find("\r\nHost: " + here() + "\r\n"));
}

TEST_F(RequestTest, range_start_adds_one_last_range_line_and_zero_adds_none) {
    std::string none = direct(here() + "/v.flv", 1, 0);
    EXPECT_EQ(std::string::npos, none.find("Range:"));
    plat_close_socket(slot);
    slot = 0;

    std::string got = direct(here() + "/v.flv", 1, 1048576);
    EXPECT_EQ(none.substr(0, none.size() - 2) + "Range: bytes=1048576-\r\n\r\n", got);
    EXPECT_EQ(got.size() - 4, got.find("\r\n\r\n")) << "exactly one empty line, at the end";

    // Offsets past 2 GiB are asked for as they are.
    plat_close_socket(slot);
    slot = 0;
    std::string far = direct(here() + "/v.flv", 1, 3000000000u);
    EXPECT_EQ(none.substr(0, none.size() - 2) + "Range: bytes=3000000000-\r\n\r\n", far);
}

TEST_F(RequestTest, proxy_request_uses_the_absolute_form_and_the_keep_alive_line) {
    std::string got = proxied("reelbox.test/watch/abc", 0, 0);
    ASSERT_NE(0u, slot);
    EXPECT_EQ("GET http://www.reelbox.test/watch/abc HTTP/1.1\r\n" + entry(STR_HEADER_BLOCK_1) +
                  "Host: www.reelbox.test\r\n" + closing_block_for_proxy() +
                  "Proxy-Connection: Keep-Alive\r\n\r\n",
              got);

    plat_close_socket(slot);
    slot = 0;
    std::string ranged = proxied("http://cdn.reelbox.test:8080/stream/abc", 1, 1048576);
    EXPECT_EQ("GET http://cdn.reelbox.test:8080/stream/abc HTTP/1.1\r\n" + entry(STR_HEADER_BLOCK_1) +
                  "Host: cdn.reelbox.test:8080\r\n" + closing_block_for_proxy() +
                  "Proxy-Connection: Keep-Alive\r\nRange: bytes=1048576-\r\n\r\n",
              ranged);
}

TEST_F(RequestTest, a_host_that_already_has_www_gets_it_twice_unless_bare) {
    std::string got = proxied("www.reelbox.test/watch/abc", 0, 0);
    EXPECT_EQ(0u, got.find("GET http://www.www.reelbox.test/watch/abc HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, got.find("\r\nHost: www.www.reelbox.test\r\n"));
    plat_close_socket(slot);
    slot = 0;
    std::string bare = proxied("www.reelbox.test/watch/abc", 1, 0);
    EXPECT_NE(std::string::npos, bare.find("\r\nHost: www.reelbox.test\r\n"));
}

TEST_F(RequestTest, a_host_that_cannot_be_resolved_leaves_zero_and_sends_nothing) {
    fake_fail(FAULT_RESOLVE, 1, 1);
    slot = 12345;
    EXPECT_EQ(0, open_request(&slot, 0, (here() + "/watch/abc").c_str(), 0, 0));
    EXPECT_EQ(0u, slot);
    EXPECT_EQ(0, fake_calls(FAULT_CONNECT));
    EXPECT_EQ("", listener.take(200));
}

TEST_F(RequestTest, a_malformed_port_counts_as_a_host_that_cannot_be_resolved) {
    for (const char *port : {":0", ":65536", ":8a", ":", ":123456", ":-1"}) {
        SCOPED_TRACE(port);
        slot = 7;
        std::string address = std::string("127.0.0.1") + port + "/x";
        EXPECT_EQ(0, open_request(&slot, 0, address.c_str(), 0, 0));
        EXPECT_EQ(0u, slot);
    }
    EXPECT_EQ(0, fake_calls(FAULT_RESOLVE)) << "no lookup is made for a bad port";
    EXPECT_EQ(0, fake_calls(FAULT_CONNECT));
    // The largest port is a port.
    open_request(&slot, 0, "127.0.0.1:65535/x", 0, 0);
    EXPECT_EQ(1, fake_calls(FAULT_CONNECT));
}

TEST_F(RequestTest, proxy_mode_connects_to_the_octets_without_a_lookup) {
    fake_fail(FAULT_RESOLVE, 1, 1);   // a lookup would fail the request
    std::string got = proxied("no-such-host.test/watch/abc", 0, 0);
    EXPECT_NE(0u, slot);
    EXPECT_EQ(1, opened);
    EXPECT_EQ(0, fake_calls(FAULT_RESOLVE));
    EXPECT_EQ(0u, got.find("GET http://www.no-such-host.test/watch/abc HTTP/1.1\r\n"));
}

TEST_F(RequestTest, a_refused_or_silent_connect_hands_over_a_socket_that_yields_nothing) {
    int closed = closed_loopback_port();
    std::string refused = "127.0.0.1:" + std::to_string(closed) + "/x";
    EXPECT_EQ(0, open_request(&slot, 0, refused.c_str(), 0, 0)) << "no connection, nothing sent";
    ASSERT_NE(0u, slot);
    EXPECT_EQ(0u, plat_readable(slot));
    plat_close_socket(slot);
    slot = 0;

    // A host that never answers the handshake (its accept queue is full).
    SilentListener silent;
    ASSERT_TRUE(open_silent_listener(&silent));
    auto begin = std::chrono::steady_clock::now();
    std::string unanswered = "127.0.0.1:" + std::to_string(silent.port) + "/x";
    EXPECT_EQ(0, open_request(&slot, 0, unanswered.c_str(), 0, 0));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    RecordProperty("silent_connect_seconds", std::to_string(seconds));
    ASSERT_NE(0u, slot);
    EXPECT_EQ(0u, plat_readable(slot));
    close_silent_listener(&silent);
}

TEST_F(RequestTest, an_https_address_gets_no_plain_connection_direct_or_through_the_proxy) {
    // Either would reach the listener if taken as plain HTTP: by its host
    // and port, or by the "http://" address in its query.
    for (const std::string &address : {"HTTPS://" + here() + "/v.mp4", "https://x.test/r?to=http://" + here()}) {
        EXPECT_EQ(0, open_request(&slot, 0, address.c_str(), 1, 0)) << address;
        EXPECT_EQ(0u, start_request(0, address.c_str()));
        use_loopback_proxy(listener.port);
        EXPECT_EQ(0, open_request(&slot, 1, address.c_str(), 1, 0));
    }
    EXPECT_EQ(0, fake_calls(FAULT_RESOLVE) + fake_calls(FAULT_CONNECT));
    EXPECT_EQ("", listener.take(200));
}

TEST(BuildRequestTest, pieces_stay_in_order_and_the_text_is_bounded) {
    // build_request alone, on a long path: the request never passes its area.
    reset_app_state();
    app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
    restore_scrambled_table();
    unscramble_first_batch();
    unscramble_second_batch();
    std::string path(20000, 'p');
    std::string out(BUILD_REQUEST_CAP + 64, '#');
    int n = build_request(&out[0], "h.test", path.c_str(), 1, 77, 0);
    EXPECT_EQ(BUILD_REQUEST_CAP - 1, n);
    EXPECT_EQ('\0', out[BUILD_REQUEST_CAP - 1]);
    EXPECT_EQ('#', out[BUILD_REQUEST_CAP]);
    int m = build_request(&out[0], "h.test", "a/b", 0, 0, 0);
    EXPECT_EQ(std::string("GET /a/b HTTP/1.1\r\n") + string_entry(STR_HEADER_BLOCK_1) + "Host: www.h.test\r\n" +
                  string_entry(STR_HEADER_BLOCK_2),
              out.substr(0, (size_t)m));
    free(app_state.text_scratch);
    app_state.text_scratch = nullptr;
}

}  // namespace
