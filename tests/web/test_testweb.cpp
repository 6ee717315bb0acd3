// The demo web itself: later tests trust its pages, streams and faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "support/temp_dir.h"
#include "support/testweb.h"

namespace {

const char *const kSites[24] = {
    "reelbox.test", "tubeon.test",    "flvbay.test",     "vidcue.test",    "clipgo.test",
    "showly.test",  "vidora.test",    "moviestar.test",  "mvs.test",       "flashy.test",
    "redclips.test", "html5v.test",   "videotrek.test",  "escapo.test",    "pathviewer.test",
    "streamhall.test", "addvar.test", "playlst.test",    "vidfan.test",    "qualityvid.test",
    "gdaclip.test", "fil.test",       "vsr.test",        "filer2.test"};

class TestWebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = shared_testweb().port;
        ASSERT_GT(port, 0) << "tests/testweb/testweb.py did not start";
    }
    std::string get(const std::string &request, ExchangeEnd *end = nullptr, int idle_ms = 5000) {
        return http_exchange(port, request, end, idle_ms);
    }
    int port = 0;
};

// A 206 answer naming range, announcing the length of bytes and carrying
// them.
void expect_partial(const std::string &answer, const std::string &range, const std::string &bytes) {
    std::string head, body;
    split_answer(answer, &head, &body);
    EXPECT_EQ(206, status_code(answer));
    EXPECT_EQ(range, header_value(head, "Content-Range"));
    EXPECT_EQ(std::to_string(bytes.size()), header_value(head, "Content-Length"));
    EXPECT_TRUE(body == bytes);
}

std::string proxy_get(const std::string &address, const std::string &extra = "") {
    return "GET http://" + address + " HTTP/1.1\r\nUser-Agent: t\r\n" + extra + "\r\n";
}

TEST_F(TestWebServerTest, every_site_page_is_complete_titled_and_reachable_both_ways) {
    for (const char *site : kSites) {
        SCOPED_TRACE(site);
        ExchangeEnd end;
        std::string via_proxy = get(proxy_get(std::string("www.") + site + "/watch/abc"), &end);
        EXPECT_EQ(END_CLOSED, end);
        std::string head, body;
        split_answer(via_proxy, &head, &body);
        EXPECT_EQ(200, status_code(via_proxy));
        EXPECT_EQ(std::to_string(body.size()), header_value(head, "Content-Length"));
        EXPECT_NE(std::string::npos, body.find("<title>Demo clip abc"));
        EXPECT_NE(std::string::npos, body.find("</title>"));
        EXPECT_NE(std::string::npos, body.find("</html>"));

        std::string direct = get(std::string("GET /watch/abc HTTP/1.1\r\nHost: www.www.") + site +
                                 ":8080\r\n\r\n");
        std::string head2, body2;
        split_answer(direct, &head2, &body2);
        EXPECT_EQ(body, body2) << "the Host line (doubled www, port) reaches the same page";
    }
}

TEST_F(TestWebServerTest, page_options_pad_drop_the_end_and_strip_the_player) {
    std::string head, body;
    split_answer(get(proxy_get("vidcue.test/watch/xy?pad=400000")), &head, &body);
    EXPECT_GT(body.size(), 400000u);
    size_t key = body.find("encodeURIComponent");
    ASSERT_NE(std::string::npos, key);
    EXPECT_GT(key, 400000u);

    split_answer(get(proxy_get("vidcue.test/watch/xy?tail=5000")), &head, &body);
    EXPECT_GT(body.find("comments follow"), body.find("encodeURIComponent"));
    EXPECT_GT(body.size(), 5000u);

    split_answer(get(proxy_get("vidcue.test/watch/xy?noend=1&bare=1")), &head, &body);
    EXPECT_EQ(std::string::npos, body.find("</html>"));
    EXPECT_EQ(std::string::npos, body.find("</body>"));
    EXPECT_EQ(std::string::npos, body.find("encodeURIComponent"));

    // A title sent in Latin-1 (the default) and in UTF-8 (utf8=1).
    split_answer(get(proxy_get("vidcue.test/watch/xy?title=Caf%C3%A9")), &head, &body);
    EXPECT_NE(std::string::npos, body.find("<title>Caf\xE9</title>"));
    split_answer(get(proxy_get("vidcue.test/watch/xy?title=Caf%C3%A9&utf8=1")), &head, &body);
    EXPECT_NE(std::string::npos, body.find("<title>Caf\xC3\xA9</title>"));

    // stall: the page arrives but the connection stays open.
    ExchangeEnd end;
    std::string stalled = get(proxy_get("vidcue.test/watch/xy?stall=1"), &end, 400);
    EXPECT_EQ(END_TIMEOUT, end);
    EXPECT_NE(std::string::npos, stalled.find("</html>"));
}

