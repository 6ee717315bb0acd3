// Downloads end to end against the demo web on loopback (through its proxy
// form): the road of one item, resuming after the program died, time-outs
// of a silent stream, and the answers that must not corrupt or lose a file.
#include <fstream>

#include "engine/engine_fixture.h"

namespace {

struct WebEngineTest : EngineFixture {
    TestWeb web;
    std::string log_path;

    void SetUp() override {
        EngineFixture::SetUp();
        log_path = dir.file("requests.log");
        ASSERT_EQ(1, testweb_start(&web, log_path.c_str()));
    }
    void TearDown() override {
        EngineFixture::TearDown();
        testweb_stop(&web);
    }
    void connect_to_web() {
        go_online();
        use_loopback_proxy(web.port);
    }
    // Every request the server received, in order.
    std::vector<std::string> requests() const {
        std::string log = read_file(log_path);
        std::vector<std::string> out;
        size_t at = 0;
        while (at + 4 <= log.size()) {
            uint32_t n = get32(log, at);
            if (at + 4 + n > log.size()) break;
            out.push_back(log.substr(at + 4, n));
            at += 4 + n;
        }
        return out;
    }
    // The Range header value of every request for stream name ("-" when
    // the request had none).
    std::vector<std::string> ranges_asked(const std::string &name) const {
        std::vector<std::string> out;
        for (const std::string &r : requests()) {
            if (r.find("/stream/" + name + "?") == std::string::npos) continue;
            std::string head, body;
            split_answer(r, &head, &body);
            std::string range = header_value(head, "Range");
            out.push_back(range.empty() ? "-" : range);
        }
        return out;
    }
    static bool settled(int i) {
        uint32_t s = downloads.items[i].state;
        return s == Finished || s == Failed;
    }
    std::string file_bytes(int i) const { return read_file(output_path(i)); }
};

TEST_F(WebEngineTest, one_item_goes_from_analysing_to_finished_byte_exact) {
    start({}, 0);
    connect_to_web();
    DownloadItem &candidate = downloads.items[0];
    strcpy(candidate.pageAddress, "vidcue.test/watch/road?size=300000");
    candidate.siteKind = 3;
    add_offered_download();
    ASSERT_EQ(1, downloads.item_count);

    std::vector<uint32_t> seen;
    auto note = [&] {
        if (seen.empty() || seen.back() != item(0).state) seen.push_back(item(0).state);
    };
    note();
    // With no download allowed, the measured item waits in the queue.
    ASSERT_TRUE(run_until([&] { note(); return item(0).state == Queued || settled(0); }));
    EXPECT_EQ(300000u, item(0).totalSize);
    EXPECT_EQ(0u, item(0).buffer);
    EXPECT_EQ(0u, item(0).socket);
    EXPECT_EQ((uint32_t)Queued, stored(0, REC_STATE));
    for (int k = 0; k < 30; k++) step(25);
    EXPECT_EQ((uint32_t)Queued, item(0).state);

    app_state.max_active = 1;
    ASSERT_TRUE(run_until([&] { note(); return settled(0); }));
    EXPECT_EQ((std::vector<uint32_t>{Analysing, Queued, Connecting, ReceivingHeaders, Downloading,
                                     Finished}),
              seen);
    EXPECT_EQ(testweb_stream_bytes("road", 0, 300000), file_bytes(0));
    EXPECT_NE(std::string::npos, std::string(item(0).fileName).find(".flv"));
    EXPECT_EQ((uint32_t)Finished, stored(0, REC_STATE));
    EXPECT_EQ(300000u, stored(0, REC_DONE));
    EXPECT_EQ(300000u, stored(0, REC_TOTAL));
    EXPECT_EQ(0u, item(0).file);
}

TEST_F(WebEngineTest, headers_with_the_whole_body_in_one_read_finish_at_the_next_body_step) {
    start({engine_item("vidcue.test/watch/one?size=3000", 3, Queued, 0, 0, "one.flv")}, 0);
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/one?size=3000");
    step();  // the stream is asked for
    ASSERT_NE(0u, item(0).socket);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the whole answer is waiting
    step();
    ASSERT_EQ((uint32_t)ReceivingHeaders, item(0).state);
    step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ(3000u, item(0).doneSize);
    step();
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("one", 0, 3000), file_bytes(0));
}

