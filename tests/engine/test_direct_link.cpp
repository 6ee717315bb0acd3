// Direct media links on the test backend, with scripted connects and the
// scripted TLS stand-in: the proxy tunnel, a handshake stepped once per
// tick, redirects across schemes, bytes held inside TLS while the socket is
// empty, and the refusals that end in the failure log.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/link_fixture.h"
#include "web/page_media.h"

namespace {

const int PROXY_PORT = 3128;

struct DirectLinkTest : LinkFixture {
    // Item i is analysed from its first step on, as a fresh capture is.
    static void analyse(int i) {
        item(i).state = Analysing;
        if (!item(i).buffer) item(i).buffer = buffer_alloc();
        item(i).lastActivityTick = app_state.now_tick;
    }
    // The next connect is made and, being through the proxy to an https
    // host, answered by the proxy; returns what the program asked it.
    static std::string open_tunnel(size_t k) {
        std::string asked = next_request(k);
        if (fake_connects().size() == k + 1) answer(k, "HTTP/1.1 200 Connection established\r\n\r\n");
        return asked;
    }
};

// The names in the work folder other than the list and the failure log:
// the files downloads have written there.
std::string saved_files() {
    std::string names;
    DIR *folder = opendir(".");
    if (!folder) return "(no folder)";
    while (struct dirent *entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "list.o" && name != FAILURE_LOG_NAME) names += name + " ";
    }
    closedir(folder);
    return names;
}

std::string body_bytes(uint32_t from, uint32_t count) {
    std::string out;
    for (uint32_t k = from; k < from + count; k++) out += (char)((k * 7 + k / 251) & 0xFF);
    return out;
}