TEST_F(TestWebServerTest, echo_returns_the_request_bytes_exactly) {
    std::string request = "GET /echo HTTP/1.1\r\nHost: www.127.0.0.1:1\r\nX-A: b\r\n\r\n";
    std::string head, body;
    split_answer(get(request), &head, &body);
    EXPECT_EQ(request, body);
    split_answer(get(proxy_get("reelbox.test/echo")), &head, &body);
    EXPECT_EQ(proxy_get("reelbox.test/echo"), body);
}

TEST_F(TestWebServerTest, stream_bytes_follow_the_shared_formula_and_ranges_give_206) {
    std::string head, body;
    std::string whole = get("GET /stream/clip1?size=70000 HTTP/1.1\r\nHost: cdn.x\r\n\r\n");
    split_answer(whole, &head, &body);
    EXPECT_EQ(200, status_code(whole));
    EXPECT_EQ("70000", header_value(head, "Content-Length"));
    EXPECT_TRUE(body == testweb_stream_bytes("clip1", 0, 70000));

    std::string part = get("GET /stream/clip1?size=70000 HTTP/1.1\r\nHost: cdn.x\r\n"
                           "Range: bytes=65530-\r\n\r\n");
    expect_partial(part, "bytes 65530-69999/70000", testweb_stream_bytes("clip1", 65530, 4470));

    // Past 4 GiB: only the first bytes are read.
    std::string far = http_exchange(port,
                                    "GET /stream/big?size=5000000000 HTTP/1.1\r\nHost: c\r\n"
                                    "Range: bytes=4294967290-\r\n\r\n",
                                    nullptr, 5000, 4096);
    split_answer(far, &head, &body);
    EXPECT_EQ("705032710", header_value(head, "Content-Length"));
    ASSERT_GE(body.size(), 16u);
    EXPECT_TRUE(body.substr(0, 16) == testweb_stream_bytes("big", 4294967290ull, 16));

    std::string beyond = get("GET /stream/clip1?size=10 HTTP/1.1\r\nHost: c\r\nRange: bytes=10-\r\n\r\n");
    EXPECT_EQ(416, status_code(beyond));
}

TEST_F(TestWebServerTest, stream_faults_norange_badrange_status_announce) {
    std::string head, body;
    std::string a = get("GET /stream/s?size=3000&norange=1 HTTP/1.1\r\nHost: c\r\n"
                        "Range: bytes=1000-\r\n\r\n");
    split_answer(a, &head, &body);
    EXPECT_EQ(200, status_code(a));
    EXPECT_TRUE(body == testweb_stream_bytes("s", 0, 3000));

    // badrange: the 206 and its body start past the offset asked for, and
    // a request without a range still gets the whole stream.
    std::string off = get("GET /stream/s?size=3000&badrange=300 HTTP/1.1\r\nHost: c\r\n"
                          "Range: bytes=1000-\r\n\r\n");
    expect_partial(off, "bytes 1300-2999/3000", testweb_stream_bytes("s", 1300, 1700));
    std::string whole = get("GET /stream/s?size=3000&badrange=300 HTTP/1.1\r\nHost: c\r\n\r\n");
    split_answer(whole, &head, &body);
    EXPECT_EQ(200, status_code(whole));
    EXPECT_TRUE(body == testweb_stream_bytes("s", 0, 3000));

    EXPECT_EQ(404, status_code(get("GET /stream/s?status=404 HTTP/1.1\r\nHost: c\r\n\r\n")));
    EXPECT_EQ(500, status_code(get("GET /stream/s?status=500 HTTP/1.1\r\nHost: c\r\n\r\n")));
    EXPECT_EQ(503, status_code(get("GET /status/503 HTTP/1.1\r\nHost: c\r\n\r\n")));

    std::string b = get("GET /stream/s?size=100&announce=abc HTTP/1.1\r\nHost: c\r\n\r\n");
    split_answer(b, &head, &body);
    EXPECT_EQ("abc", header_value(head, "Content-Length"));
    EXPECT_EQ(100u, body.size());
    std::string c = get("GET /stream/s?size=100&announce=4294967296 HTTP/1.1\r\nHost: c\r\n\r\n");
    split_answer(c, &head, &body);
    EXPECT_EQ("4294967296", header_value(head, "Content-Length"));
}

