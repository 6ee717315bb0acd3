// The page fetch driver against the demo web on loopback: from a captured
// page address to the stream's length, for every site, with redirects,
// second pages, the page window and the stream's answer.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/engine.h"
#include "web_fixture.h"
#include "support/scripted_connect.h"

namespace {

struct FetchTest : WebFixture {
    int port = 0;
    void SetUp() override {
        WebFixture::SetUp();
        port = shared_testweb().port;
        ASSERT_GT(port, 0) << "the demo web did not start";
        use_loopback_proxy(port);
    }
    // Runs a new item (Analysing) until it leaves that state.
    bool probe(int i) {
        return drive(i, 0, 0, [&] { return item(i).state != Analysing; });
    }
    // Connecting until the transfer has its headers ahead (or left).
    bool start(int i) {
        return drive(i, item(i).doneSize, 1, [&] { return item(i).state != Connecting; });
    }
    // The engine's header and body steps until the item is Finished.
    bool transfer(int i, double seconds = 20.0) {
        auto begin = std::chrono::steady_clock::now();
        while (item(i).state == ReceivingHeaders || item(i).state == Downloading) {
            if (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() > seconds)
                return false;
            if (item(i).state == ReceivingHeaders)
                receive_headers_step(i);
            else
                receive_body_step(i);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return item(i).state == Finished;
    }
    std::string file_of(int i) { return read_file(dir.file(item(i).fileName)); }
    // Appends an item past its page (requestStage 2) with its stream address
    // known, and the given file name, doneSize and totalSize.
    static int add_stream_item(int32_t kind, uint32_t state, const std::string &stream,
                               const std::string &file_name = "", uint32_t done = 0, uint32_t total = 0) {
        int i = add_item("x", kind, state);
        item(i).requestStage = 2;
        item(i).doneSize = done;
        item(i).totalSize = total;
        strncpy(item(i).fileName, file_name.c_str(), sizeof item(i).fileName - 1);
        strncpy(item(i).streamAddress, stream.c_str(), sizeof item(i).streamAddress - 1);
        return i;
    }
};

// ----------------------------------------------------- every site

struct SiteCase {
    const char *host;
    int kind;
    const char *address;   // {v}: the video id, {n}: the stream length
};

const SiteCase kSites[24] = {
    {"reelbox.test", 0, "http://cdn.reelbox.test/stream/{v}?size={n}"},
    {"tubeon.test", 1, "cdn.tubeon.test/stream/{v}?size={n}&id=9"},
    {"flvbay.test", 2, "cdn.flvbay.test/stream/{v}?size={n}"},
    {"vidcue.test", 3, "cdn.vidcue.test/stream/{v}?size={n}"},
    {"clipgo.test", 25, "cdn.clipgo.test/stream/{v}?size={n}"},
    {"showly.test", 4, "cdn.showly.test/stream/{v}?size={n}"},
    {"vidora.test", 5, "cdn.vidora.test/stream/{v}?size={n}"},
    {"moviestar.test", 7, "cdn.moviestar.test/stream/{v}?size={n}"},
    {"mvs.test", 7, "cdn.mvs.test/stream/{v}?size={n}"},
    {"flashy.test", 8, "http://cdn.flashy.test/stream/{v}?size={n}"},
    {"redclips.test", 9, "cdn.redclips.test/stream/{v}?size={n}"},
    {"html5v.test", 10, "cdn.html5v.test/stream/{v}?size={n}"},
    {"videotrek.test", 11, "cdn.videotrek.test/stream/{v}?size={n}"},
    {"escapo.test", 13, "http://cdn.escapo.test/stream/{v}?size={n}"},
    {"pathviewer.test", 14, "cdn.pathviewer.test/stream/{v}?size={n}&sig={v}"},
    {"streamhall.test", 16, "cdn.streamhall.test/stream/{v}?size={n}"},
    {"addvar.test", 17, "cdn.addvar.test/stream/{v}?size={n}"},
    {"playlst.test", 18, "cdn.playlst.test/stream/{v}?size={n}&sig=7"},
    {"vidfan.test", 19, "cdn.vidfan.test/stream/{v}?size={n}"},
    {"qualityvid.test", 20, "http://cdn.qualityvid.test/stream/{v}?size={n}"},
    {"gdaclip.test", 21, "cdn.gdaclip.test/stream/{v}?size={n}?__gda__=1500000000_{v}"},
    {"fil.test", 22, "cdn.fil.test/stream/{v}?size={n}"},
    {"vsr.test", 23, "cdn.vsr.test/stream/{v}?size={n}"},
    {"filer2.test", 24, "http://cdn.filer2.test/stream/{v}?size={n}"},
};

std::string fill_in(std::string text, const std::string &v, const std::string &n) {
    for (size_t at; (at = text.find("{v}")) != std::string::npos;) text.replace(at, 3, v);
    for (size_t at; (at = text.find("{n}")) != std::string::npos;) text.replace(at, 3, n);
    return text;
}

// The name the page's title gives: "Demo clip <v>: a day at <host> | <host>".
std::string title_name(const std::string &v, std::string host) {
    for (char &c : host)
        if (c == '.') c = ' ';
    return "Demo clip " + v + " a day at " + host + " " + host + " f4240.flv";
}

TEST_F(FetchTest, every_site_page_yields_its_stream_address_name_and_length) {
    for (const SiteCase &c : kSites) {
        SCOPED_TRACE(c.host);
        std::string v = "clip" + std::to_string(c.kind);
        std::string n = std::to_string(100000 + c.kind);
        int i = add_item(std::string(c.host) + "/watch/" + v + "?size=" + n, c.kind);
        ASSERT_TRUE(probe(i)) << "still " << state_of(i) << " at stage " << item(i).requestStage;
        EXPECT_EQ("Queued", state_of(i));
        EXPECT_EQ(fill_in(c.address, v, n), std::string(item(i).streamAddress));
        EXPECT_EQ(c.kind == 0 ? "key=" + v + ".flv" : title_name(v, c.host), std::string(item(i).fileName));
        EXPECT_EQ(100000u + c.kind, item(i).totalSize);
        EXPECT_EQ(0u, item(i).socket);
        EXPECT_EQ(0u, item(i).buffer);
        EXPECT_EQ(Queued, stored(i, RECORD_STATE));
        EXPECT_EQ(100000u + c.kind, stored(i, RECORD_TOTAL));
    }
}

TEST_F(FetchTest, a_title_sent_in_latin1_names_the_file_in_utf8) {
    // The same title as one byte per letter (Latin-1, as older sites send
    // it) and in UTF-8: one name, and the stream lands in that file.
    const std::string name = "Caf\xC3\xA9 Society f4240.flv";
    for (const char *charset : {"", "&utf8=1"}) {
        SCOPED_TRACE(charset);
        int i = add_item(std::string("vidcue.test/watch/cafe?size=3000&title=Caf%C3%A9%20Society") + charset, 3);
        ASSERT_TRUE(probe(i));
        ASSERT_EQ("Queued", state_of(i));
        EXPECT_EQ(name, std::string(item(i).fileName));
        item(i).state = Connecting;
        item(i).buffer = buffer_alloc();
        ASSERT_TRUE(start(i));
        ASSERT_TRUE(transfer(i));
        EXPECT_TRUE(read_file(dir.file(name)) == testweb_stream_bytes("cafe", 0, 3000));
        EXPECT_EQ(0, remove(dir.file(name).c_str()));
    }
}

// ------------------------------------------------------ connecting

TEST_F(FetchTest, a_host_that_cannot_be_resolved_makes_the_item_wait_for_a_retry) {
    app_state.use_proxy = 0;
    fake_fail(FAULT_RESOLVE, 1, 1);
    int i = add_item("vidcue.test/watch/a", 3);
    item(i).retryCount = 1;
    app_state.now_tick = 777;
    fetch_page(i, 0, 0);
    EXPECT_EQ("WaitingRetry", state_of(i));
    EXPECT_EQ(2, item(i).retryCount);
    EXPECT_EQ(777u, item(i).lastActivityTick);
    EXPECT_EQ(0, fake_calls(FAULT_CONNECT));
}

TEST_F(FetchTest, bare_host_kinds_ask_for_their_page_without_www) {
    TestWeb logged;
    std::string log = dir.file("requests.log");
    ASSERT_TRUE(testweb_start(&logged, log.c_str()));
    use_loopback_proxy(logged.port);
    int a = add_item("mvs.test/watch/b1", 7);
    int b = add_item("vidcue.test/watch/b2", 3);
    EXPECT_TRUE(probe(a));
    EXPECT_TRUE(probe(b));
    testweb_stop(&logged);
    std::string requests = read_file(log);
    EXPECT_NE(std::string::npos, requests.find("GET http://mvs.test/watch/b1 HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, requests.find("\r\nHost: mvs.test\r\n"));
    EXPECT_NE(std::string::npos, requests.find("GET http://www.vidcue.test/watch/b2 HTTP/1.1\r\n"));
    // Stream requests name the bare host.
    EXPECT_NE(std::string::npos, requests.find("\r\nHost: cdn.vidcue.test\r\n"));
}

// ------------------------------------------------------ page answers

TEST_F(FetchTest, a_short_page_redirect_is_followed_with_host_and_path_only) {
    int i = add_item("reelbox.test/moved/r1?total=999", 0);
    ASSERT_TRUE(drive(i, 0, 0, [&] { return item(i).redirectedPage == 1 || item(i).state != Analysing; }));
    EXPECT_EQ(0u, item(i).socket);
    EXPECT_EQ(0u, item(i).bufferFill);
    EXPECT_STREQ("reelbox.test/watch/r1", buffer_data(item(i).buffer));
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_STREQ("http://cdn.reelbox.test/stream/r1?size=200000", item(i).streamAddress);
}

TEST_F(FetchTest, a_redirect_answer_of_a_thousand_bytes_is_not_followed) {
    int i = add_item("reelbox.test/moved/r2?total=1000", 0);
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Failed", state_of(i)) << "its small page holds no video";
    EXPECT_EQ(0, item(i).redirectedPage);
    EXPECT_EQ(Failed, stored(i, RECORD_STATE));
    EXPECT_EQ(0u, item(i).buffer);
}

TEST_F(FetchTest, relative_redirects_keep_the_host_and_port_of_the_request) {
    int i = add_item("reelbox.test/moved/r3?rel=1", 0);
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_STREQ("http://cdn.reelbox.test/stream/r3?size=200000", item(i).streamAddress);

    // Direct to host:port: the stream's relative redirect stays on that port.
    app_state.use_proxy = 0;
    std::string here = "127.0.0.1:" + std::to_string(port);
    int j = add_stream_item(3, Analysing, here + "/redirect?to=/stream/rel%3Fsize%3D777");
    ASSERT_TRUE(probe(j));
    EXPECT_EQ("Queued", state_of(j));
    EXPECT_EQ(here + "/stream/rel?size=777", std::string(item(j).streamAddress));
    EXPECT_EQ(777u, item(j).totalSize);
}

TEST_F(FetchTest, endless_redirects_give_the_item_up_after_ten) {
    int i = add_stream_item(3, Analysing, "loop.test/loop/1");
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Failed", state_of(i));
    EXPECT_STREQ("http://loop.test/loop/11", item(i).streamAddress) << "ten redirects were followed";
    EXPECT_EQ(Failed, stored(i, RECORD_STATE));
    EXPECT_EQ(0u, item(i).buffer);
    EXPECT_EQ(0u, item(i).socket);

    // The same for a page that redirects for ever.
    int j = add_item("reelbox.test/loop/1", 0);
    ASSERT_TRUE(probe(j));
    EXPECT_EQ("Failed", state_of(j));
}

TEST_F(FetchTest, a_large_page_is_read_window_by_window) {
    // A page of about 400,000 bytes whose player comes last: the first
    // window holds no match and is dropped; the rest of the page arrives
    // from the buffer's start.
    int i = add_item("vidcue.test/watch/big?pad=399600", 3);
    uint32_t most = 0;
    ASSERT_TRUE(drive(i, 0, 0, [&] {
        most = std::max(most, item(i).bufferFill);
        return item(i).state != Analysing;
    }));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_STREQ("cdn.vidcue.test/stream/big?size=200000", item(i).streamAddress);
    EXPECT_LE(most, PAGE_WINDOW);

    // A match in the first window of a page that never ends is found when
    // the window fills.
    int j = add_item("vidcue.test/watch/early?tail=400000&noend=1&stall=1", 3);
    ASSERT_TRUE(probe(j));
    EXPECT_EQ("Queued", state_of(j));
    EXPECT_STREQ("cdn.vidcue.test/stream/early?size=200000", item(j).streamAddress);
}

TEST_F(FetchTest, a_complete_page_without_the_video_fails_and_is_saved) {
    int i = add_item("vidcue.test/watch/none?bare=1", 3);
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Failed", state_of(i));
    EXPECT_EQ(0u, item(i).socket);
    EXPECT_EQ(0u, item(i).buffer);
    EXPECT_EQ(Failed, stored(i, RECORD_STATE));
}

// ------------------------------------------------------ the stream's answer

TEST_F(FetchTest, the_length_probe_ends_queued_with_the_announced_length_even_when_smaller) {
    int i = add_stream_item(3, Analysing, "cdn.vidcue.test/stream/p?size=5000", "", 0, 999999);
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_EQ(5000u, item(i).totalSize);
    EXPECT_EQ(5000u, stored(i, RECORD_TOTAL));
    EXPECT_EQ(0u, item(i).socket);
    EXPECT_EQ(0u, item(i).buffer);
    EXPECT_EQ(0, buffers_in_use());
}

TEST_F(FetchTest, error_answers_and_lengths_out_of_range_fail_the_item) {
    struct {
        const char *query;
        int stream_mode;
    } cases[] = {{"status=404", 0}, {"status=500", 1}, {"announce=0", 0},
                 {"announce=abc", 0}, {"announce=4294967296", 0}, {"announce=99999999999", 1}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.query);
        int i = add_stream_item(3, c.stream_mode ? Connecting : Analysing,
                                std::string("cdn.vidcue.test/stream/e?") + c.query, "err.flv");
        uint32_t from = item(i).state;
        ASSERT_TRUE(drive(i, 0, c.stream_mode, [&] { return item(i).state != from; }));
        EXPECT_EQ("Failed", state_of(i));
        EXPECT_EQ(Failed, stored(i, RECORD_STATE));
        EXPECT_EQ(0u, item(i).socket);
        EXPECT_EQ(0u, item(i).buffer);
        EXPECT_EQ(0u, item(i).file);
        EXPECT_FALSE(plat_file_exists("err.flv"));
    }
}

TEST_F(FetchTest, lengths_between_two_and_four_gib_are_kept) {
    int i = add_stream_item(3, Analysing, "cdn.vidcue.test/stream/g?size=100&announce=4294967295");
    ASSERT_TRUE(probe(i));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_EQ(4294967295u, item(i).totalSize);
}

TEST_F(FetchTest, a_transfer_resumes_past_two_gib_at_its_done_size) {
    const uint32_t done = 2500000000u;
    std::string name = "big resume.flv";
    plat_file f = plat_create_new_rw(name.c_str());
    ASSERT_NE(PLAT_INVALID_FILE, f);
    ASSERT_EQ(1, plat_truncate(f, done));   // sparse: the earlier part
    plat_close(f);
    int i = add_stream_item(3, Connecting, "cdn.vidcue.test/stream/huge?size=2500003000", name, done,
                            done + 3000);
    ASSERT_TRUE(start(i));
    EXPECT_EQ("ReceivingHeaders", state_of(i));
    ASSERT_TRUE(transfer(i));
    plat_file r = plat_open_read(name.c_str());
    EXPECT_EQ((int64_t)done + 3000, plat_file_size(r));
    ASSERT_EQ(1, plat_seek(r, done));
    std::string tail(3000, '\0');
    EXPECT_EQ(3000u, plat_read(r, &tail[0], 3000));
    plat_close(r);
    EXPECT_TRUE(tail == testweb_stream_bytes("huge", done, 3000));
    remove(name.c_str());
}

TEST_F(FetchTest, a_started_item_fetches_its_page_again_and_resumes_from_done_size) {
    std::string name = "resume me.flv";
    write_file(dir.file(name), testweb_stream_bytes("rs", 0, 70000));
    int i = add_item("vidcue.test/watch/rs?size=150000", 3, Connecting);
    item(i).doneSize = 70000;
    item(i).totalSize = 150000;
    strcpy(item(i).fileName, name.c_str());
    strcpy(item(i).streamAddress, "stale.test/old");
    ASSERT_TRUE(start(i));
    EXPECT_EQ("ReceivingHeaders", state_of(i));
    EXPECT_STREQ("cdn.vidcue.test/stream/rs?size=150000", item(i).streamAddress);
    EXPECT_STREQ("resume me.flv", item(i).fileName) << "a named item keeps its name";
    EXPECT_EQ(150000u, item(i).totalSize) << "the remaining 80,000 do not lower it";
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("rs", 0, 150000));
}

TEST_F(FetchTest, a_stream_redirect_is_followed_with_the_same_range) {
    std::string name = "redirected.flv";
    write_file(dir.file(name), testweb_stream_bytes("rd", 0, 1000));
    int i = add_stream_item(0, Connecting, "dl.reelbox.test/get/9000/key=rd", name, 1000, 9000);
    ASSERT_TRUE(start(i));
    EXPECT_STREQ("http://cdn.reelbox.test/stream/rd?size=9000", item(i).streamAddress);
    EXPECT_EQ(1000u, item(i).doneSize);
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("rd", 0, 9000));
}

TEST_F(FetchTest, a_ranged_request_answered_whole_starts_the_file_again) {
    std::string name = "ignored range.flv";
    write_file(dir.file(name), std::string(4000, 'x'));
    int i = add_stream_item(3, Connecting, "cdn.vidcue.test/stream/nr?size=5000&norange=1", name, 4000, 5000);
    ASSERT_TRUE(start(i));
    EXPECT_EQ(0u, item(i).doneSize);
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("nr", 0, 5000));
}

