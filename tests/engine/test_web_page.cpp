// Any other web page (site code 27) on the test backend, through the
// loopback proxy with scripted connects: a chunked page whose <video> names
// the stream, asked for with the page as Referer and saved byte-exact under
// the page's title; a page that is media itself; and the answers that are
// refused before a byte is written.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "engine/link_fixture.h"

namespace {

const int PROXY_PORT = 3128;

struct WebPageTest : LinkFixture {};

std::string body_bytes(uint32_t count) {
    std::string out;
    for (uint32_t k = 0; k < count; k++) out += (char)((k * 13 + k / 241) & 0xFF);
    return out;
}

std::string chunk(const std::string &data) {
    char size[16];
    snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

TEST_F(WebPageTest, a_chunked_page_leads_to_its_video_asked_for_with_the_page_as_referer_and_saved_whole) {
    const char page[] = "http://site.example/watch/7";
    start({engine_item(page, SITE_WEB_PAGE, Queued),
           engine_item("http://site.example/clip", SITE_WEB_PAGE, Queued),
           engine_item("http://site.example/long", SITE_WEB_PAGE, Queued)}, 0);
    go_online();
    use_loopback_proxy(PROXY_PORT);
    const std::string html =
        "<!DOCTYPE html><html><head><title>Fox &amp; Hound</title></head><body>" + std::string(700, ' ') +
        "<video controls><source src=\"/media/fox.webm\" type=\"video/webm\"></video></body></html>";
    const std::string stream = body_bytes(9000);

    // Probe, then the download: each attempt reads the page first.
    for (int attempt = 0; attempt < 2; attempt++) {
        size_t k = fake_connects().size();
        if (attempt == 0) {
            item(0).state = Analysing;   // as a fresh capture is
            item(0).buffer = buffer_alloc();
            item(0).lastActivityTick = app_state.now_tick;
        } else {
            start_item(0, 1);
        }
        std::string asked = next_request(k);
        EXPECT_EQ("GET http://site.example/watch/7 HTTP/1.1\r\nHost: site.example\r\nUser-Agent: Quorvax/1.0\r\nAccept: */*\r\n"
                  "Accept-Encoding: identity\r\nConnection: close\r\n\r\n",
                  asked);
        // The page comes in pieces, its chunks split inside the address; a
        // chunk cut in the middle is waited for.
        size_t split = html.find("fox.webm") + 2;
        std::string whole = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" +
                            chunk(html.substr(0, split)) + chunk(html.substr(split)) + "0\r\n\r\n";
        answer(k, whole.substr(0, whole.size() - 60));
        step();
        EXPECT_EQ(0u, fake_connects().size() - k - 1) << "no request before the page is whole";
        answer(k, whole.substr(whole.size() - 60));
        step();
        EXPECT_STREQ("http://site.example/media/fox.webm", item(0).streamAddress);
        asked = next_request(k + 1);
        EXPECT_NE(std::string::npos, asked.find("GET http://site.example/media/fox.webm HTTP/1.1\r\n")) << asked;
        EXPECT_NE(std::string::npos, asked.find("\r\nReferer: http://site.example/watch/7\r\n")) << asked;
        answer(k + 1, "HTTP/1.1 200 OK\r\nContent-Type: video/webm\r\nContent-Length: 9000\r\n\r\n" +
                          (attempt ? stream : std::string()));
        if (attempt == 0) {
            step();
            EXPECT_EQ((uint32_t)Queued, item(0).state);
            EXPECT_EQ(9000u, stored(0, REC_TOTAL));
        } else {
            shutdown(peer(k + 1), SHUT_WR);
            ASSERT_TRUE(run_until([] { return item(0).state == Finished; }, 10));
        }
    }
    std::string name = item(0).fileName;
    EXPECT_EQ(0u, name.find("Fox Hound ")) << name;
    EXPECT_EQ(name.size() - 5, name.rfind(".webm")) << name;
    EXPECT_EQ(stream, read_file(output_path(0)));

    // A page answering with media is its own stream; the name its answer
    // gives wins, with the extension the media's bytes and name tell.
    size_t k = fake_connects().size();
    start_item(1, 1);
    next_request(k);
    std::string mp4 = std::string("\0\0\0\x18" "ftypisom", 12) + body_bytes(988);
    answer(k, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 1000\r\n"
              "Content-Disposition: attachment; filename=\"x.bin\"; filename*=UTF-8''Caf%C3%A9.mp4\r\n\r\n" + mp4);
    shutdown(peer(k), SHUT_WR);
    ASSERT_TRUE(run_until([] { return item(1).state == Finished; }, 10));
    EXPECT_EQ(k + 1, fake_connects().size()) << "the page's own answer was saved";
    name = item(1).fileName;
    EXPECT_EQ(0u, name.find("Caf\xC3\xA9 ")) << name;
    EXPECT_EQ(name.size() - 4, name.rfind(".mp4")) << name;
    EXPECT_EQ(mp4, read_file(output_path(1)));

    // A page longer than the bound is searched in its first PAGE_BODY_MAX
    // bytes, without waiting for the rest.
    k = fake_connects().size();
    item(2).state = Analysing;
    item(2).buffer = buffer_alloc();
    item(2).lastActivityTick = app_state.now_tick;
    next_request(k);
    std::string big = "<html><body><video src=\"/big.mp4\"></video>" + std::string(PAGE_BODY_MAX, ' ');
    answer(k, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                  std::to_string(big.size() + 100000) + "\r\n\r\n");
    // Exactly the bound is sent: the program closes the page then.
    for (size_t at = 0; at < PAGE_BODY_MAX; at += 65536) {
        answer(k, big.substr(at, std::min<size_t>(65536, PAGE_BODY_MAX - at)));
        step();
    }
    step();
    EXPECT_STREQ("http://site.example/big.mp4", item(2).streamAddress);
    EXPECT_EQ(k + 2, fake_connects().size()) << "the stream is asked for";
    EXPECT_EQ("", log_text());
}

// A stopped download carries on from its file's length: the page is asked
// for whole, then the stream by range - the declared one with the page as
// Referer; a page that is its own media is asked for again with the range.
TEST_F(WebPageTest, a_stopped_download_reads_the_page_whole_then_resumes_the_stream_by_range_unless_it_became_another_file) {
    const std::string stream = body_bytes(9000);
    start({engine_item("http://site.example/watch/9", SITE_WEB_PAGE, Stopped, 4000, 9000, "Fox 1.webm"),
           engine_item("http://site.example/raw", SITE_WEB_PAGE, Stopped, 4000, 9000, "Raw 1.mp4"),
           engine_item("http://site.example/v/new.mp4", SITE_DIRECT_MEDIA, Stopped, 4000, 9000, "New 1.mp4")},
          0);
    go_online();
    use_loopback_proxy(PROXY_PORT);
    write_file(dir.file("Fox 1.webm"), stream.substr(0, 4000));
    write_file(dir.file("Raw 1.mp4"), stream.substr(0, 4000));
    write_file(dir.file("New 1.mp4"), stream.substr(0, 4000));
    const std::string html = "<html><body><video src=\"fox.webm\"></video></body></html>";
    for (int i = 0; i < 2; i++) {
        size_t k = fake_connects().size();
        start_item(i, 1);
        std::string asked = next_request(k);
        EXPECT_EQ(std::string::npos, asked.find("Range:")) << asked;
        if (i == 0)
            answer(k, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                          std::to_string(html.size()) + "\r\n\r\n" + html);
        else
            answer(k, "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 9000\r\n\r\n" + stream);
        step();
        asked = next_request(k + 1);
        EXPECT_EQ(0u, asked.find(i == 0 ? "GET http://site.example/watch/fox.webm " : "GET http://site.example/raw "))
            << asked;
        EXPECT_NE(std::string::npos, asked.find("\r\nRange: bytes=4000-\r\n")) << asked;
        EXPECT_EQ(i == 0, asked.find("\r\nReferer: http://site.example/watch/9\r\n") != std::string::npos) << asked;
        answer(k + 1, "HTTP/1.1 206 Partial Content\r\nContent-Type: video/webm\r\nContent-Length: 5000\r\n"
                      "Content-Range: bytes 4000-8999/9000\r\n\r\n" + stream.substr(4000));
        shutdown(peer(k + 1), SHUT_WR);
        ASSERT_TRUE(run_until([i] { return item(i).state == Finished; }, 10)) << i;
        EXPECT_EQ(stream, read_file(output_path(i))) << i;
    }
    EXPECT_STREQ("Fox 1.webm", item(0).fileName);
    EXPECT_EQ("", log_text());

    // A link whose stream has since become another file (another complete
    // length in its Content-Range): the saved part is not its start, so the
    // file is cut and the stream asked for again from byte 0.
    std::string changed = body_bytes(12000);
    std::reverse(changed.begin(), changed.end());
    size_t k = fake_connects().size();
    start_item(2, 1);
    std::string asked = next_request(k);
    EXPECT_NE(std::string::npos, asked.find("\r\nRange: bytes=4000-\r\n")) << asked;
    answer(k, "HTTP/1.1 206 Partial Content\r\nContent-Length: 8000\r\n"
              "Content-Range: bytes 4000-11999/12000\r\n\r\n" + changed.substr(4000));
    step();
    EXPECT_EQ(0u, item(2).doneSize);
    EXPECT_EQ("", read_file(output_path(2)));
    asked = next_request(k + 1);
    EXPECT_EQ(std::string::npos, asked.find("Range:")) << asked;
    answer(k + 1, "HTTP/1.1 200 OK\r\nContent-Length: 12000\r\n\r\n" + changed);
    shutdown(peer(k + 1), SHUT_WR);
    ASSERT_TRUE(run_until([] { return item(2).state == Finished; }, 10));
    EXPECT_EQ(changed, read_file(output_path(2)));
    EXPECT_EQ(12000u, item(2).totalSize);
}

TEST_F(WebPageTest, manifests_protected_media_and_pages_without_video_fail_with_a_log_line_and_nothing_saved) {
    struct Case {
        const char *address;
        const char *page;     // the first answer
        const char *stream;   // the declared stream's answer, if it is asked for
        const char *reason;
    };
    const char html[] = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n";
    const std::string no_video = std::string(html) + "<html><body><img src=\"a.jpg\"><p>text</p></body></html>";
    const std::string only_hls =
        std::string(html) + "<html><body><video src=\"/live/index.m3u8\"></video></body></html>";
    const std::string declares = std::string(html) + "<html><body><video src=\"/v/a.mp4\"></video></body></html>";
    const Case cases[] = {
        {"http://a.example/hls", "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
                                 "Content-Length: 40\r\n\r\n#EXTM3U\n#EXT-X-VERSION:3\nseg0.ts\n12345678\n",
         nullptr, "streaming manifest"},
        {"http://a.example/dash", "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n"
                                  "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\"/>",
         nullptr, "streaming manifest"},
        {"http://a.example/drm", "HTTP/1.1 200 OK\r\nContent-Length: 62\r\n\r\n"
                                 "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\"\nseg.ts\n",
         nullptr, "protected"},
        {"http://a.example/empty", no_video.c_str(), nullptr, "no video on the page"},
        {"http://a.example/live", only_hls.c_str(), nullptr, "streaming manifest"},
        {"http://a.example/disguised", declares.c_str(),
         "HTTP/1.1 200 OK\r\nContent-Type: application/x-mpegURL\r\nContent-Length: 8\r\n\r\n#EXTM3U\n",
         "streaming manifest"},
        {"http://a.example/gone", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", nullptr, "HTTP 404"},
    };
    const int n = (int)(sizeof cases / sizeof cases[0]);
    std::vector<DownloadItem> items;
    for (const Case &c : cases) items.push_back(engine_item(c.address, SITE_WEB_PAGE, Queued));
    start(items, 0);
    go_online();
    use_loopback_proxy(PROXY_PORT);
    for (int i = 0; i < n; i++) {
        const Case &c = cases[i];
        size_t k = fake_connects().size();
        start_item(i, 1);
        next_request(k);
        answer(k, c.page);
        // A page that gives no length (or more than comes) ends with its
        // connection, seen at the step after its bytes are taken.
        shutdown(peer(k), SHUT_WR);
        step();
        step();
        if (c.stream) {
            next_request(k + 1);
            answer(k + 1, c.stream);
            step();
        }
        EXPECT_EQ((uint32_t)Failed, item(i).state) << c.address;
        EXPECT_EQ((uint32_t)Failed, stored(i, REC_STATE)) << c.address;
        EXPECT_EQ(0u, item(i).socket) << c.address;
        EXPECT_STREQ("", item(i).fileName) << c.address;
        std::string line = std::string(" ") + c.address + " " + c.reason + "\n";
        EXPECT_NE(std::string::npos, log_text().find(line)) << c.address << "\n" << log_text();
    }
    EXPECT_EQ(1, app_state.online) << "a refused page does not blame the network";
}

}  // namespace