// (The resume by range over TLS is checked end to end, by
// test_direct_link_e2e.)
TEST_F(DirectLinkTest, an_https_link_tunnels_steps_tls_follows_redirects_and_reads_what_tls_holds) {
    FakeTlsScript script;
    script.handshake_steps = 3;
    script.hold_arrivals = 1;   // the socket stays empty: only TLS counts
    fake_tls_script(script);
    const char page[] = "https://media.example/v/clip.mp4?x=1";
    start({engine_item(page, SITE_DIRECT_MEDIA, Queued)});
    go_online();
    use_loopback_proxy(PROXY_PORT);
    analyse(0);

    // The length probe: tunnel, three handshake ticks, then the request.
    EXPECT_EQ("CONNECT media.example:443 HTTP/1.1\r\nHost: media.example:443\r\n\r\n", open_tunnel(0));
    EXPECT_EQ(PROXY_PORT, fake_connects()[0].port);
    EXPECT_TRUE(fake_tls_connections().empty()) << "no TLS before the proxy's answer";
    step();
    ASSERT_EQ(1u, fake_tls_connections().size());
    EXPECT_EQ("media.example", fake_tls_connections()[0].host);
    EXPECT_EQ(1, fake_tls_connections()[0].handshake_calls);
    step();
    EXPECT_EQ(2, fake_tls_connections()[0].handshake_calls);
    EXPECT_EQ("", peer_bytes(peer(0))) << "nothing sent while the handshake runs";
    step();
    EXPECT_EQ("GET /v/clip.mp4?x=1 HTTP/1.1\r\nHost: media.example\r\nUser-Agent: Quorvax/1.0\r\nAccept: */*\r\n"
              "Accept-Encoding: identity\r\nConnection: close\r\n\r\n",
              peer_bytes(peer(0)));

    // Redirected to plain http on another port, then back to https on
    // another host: the final address serves the probe.
    answer(0, "HTTP/1.1 301 Moved\r\nContent-Length: 0\r\nLocation: http://files.example:8080/w/clip.mp4\r\n\r\n");
    step();
    EXPECT_TRUE(fake_tls_connections()[0].closed);
    EXPECT_STREQ("http://files.example:8080/w/clip.mp4", item(0).streamAddress);
    step();
    ASSERT_EQ(2u, fake_connects().size());
    fake_connects()[1].result = 1;
    step();
    EXPECT_EQ("GET http://files.example:8080/w/clip.mp4 HTTP/1.1\r\nHost: files.example:8080\r\n"
              "User-Agent: Quorvax/1.0\r\nAccept: */*\r\n"
              "Accept-Encoding: identity\r\nConnection: close\r\n\r\n",
              peer_bytes(peer(1)));
    EXPECT_EQ(1u, fake_tls_connections().size()) << "plain http needs no TLS";
    // Header names in any case, as servers write them.
    answer(1, "HTTP/1.1 307 Temporary\r\nlocation: https://cdn.example/x/final.mp4\r\ncontent-length: 0\r\n\r\n");
    step();
    EXPECT_STREQ("https://cdn.example/x/final.mp4", item(0).streamAddress);
    EXPECT_EQ("CONNECT cdn.example:443 HTTP/1.1\r\nHost: cdn.example:443\r\n\r\n", open_tunnel(2));
    for (int k = 0; k < 3; k++) step();
    EXPECT_NE(std::string::npos, peer_bytes(peer(2)).find("GET /x/final.mp4 HTTP/1.1\r\nHost: cdn.example\r\n"));
    answer(2, "HTTP/1.1 200 OK\r\ncontent-type: video/mp4\r\nCONTENT-LENGTH: 300000\r\n\r\n");
    step();
    EXPECT_EQ((uint32_t)Queued, item(0).state);
    // Named when the stream answers, after the address the user copied
    // rather than the one it was sent on to, with a number of its own.
    char name[64];
    snprintf(name, sizeof name, "clip %x.mp4", (unsigned)app_state.now_tick);
    EXPECT_STREQ(name, item(0).fileName);
    EXPECT_EQ(300000u, stored(0, REC_TOTAL));
    EXPECT_STREQ(page, item(0).pageAddress);
    EXPECT_TRUE(fake_tls_connections()[1].closed);

    // The download starts again from the captured address.
    script.handshake_steps = 1;
    fake_tls_script(script);
    start_item(0, 1);
    EXPECT_EQ("CONNECT media.example:443 HTTP/1.1\r\nHost: media.example:443\r\n\r\n", open_tunnel(3));
    step();
    std::string request = peer_bytes(peer(3));
    EXPECT_EQ(0u, request.find("GET /v/clip.mp4?x=1 HTTP/1.1\r\n")) << request;
    EXPECT_EQ(std::string::npos, request.find("Range:"));
    answer(3, "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + body_bytes(0, 70000));
    for (int k = 0; k < 3; k++) step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ(70000u, item(0).doneSize + item(0).bufferFill);

    // Records the library decrypted ahead, with nothing on the socket, are
    // taken on the very tick.
    plat_tls t = (plat_tls)fake_tls_connections().size();
    fake_tls_hold(t, body_bytes(70000, 30000));
    ASSERT_EQ(0u, plat_readable(fake_connects()[3].socket));
    step();
    EXPECT_EQ(100000u, item(0).doneSize + item(0).bufferFill);

    // Stopped, the item lets its TLS go with its socket.
    reset_item(0, Stopped);
    EXPECT_TRUE(fake_tls_connections()[t - 1].closed);
    EXPECT_EQ("", log_text());
}

TEST_F(DirectLinkTest, tls_failures_and_refused_streams_fail_with_a_log_line_and_nothing_saved) {
    struct Case {
        const char *address;
        int failure;           // the handshake's end (PLAT_TLS_OK: it succeeds)
        int handshake_steps;
        const char *answer;    // the server's answer once the request is out
        const char *reason;
    };
    const Case cases[] = {
        {"https://a.example/wrong.mp4", PLAT_TLS_WRONG_NAME, 2, nullptr, "wrong name"},
        {"https://a.example/self.mp4", PLAT_TLS_UNTRUSTED, 1, nullptr, "untrusted"},
        {"https://a.example/slow.mp4", PLAT_TLS_OK, 100000, nullptr, "handshake timed out"},
        {"http://a.example/chunked.mp4", PLAT_TLS_OK, 1, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello",
         "no length"},
        {"https://a.example/huge.mp4", PLAT_TLS_OK, 1, "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nxx",
         "too large"},
        {"http://a.example/gone.mp4", PLAT_TLS_OK, 1, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "HTTP 404"},
        // A redirect without its target, and a sign-in page where the file
        // should be: neither body is the file.
        {"http://a.example/moved.mp4", PLAT_TLS_OK, 1, "HTTP/1.1 302 Found\r\nContent-Length: 5\r\n\r\nmoved",
         "bad redirect"},
        {"http://a.example/login.mp4", PLAT_TLS_OK, 1,
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 26\r\n\r\n<html><body>Sign in</body>", "not media"},
    };
    const int n = (int)(sizeof cases / sizeof cases[0]);
    std::vector<DownloadItem> items;
    for (const Case &c : cases) items.push_back(engine_item(c.address, SITE_DIRECT_MEDIA, Queued));
    items.push_back(engine_item("http://a.example/loop.mp4", SITE_DIRECT_MEDIA, Queued));
    items.push_back(engine_item("https://a.example/silent.mp4", SITE_DIRECT_MEDIA, Queued));
    start(items, 0);
    go_online();
    use_loopback_proxy(PROXY_PORT);
    // A log nearly full starts afresh at the next line.
    write_file(dir.file(FAILURE_LOG_NAME), std::string(FAILURE_LOG_CAP - 40, 'x') + "\n");

    for (int i = 0; i < n; i++) {
        const Case &c = cases[i];
        FakeTlsScript script;
        script.handshake_steps = c.handshake_steps;
        script.failure = c.failure;
        fake_tls_script(script);
        analyse(i);
        size_t k = fake_connects().size();
        if (c.address[4] == 's') {
            open_tunnel(k);
        } else {
            step();
            ASSERT_EQ(k + 1, fake_connects().size());
            fake_connects()[k].result = 1;
        }
        if (c.handshake_steps == 100000) {
            step();
            step(TLS_HANDSHAKE_TIMEOUT_MS - 100);
            EXPECT_EQ((uint32_t)Analysing, item(i).state) << c.address;
            step(200);
        } else {
            for (int s = 0; s < c.handshake_steps; s++) step();
        }
        if (c.answer) {
            EXPECT_NE("", peer_bytes(peer(k))) << c.address;
            answer(k, c.answer);
            step();
        }
        EXPECT_EQ((uint32_t)Failed, item(i).state) << c.address;
        EXPECT_EQ((uint32_t)Failed, stored(i, REC_STATE)) << c.address;
        EXPECT_EQ(0u, item(i).socket) << c.address;
        EXPECT_EQ("", saved_files()) << c.address;
        std::string log = log_text();
        std::string line = std::string(" ") + c.address + " " + c.reason + "\n";
        EXPECT_NE(std::string::npos, log.find(line)) << c.address << "\n" << log;
    }
    for (const FakeTls &t : fake_tls_connections()) EXPECT_TRUE(t.closed);

    // A link that redirects to itself: ten redirects are followed in one
    // attempt, the eleventh gives it up.
    analyse(n);
    size_t first = fake_connects().size();
    for (int r = 0; r <= REDIRECT_LIMIT && item(n).state == Analysing; r++) {
        size_t k = fake_connects().size();
        step();
        ASSERT_EQ(k + 1, fake_connects().size());
        fake_connects()[k].result = 1;
        step();
        answer(k, "HTTP/1.1 302 Found\r\nLocation: loop.mp4\r\nContent-Length: 0\r\n\r\n");
        step();
    }
    EXPECT_EQ((uint32_t)Failed, item(n).state);
    EXPECT_EQ((size_t)REDIRECT_LIMIT + 1, fake_connects().size() - first);

    // A proxy that takes the connection and never answers CONNECT.
    analyse(n + 1);
    EXPECT_EQ(0u, next_request(fake_connects().size()).find("CONNECT a.example:443 "));
    step(TUNNEL_TIMEOUT_MS - 100);
    EXPECT_EQ((uint32_t)Analysing, item(n + 1).state);
    step(200);
    EXPECT_EQ((uint32_t)Failed, item(n + 1).state);

    std::string log = log_text();
    EXPECT_EQ(0u, log.find("t+")) << "the full log was started afresh";
    EXPECT_NE(std::string::npos, log.find(" http://a.example/loop.mp4 too many redirects\n"));
    EXPECT_NE(std::string::npos, log.find(" https://a.example/silent.mp4 proxy timed out\n"));
    EXPECT_EQ((size_t)n + 2, (size_t)std::count(log.begin(), log.end(), '\n'));
    EXPECT_EQ(1, app_state.online) << "a refused stream does not blame the network";

    // A log that cannot be written fails nothing more.
    unlink(dir.file(FAILURE_LOG_NAME).c_str());
    ASSERT_EQ(0, mkdir(dir.file(FAILURE_LOG_NAME).c_str(), 0700));
    FakeTlsScript script;
    script.failure = PLAT_TLS_EXPIRED;
    fake_tls_script(script);
    start_item(0, 1);
    open_tunnel(fake_connects().size());
    step();
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    rmdir(dir.file(FAILURE_LOG_NAME).c_str());
}

// Where a redirect leads from the address it answers.
TEST(DirectTargetTest, targets_resolve_against_the_scheme_host_and_folder_of_their_base) {
    struct Case { const char *base, *target, *expected; };
    const Case cases[] = {
        {"https://a.example:8443/v/x.mp4?q=1", "/w/y.mp4", "https://a.example:8443/w/y.mp4"},
        {"https://a.example/v/x.mp4?q=/z/", "y.mp4", "https://a.example/v/y.mp4"},
        {"https://a.example", "y.mp4", "https://a.example/y.mp4"},
        {"https://a.example?q=1", "y.mp4", "https://a.example/y.mp4"},
        {"http://a.example/v/x.mp4", "//b.example/y.mp4", "http://b.example/y.mp4"},
        {"http://a.example/v/x.mp4", "https://b.example/y.mp4", "https://b.example/y.mp4"},
    };
    for (const Case &c : cases) {
        char out[512];
        ASSERT_LT(0, resolve_address(c.base, (uint32_t)strlen(c.base), c.target, (uint32_t)strlen(c.target), out,
                                     (uint32_t)sizeof out))
            << c.target;
        EXPECT_STREQ(c.expected, out) << c.base << " + " << c.target;
    }
    char small[16];
    EXPECT_GT(0, resolve_address("https://a.example/", 18, "/a-long-path.mp4", 16, small, (uint32_t)sizeof small));
}

}  // namespace