TEST_F(FetchTest, a_restart_from_zero_cuts_the_existing_file) {
    std::string name = "from zero.flv";
    write_file(dir.file(name), std::string(9000, 'x'));
    int i = add_stream_item(3, RestartFromZero, "cdn.vidcue.test/stream/z?size=6000", name, 9000, 9000);
    ASSERT_TRUE(drive(i, 0, 1, [&] { return item(i).state != RestartFromZero; }));
    EXPECT_EQ(0u, item(i).doneSize);
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("z", 0, 6000)) << "no old bytes are left behind";
}

TEST_F(FetchTest, a_file_that_vanished_before_a_ranged_answer_is_fetched_again_from_zero) {
    int i = add_stream_item(3, Connecting, "cdn.vidcue.test/stream/vn?size=8000", "vanished.flv", 3000, 8000);
    // The ranged answer arrives: nothing is written, the stream is asked again.
    ASSERT_TRUE(drive(i, item(i).doneSize, 1, [&] { return item(i).doneSize == 0; }));
    EXPECT_EQ("Connecting", state_of(i));
    EXPECT_EQ(2, item(i).requestStage);
    EXPECT_EQ(0u, item(i).socket);
    EXPECT_FALSE(plat_file_exists("vanished.flv"));
    ASSERT_TRUE(start(i));
    EXPECT_EQ("ReceivingHeaders", state_of(i));
    EXPECT_EQ(8000u, item(i).totalSize);
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("vn", 0, 8000));
}