TEST_F(WebEngineTest, download_resumes_with_a_range_after_the_program_died) {
    start({engine_item("vidcue.test/watch/die?size=6000000", 3, Queued)}, 1);
    connect_to_web();
    ASSERT_TRUE(run_until([&] { return item(0).state == Downloading && item(0).doneSize > 0; }));
    // What a process killed now leaves behind: the list as last written,
    // the file as far as it was written.
    uint32_t done = stored(0, REC_DONE);
    std::string name = item(0).fileName;
    ASSERT_GT(done, 0u);
    ASSERT_LT(done, 6000000u);
    EXPECT_EQ((size_t)done, read_file(dir.file(name)).size());
    shutdown();
    started = false;

    fake_advance(60000);
    ASSERT_EQ(1, startup());
    started = true;
    EXPECT_EQ((uint32_t)Queued, item(0).state);
    EXPECT_EQ(done, item(0).doneSize);
    connect_to_web();
    ASSERT_TRUE(run_until([&] { return settled(0); }, 60));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("die", 0, 6000000), read_file(dir.file(name)));
    std::vector<std::string> ranges = ranges_asked("die");
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("bytes=" + std::to_string(done) + "-", ranges.back());
}

TEST_F(WebEngineTest, transfer_loaded_in_its_headers_resumes_at_once_from_done_size) {
    write_file(dir.file("part.flv"), testweb_stream_bytes("part", 0, 70000));
    start({engine_item("vidcue.test/watch/part?size=250000", 3, ReceivingHeaders, 70000, 250000,
                       "part.flv")},
          1);
    EXPECT_EQ((uint32_t)Connecting, item(0).state);
    connect_to_web();
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("part", 0, 250000), file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"bytes=70000-"}), ranges_asked("part"));
}

TEST_F(WebEngineTest, silent_stream_times_out_and_the_retry_resumes_from_a_fresh_page) {
    start({engine_item("vidcue.test/watch/st?size=400000", 3, Queued, 0, 0, "st.flv")}, 1);
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/st?size=400000&stall=100000");
    ASSERT_TRUE(run_until([&] {
        return item(0).state == Downloading && item(0).doneSize + item(0).bufferFill == 100000;
    }));
    uint32_t flushed = item(0).doneSize;
    ASSERT_GT(flushed, 0u);
    step(ITEM_TIMEOUT_MS - (app_state.now_tick - item(0).lastActivityTick));
    EXPECT_EQ((uint32_t)Downloading, item(0).state);  // 20 s of silence: not yet
    step(1);
    EXPECT_EQ((uint32_t)Connecting, item(0).state);
    EXPECT_EQ(1, item(0).retryCount);
    EXPECT_EQ(0u, item(0).bufferFill);  // bytes never written are dropped
    EXPECT_EQ(flushed, item(0).doneSize);
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(0, item(0).retryCount);
    EXPECT_EQ(testweb_stream_bytes("st", 0, 400000), file_bytes(0));
    std::vector<std::string> ranges = ranges_asked("st");
    ASSERT_EQ(2u, ranges.size());
    EXPECT_EQ("bytes=" + std::to_string(flushed) + "-", ranges[1]);
}

TEST_F(WebEngineTest, answers_that_are_not_a_stream_fail_the_item_with_its_record_saved) {
    const char *streams[] = {
        "cdn.vidcue.test/stream/e1?status=404",           // an error page
        "cdn.vidcue.test/stream/e2?status=503",
        "cdn.vidcue.test/stream/e3?size=100&announce=0",  // nothing to save
        "cdn.vidcue.test/stream/e4?size=100&announce=abc",
        "cdn.vidcue.test/stream/e5?size=100&announce=4294967296",  // too large
    };
    std::vector<DownloadItem> items;
    for (int i = 0; i < 5; i++) {
        std::string name = "e" + std::to_string(i + 1) + ".flv";
        items.push_back(engine_item("vidcue.test/watch/e", 3, Queued, 0, 0, name.c_str()));
    }
    start(items, 0);
    connect_to_web();
    for (int i = 0; i < 5; i++) aim_at_stream(i, streams[i]);
    ASSERT_TRUE(run_until([&] {
        for (int i = 0; i < 5; i++)
            if (!settled(i)) return false;
        return true;
    }));
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ((uint32_t)Failed, item(i).state) << streams[i];
        EXPECT_EQ((uint32_t)Failed, stored(i, REC_STATE)) << streams[i];
        EXPECT_EQ(0u, item(i).buffer);
        EXPECT_FALSE(plat_file_exists(output_path(i).c_str())) << streams[i];
    }
    EXPECT_EQ(1, app_state.online);  // a bad answer says nothing about the network
}

TEST_F(WebEngineTest, server_ignoring_the_range_restarts_the_file_from_byte_zero) {
    write_file(dir.file("nr.flv"), std::string(8000, 'X'));
    start({engine_item("vidcue.test/watch/nr?size=20000", 3, Queued, 5000, 20000, "nr.flv")}, 0);
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/nr?size=20000&norange=1");
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("nr", 0, 20000), file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"bytes=5000-"}), ranges_asked("nr"));
}