TEST_F(TestWebServerTest, stream_faults_reset_stall_rate_split) {
    std::string head, body;
    ExchangeEnd end;
    std::string r = get("GET /stream/s?size=100000&reset=5000 HTTP/1.1\r\nHost: c\r\n\r\n", &end);
    split_answer(r, &head, &body);
    EXPECT_EQ(END_RESET, end);
    EXPECT_EQ("100000", header_value(head, "Content-Length"));
    EXPECT_TRUE(body == testweb_stream_bytes("s", 0, 5000));

    std::string s = get("GET /stream/s?size=100000&stall=0 HTTP/1.1\r\nHost: c\r\n\r\n", &end, 400);
    split_answer(s, &head, &body);
    EXPECT_EQ(END_TIMEOUT, end);
    EXPECT_EQ(200, status_code(s));
    EXPECT_EQ(0u, body.size());

    std::string t = get("GET /stream/s?size=20000&rate=200000 HTTP/1.1\r\nHost: c\r\n\r\n", &end);
    split_answer(t, &head, &body);
    EXPECT_EQ(END_CLOSED, end);
    EXPECT_TRUE(body == testweb_stream_bytes("s", 0, 20000));

    std::string u = get("GET /stream/s?size=3000&split=40&pause=50 HTTP/1.1\r\nHost: c\r\n\r\n", &end);
    split_answer(u, &head, &body);
    EXPECT_EQ(END_CLOSED, end);
    EXPECT_TRUE(body == testweb_stream_bytes("s", 0, 3000));
}

TEST_F(TestWebServerTest, redirects_absolute_relative_endless_and_sized) {
    std::string head, body;
    std::string a = get(proxy_get("loop.test/loop/1"));
    split_answer(a, &head, &body);
    EXPECT_EQ(302, status_code(a));
    EXPECT_EQ("http://loop.test/loop/2", header_value(head, "Location"));
    std::string b = get("GET /loop/7?rel=1 HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n");
    split_answer(b, &head, &body);
    EXPECT_EQ("/loop/8?rel=1", header_value(head, "Location"));

    std::string c = get("GET /get/200000/key=abc HTTP/1.1\r\nHost: dl.reelbox.test\r\n\r\n");
    split_answer(c, &head, &body);
    EXPECT_EQ("http://cdn.reelbox.test/stream/abc?size=200000", header_value(head, "Location"));

    std::string d = get(proxy_get("www.reelbox.test/moved/abc"));
    split_answer(d, &head, &body);
    EXPECT_EQ(301, status_code(d));
    EXPECT_EQ("http://www.reelbox.test/watch/abc", header_value(head, "Location"));
    EXPECT_LT(d.size(), 999u);
    EXPECT_EQ(999u, get(proxy_get("reelbox.test/moved/abc?total=999")).size());
    EXPECT_EQ(1000u, get(proxy_get("reelbox.test/moved/abc?total=1000")).size());
    std::string e = get(proxy_get("reelbox.test/moved/abc?rel=1"));
    split_answer(e, &head, &body);
    EXPECT_EQ("/watch/abc", header_value(head, "Location"));
    std::string f = get(proxy_get("x.test/redirect?to=http%3A%2F%2Fy.test%2Fz"));
    split_answer(f, &head, &body);
    EXPECT_EQ("http://y.test/z", header_value(head, "Location"));
}

TEST_F(TestWebServerTest, probe_targets_and_second_pages_answer) {
    for (const char *host : {"gnu.org", "ietf.org", "debian.org"}) {
        EXPECT_EQ(200, status_code(get(std::string("GET / HTTP/1.1\r\nHost: www.") + host + "\r\n\r\n")));
        EXPECT_EQ(200, status_code(get(proxy_get(std::string("www.") + host + "/"))));
    }
    EXPECT_NE(std::string::npos,
              get(proxy_get("cfg.flashy.test/config/abc?size=5")).find("<video> http://cdn.flashy.test/stream/abc?size=5<"));
    EXPECT_NE(std::string::npos,
              get(proxy_get("cfg.escapo.test/feed/abc?size=5")).find("<media:url>http://cdn.escapo.test/stream/abc?size=5<"));
    std::string pl = get(proxy_get("playlst.test/playlist/abc?size=5"));
    EXPECT_NE(std::string::npos, pl.find("<media:group>"));
    EXPECT_NE(std::string::npos, pl.find("url=\"http://cdn.playlst.test/stream/abc?size=5&amp;sig=7\""));
    EXPECT_EQ(404, status_code(get(proxy_get("unknown.example/x"))));
}

TEST(TestWebLogTest, records_every_raw_request) {
    TempWorkDir dir;
    TestWeb web;
    std::string log = dir.file("requests.log");
    ASSERT_TRUE(testweb_start(&web, log.c_str()));
    std::string request = "GET /echo HTTP/1.1\r\nHost: a\r\n\r\n";
    http_exchange(web.port, request);
    testweb_stop(&web);
    std::string logged = read_file(log);
    ASSERT_EQ(4 + request.size(), logged.size());
    EXPECT_EQ(request, logged.substr(4));
    EXPECT_EQ((char)request.size(), logged[0]);
}

}  // namespace