TEST_F(FetchTest, an_output_file_that_can_be_neither_opened_nor_created_fails_the_item) {
    strcpy(app_state.download_folder, "no such folder");
    int i = add_stream_item(3, Connecting, "cdn.vidcue.test/stream/nw?size=100", "nowhere.flv");
    ASSERT_TRUE(start(i));
    EXPECT_EQ("Failed", state_of(i));
    EXPECT_EQ(Failed, stored(i, RECORD_STATE));
    EXPECT_EQ(0u, item(i).file);
    EXPECT_EQ(0u, item(i).socket);

    // A file name that would lead out of the folder is refused the same way.
    app_state.download_folder[0] = 0;
    int j = add_stream_item(3, Connecting, "cdn.vidcue.test/stream/nw?size=100", "../escape.flv");
    ASSERT_TRUE(start(j));
    EXPECT_EQ("Failed", state_of(j));
    EXPECT_FALSE(plat_file_exists("../escape.flv"));
}

// ------------------------------------------------ answers in pieces

// A loopback server run by the test itself, so that a test decides when
// each piece of an answer arrives.
struct PieceServer {
    int fd = -1, conn = -1, port = 0;
    PieceServer() { fd = loopback_listen(2, &port); }
    ~PieceServer() {
        if (conn >= 0) close(conn);
        close(fd);
    }
    bool accept_one() {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 3000) != 1) return false;
        conn = accept(fd, nullptr, nullptr);
        return conn >= 0;
    }
    void send_piece(const std::string &piece) { send(conn, piece.data(), piece.size(), MSG_NOSIGNAL); }
};