TEST_F(WebEngineTest, stopped_download_resumed_from_a_server_misplacing_ranges_ends_byte_exact) {
    // The server answers a range with a 206 that starts 777 bytes further on.
    const std::string stream = "cdn.vidcue.test/stream/br?size=4000000&badrange=777";
    start({engine_item("vidcue.test/watch/br", 3, Queued, 0, 0, "br.flv")}, 0);
    connect_to_web();
    aim_at_stream(0, stream);
    ASSERT_TRUE(run_until([&] { return item(0).state == Downloading && item(0).doneSize > 0; }));
    downloads.selected_item = 0;
    app_state.menu_entry = MENU_ENTRY_STOP;
    run_menu_command();
    ASSERT_EQ((uint32_t)Stopped, item(0).state);
    uint32_t done = stored(0, REC_DONE);
    ASSERT_GT(done, 0u);
    ASSERT_LT(done, 4000000u);
    ASSERT_EQ((size_t)done, file_bytes(0).size());

    app_state.menu_entry = MENU_ENTRY_START;
    run_menu_command();
    ASSERT_EQ((uint32_t)Connecting, item(0).state);
    ASSERT_EQ(done, item(0).doneSize);
    aim_at_stream(0, stream);   // where its page would lead it
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_TRUE(testweb_stream_bytes("br", 0, 4000000) == file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"-", "bytes=" + std::to_string(done) + "-", "-"}), ranges_asked("br"));
    EXPECT_EQ(4000000u, stored(0, REC_DONE));
    EXPECT_EQ(4000000u, stored(0, REC_TOTAL));
}

TEST_F(WebEngineTest, ranged_transfer_whose_file_vanished_starts_again_from_byte_zero) {
    start({engine_item("vidcue.test/watch/gone?size=90000", 3, Queued, 40000, 90000, "gone.flv")}, 0);
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/gone?size=90000");
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(90000u, item(0).totalSize);
    EXPECT_EQ(testweb_stream_bytes("gone", 0, 90000), file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"bytes=40000-", "-"}), ranges_asked("gone"));
}

TEST_F(WebEngineTest, output_file_that_can_neither_be_opened_nor_created_fails_the_item) {
    start({engine_item("vidcue.test/watch/nf?size=5000", 3, Queued, 0, 0, "nf.flv")}, 0);
    strcpy(app_state.download_folder, (dir.path + "/no/such/folder").c_str());
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/nf?size=5000");
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    EXPECT_EQ((uint32_t)Failed, stored(0, REC_STATE));
}

TEST_F(WebEngineTest, finished_item_started_again_rewrites_its_file_from_an_empty_one) {
    // The old file is longer than the stream: nothing of it may remain.
    write_file(dir.file("again.flv"), testweb_stream_bytes("again", 0, 30000) + std::string(5000, 'Z'));
    start({engine_item("vidcue.test/watch/again?size=30000", 3, Finished, 30000, 30000, "again.flv")}, 1);
    connect_to_web();
    downloads.selected_item = 0;
    app_state.menu_entry = 1;
    run_menu_command();
    ASSERT_EQ((uint32_t)Connecting, item(0).state);
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("again", 0, 30000), file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"-"}), ranges_asked("again"));
}

TEST_F(WebEngineTest, file_shorter_than_done_size_resumes_from_its_length) {
    write_file(dir.file("short.flv"), testweb_stream_bytes("short", 0, 20000));
    start({engine_item("vidcue.test/watch/short?size=90000", 3, Stopped, 50000, 90000, "short.flv")}, 1);
    connect_to_web();
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(testweb_stream_bytes("short", 0, 90000), file_bytes(0));
    EXPECT_EQ((std::vector<std::string>{"bytes=20000-"}), ranges_asked("short"));
}

TEST_F(WebEngineTest, offsets_beyond_two_gigabytes_resume_in_the_right_place) {
    const uint32_t done = 3000000000u, total = 3000010000u;
    plat_file f = plat_create_new_rw(dir.file("huge.flv").c_str());
    ASSERT_NE(PLAT_INVALID_FILE, f);
    ASSERT_EQ(1, plat_truncate(f, done));  // sparse: takes no room on disk
    plat_close(f);
    start({engine_item("vidcue.test/watch/huge", 3, Queued, done, total, "huge.flv")}, 0);
    connect_to_web();
    aim_at_stream(0, "cdn.vidcue.test/stream/huge?size=3000010000");
    ASSERT_TRUE(run_until([&] { return settled(0); }));
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(total, item(0).doneSize);
    std::ifstream in(output_path(0), std::ios::binary | std::ios::ate);
    ASSERT_EQ((std::streamoff)total, (std::streamoff)in.tellg());
    std::string tail(10000, '\0');
    in.seekg((std::streamoff)done);
    in.read(&tail[0], 10000);
    EXPECT_EQ(testweb_stream_bytes("huge", done, 10000), tail);
    EXPECT_EQ((std::vector<std::string>{"bytes=3000000000-"}), ranges_asked("huge"));
}

}  // namespace