// Waits until the item's socket has bytes waiting.
bool wait_for_bytes(int i) {
    for (int k = 0; k < 3000; k++) {
        if (plat_readable(downloads.items[i].socket) > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Sends piece on the server's connection, waits until item i's socket has
// it, and lets the item's fetch step (with done and stream) take it.
bool deliver(PieceServer &server, int i, const std::string &piece, uint32_t done, int stream) {
    server.send_piece(piece);
    if (!wait_for_bytes(i)) return false;
    fetch_page(i, done, stream);
    return true;
}

TEST_F(FetchTest, a_length_line_cut_before_its_line_end_is_read_on_the_next_step) {
    PieceServer server;
    app_state.use_proxy = 0;
    int i = add_stream_item(3, Analysing, "127.0.0.1:" + std::to_string(server.port) + "/v");
    fetch_page(i, 0, 0);
    ASSERT_NE(0u, item(i).socket);
    ASSERT_TRUE(server.accept_one());

    ASSERT_TRUE(deliver(server, i, "HTTP/1.1 200 OK\r\nContent-Length: 12", 0, 0));
    EXPECT_EQ("Analysing", state_of(i));
    EXPECT_EQ(0u, item(i).totalSize);
    EXPECT_NE(0u, item(i).bufferFill);

    ASSERT_TRUE(deliver(server, i, "345\r\n\r\nbody", 0, 0));
    EXPECT_EQ("Queued", state_of(i));
    EXPECT_EQ(12345u, item(i).totalSize);
}

TEST_F(FetchTest, an_error_status_is_seen_before_any_length_arrives) {
    PieceServer server;
    app_state.use_proxy = 0;
    int i = add_stream_item(3, Analysing, "127.0.0.1:" + std::to_string(server.port) + "/v");
    fetch_page(i, 0, 0);
    ASSERT_TRUE(server.accept_one());
    ASSERT_TRUE(deliver(server, i, "HTTP/1.1 50", 0, 0));   // an incomplete status line says nothing yet
    EXPECT_EQ("Analysing", state_of(i));
    ASSERT_TRUE(deliver(server, i, "3 Service Unavailable\r\nTransfer-Encoding: chunked\r\n", 0, 0));
    EXPECT_EQ("Failed", state_of(i));
    EXPECT_EQ(Failed, stored(i, RECORD_STATE));
}

// ------------------------------------------------ partial answers

// What the item asked for on the server's connection (up to its blank line).
std::string request_received(int conn) {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
        struct pollfd p = {conn, POLLIN, 0};
        if (poll(&p, 1, 3000) != 1) break;
        char c[4096];
        ssize_t n = recv(conn, c, sizeof c, 0);
        if (n <= 0) break;
        request.append(c, (size_t)n);
    }
    return request;
}

// Item i (past its page, file name set) asks the piece server for its stream
// from range_start; the server takes the connection.  The request it saw.
std::string ask_piece_server(PieceServer &server, int i, uint32_t range_start) {
    if (server.conn >= 0) close(server.conn);
    server.conn = -1;
    fetch_page(i, range_start, 1);
    if (!downloads.items[i].socket || !server.accept_one()) return "";
    return request_received(server.conn);
}

TEST_F(FetchTest, a_partial_answer_is_taken_only_when_it_starts_at_the_offset_asked_for) {
    app_state.use_proxy = 0;
    const std::string kept(100, 'k');
    // The body carries a Content-Range line of its own: only the headers count.
    std::string body = "\r\nContent-Range: bytes 100-199/200\r\n";
    body += std::string(100 - body.size(), 'B');
    struct {
        const char *content_range;
        bool taken;
    } cases[] = {
        {"Content-Range: bytes 100-199/200\r\n", true},
        {"content-range:bytes 100-199/*\r\n", true},
        {"CONTENT-RANGE:  Bytes\t100 - 199 / 200 \r\n", true},
        {"Content-Range: bytes 0-199/200\r\n", false},
        {"Content-Range: bytes 150-249/250\r\n", false},
        {"Content-Range: bytes 99-198/200\r\n", false},
        {"Content-Range: bytes 4294967396-4294967495/*\r\n", false},   // 100 + 2^32
        {"", false},
        {"X-Content-Range: bytes 100-199/200\r\n", false},
        {"Content-Range: bytes=100-199/200\r\n", false},
        {"Content-Range: items 100-199/200\r\n", false},
        {"Content-Range: bytes 100-199\r\n", false},
        {"Content-Range: bytes 100-/200\r\n", false},
        {"Content-Range: bytes 100-99/200\r\n", false},
        {"Content-Range: bytes 100-199/150\r\n", false},
        {"Content-Range: bytes 100-199/200, 0-9\r\n", false},
        {"Content-Range: bytes */200\r\n", false},
    };
    int n = 0;
    for (auto &c : cases) {
        SCOPED_TRACE(c.content_range);
        PieceServer server;
        std::string name = "ranged " + std::to_string(n++) + ".flv";
        write_file(dir.file(name), kept);
        int i = add_stream_item(3, Connecting, "127.0.0.1:" + std::to_string(server.port) + "/v", name, 100, 200);
        std::string request = ask_piece_server(server, i, 100);
        ASSERT_NE(std::string::npos, request.find("\r\nRange: bytes=100-\r\n"));
        server.send_piece(std::string("HTTP/1.1 206 Partial Content\r\nContent-Length: 100\r\n") +
                          c.content_range + "Connection: close\r\n\r\n" + body);
        ASSERT_TRUE(wait_for_bytes(i));
        fetch_page(i, 100, 1);
        if (c.taken) {
            ASSERT_EQ("ReceivingHeaders", state_of(i));
            ASSERT_TRUE(transfer(i));
            EXPECT_EQ(kept + body, file_of(i)) << "appended at the offset asked for";
        } else {
            EXPECT_EQ("Connecting", state_of(i));
            EXPECT_EQ(2, item(i).requestStage);
            EXPECT_EQ(0u, item(i).socket);
            EXPECT_EQ(0u, item(i).bufferFill);
            EXPECT_EQ(0u, item(i).doneSize);
            EXPECT_EQ(0u, stored(i, RECORD_DONE));
            EXPECT_EQ(200u, item(i).totalSize) << "a misplaced answer's length is not taken";
            EXPECT_EQ("", file_of(i)) << "cut, and nothing of the answer written";
        }
    }
}

TEST_F(FetchTest, a_misplaced_partial_answer_is_dropped_and_the_stream_asked_again_from_zero) {
    app_state.use_proxy = 0;
    PieceServer server;
    std::string name = "asked again.flv";
    write_file(dir.file(name), testweb_stream_bytes("aa", 0, 3000));
    int i = add_stream_item(3, Connecting, "127.0.0.1:" + std::to_string(server.port) + "/v", name, 3000, 8000);
    ASSERT_NE(std::string::npos, ask_piece_server(server, i, 3000).find("\r\nRange: bytes=3000-\r\n"));

    // The length header alone does not decide: a Content-Range may follow.
    ASSERT_TRUE(deliver(server, i, "HTTP/1.1 206 Partial Content\r\nContent-Length: 4000\r\n", 3000, 1));
    EXPECT_EQ("Connecting", state_of(i));
    EXPECT_NE(0u, item(i).socket);
    EXPECT_EQ(3000u, item(i).doneSize);
    ASSERT_TRUE(deliver(server, i,
                        "Content-Range: bytes 4000-7999/8000\r\n\r\n" + testweb_stream_bytes("aa", 4000, 4000),
                        3000, 1));
    EXPECT_EQ(0u, item(i).socket);
    EXPECT_EQ(0u, item(i).doneSize);
    EXPECT_EQ("", file_of(i));

    // Asked again without a range, the whole stream comes and is kept.
    std::string again = ask_piece_server(server, i, item(i).doneSize);
    EXPECT_EQ(std::string::npos, again.find("Range:")) << again;
    ASSERT_TRUE(deliver(server, i,
                        "HTTP/1.1 200 OK\r\nContent-Length: 8000\r\n\r\n" + testweb_stream_bytes("aa", 0, 8000), 0,
                        1));
    ASSERT_EQ("ReceivingHeaders", state_of(i));
    ASSERT_TRUE(transfer(i));
    EXPECT_TRUE(file_of(i) == testweb_stream_bytes("aa", 0, 8000));

    // A partial answer to a request without a range that does not start at
    // byte 0 cannot be mended by asking again: the item is given up.
    PieceServer second;
    int j = add_stream_item(3, Connecting, "127.0.0.1:" + std::to_string(second.port) + "/v", "unasked.flv");
    EXPECT_EQ(std::string::npos, ask_piece_server(second, j, 0).find("Range:"));
    second.send_piece("HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n"
                      "Content-Range: bytes 10-19/20\r\n\r\n0123456789");
    ASSERT_TRUE(wait_for_bytes(j));
    fetch_page(j, 0, 1);
    EXPECT_EQ("Failed", state_of(j));
    EXPECT_EQ(Failed, stored(j, RECORD_STATE));
    EXPECT_FALSE(plat_file_exists(dir.file("unasked.flv").c_str()));
}

// ------------------------------------------------- connects that take time

// An item's connect does not hold the step: the item waits in its state
// with nothing sent while the connect is under way, and its request (the
// bytes a waiting connect would have sent, a stream's range included) goes
// out at the first step that finds it made.  A connect refused, or still
// going at the connect's bound, sends nothing, ever: its socket stays with
// the item for the engine's time-out, as a waiting connect's did.
TEST_F(FetchTest, a_request_goes_out_once_its_connect_is_made_and_never_after_a_failed_one) {
    fake_script_connects(1);
    use_loopback_proxy(3128);
    int page = add_item("reelbox.test/watch/abc", 0);
    int stream = add_stream_item(3, Connecting, "cdn.test/v/abc.flv", "abc.flv", 5000, 90000);
    auto request_for = [](const char *host, const char *path, int bare, uint32_t range) {
        std::string out(BUILD_REQUEST_CAP, '\0');
        out.resize((size_t)build_request(&out[0], host, path, bare, range, 1));
        return out;
    };
    auto step_both = [&](uint32_t ms) {
        fake_advance(ms);
        app_state.now_tick = plat_tick();
        fetch_page(page, 0, 0);
        fetch_page(stream, 5000, 1);
    };

    step_both(0);
    ASSERT_EQ(2u, fake_connects().size());
    EXPECT_EQ(fake_connects()[0].socket, item(page).socket);
    EXPECT_EQ(fake_connects()[1].socket, item(stream).socket);
    for (int k = 0; k < 10; k++) step_both(300);
    EXPECT_EQ(2u, fake_connects().size()) << "one connect each, waited for";
    EXPECT_EQ("Analysing", state_of(page));
    EXPECT_EQ("Connecting", state_of(stream));
    EXPECT_EQ("", peer_bytes(fake_connects()[0].peer));
    EXPECT_EQ("", peer_bytes(fake_connects()[1].peer));

    fake_connects()[0].result = 1;
    fake_connects()[1].result = 1;
    step_both(25);
    EXPECT_EQ(request_for("reelbox.test", "watch/abc", 0, 0), peer_bytes(fake_connects()[0].peer));
    EXPECT_EQ(request_for("cdn.test", "v/abc.flv", 1, 5000), peer_bytes(fake_connects()[1].peer));
    step_both(25);
    EXPECT_EQ("", peer_bytes(fake_connects()[0].peer)) << "sent once";

    // Refused, and still going at the bound: nothing is sent, even when the
    // late connect is made after all.
    plat_close_socket(item(page).socket);
    item(page).socket = 0;
    plat_close_socket(item(stream).socket);
    item(stream).socket = 0;
    step_both(25);
    ASSERT_EQ(4u, fake_connects().size());
    fake_connects()[2].result = -1;
    step_both(CONNECT_TIMEOUT_MS - 1);   // the stream's connect is still within its bound
    step_both(1);                        // and now at it
    fake_connects()[3].result = 1;
    for (int k = 0; k < 4; k++) step_both(25);
    EXPECT_EQ("", peer_bytes(fake_connects()[2].peer));
    EXPECT_EQ("", peer_bytes(fake_connects()[3].peer));
    EXPECT_EQ(4u, fake_connects().size());
    EXPECT_EQ(fake_connects()[2].socket, item(page).socket);
    EXPECT_EQ(fake_connects()[3].socket, item(stream).socket);
    EXPECT_EQ("Analysing", state_of(page));
    EXPECT_EQ("Connecting", state_of(stream));
}

}  // namespace
