// The stream transfer fed through a loopback connection: where the headers
// end, what reaches the file and the list, the flush rule, completion, and
// writes the disk does not take.
#include "engine/engine_fixture.h"
#include "support/seam_connection.h"

namespace {

// A connection handed to item 0, whose output file is open; the test
// writes into its far end.
struct TransferTest : EngineFixture {
    // The largest answer a test writes at once (read in one step).
    static const size_t LARGEST_SEND = 100000;
    SeamConnection connection;

    // Item 0 in ReceivingHeaders (or the given state) with a connection, a
    // buffer, an open empty output file and totalSize known.
    void open_transfer(uint32_t total, uint32_t state = ReceivingHeaders, uint32_t done = 0) {
        start({engine_item("vidcue.test/watch/t", 3, Queued, done, total, "t.flv")}, 1);
        go_online();
        ASSERT_TRUE(seam_connect(&connection, LARGEST_SEND));
        DownloadItem &it = item(0);
        it.state = state;
        it.requestStage = 2;
        it.socket = connection.socket;
        it.buffer = buffer_alloc();
        it.lastActivityTick = app_state.now_tick;
        it.file = plat_create_new_rw(output_path(0).c_str());
        ASSERT_NE(PLAT_INVALID_FILE, it.file);
    }
    void TearDown() override {
        seam_close_peer(&connection);
        EngineFixture::TearDown();
    }
    // The bytes are all readable when this returns, as they would be in one
    // read of a socket pair.
    void send_text(const std::string &bytes) { ASSERT_TRUE(seam_send(connection, bytes)); }
    std::string file_bytes() { return read_file(output_path(0)); }
};

std::string pattern(size_t n, char first = 'a') {
    std::string s(n, ' ');
    for (size_t k = 0; k < n; k++) s[k] = (char)(first + k % 23);
    return s;
}

TEST_F(TransferTest, headers_and_whole_body_in_one_read_complete_in_two_steps) {
    open_transfer(10);
    send_text("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789");
    step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ(10u, item(0).doneSize);
    EXPECT_EQ(0u, item(0).bufferFill);
    EXPECT_EQ((uint32_t)Downloading, stored(0, REC_STATE));
    EXPECT_EQ(0u, item(0).sampleBytes);  // bytes that came with the headers are not counted
    EXPECT_EQ("0123456789", file_bytes());

    step();
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(0u, item(0).socket);
    EXPECT_EQ(0u, item(0).buffer);
    EXPECT_EQ(0u, item(0).file);
    EXPECT_EQ((uint32_t)Finished, stored(0, REC_STATE));
    EXPECT_EQ(10u, stored(0, REC_DONE));
}

TEST_F(TransferTest, blank_line_split_over_two_reads_is_found_on_the_second) {
    open_transfer(4);
    send_text("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r");
    step();
    EXPECT_EQ((uint32_t)ReceivingHeaders, item(0).state);
    send_text("\nBODY");
    step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ("BODY", file_bytes());
}

TEST_F(TransferTest, stale_bytes_behind_the_received_text_never_end_the_headers) {
    open_transfer(4);
    // The buffer held an earlier answer; the new one ends in CR LF so far,
    // and the old bytes right behind it read CR LF too.
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n";
    char *data = buffer_data(item(0).buffer);
    memcpy(data, head.data(), head.size());
    memcpy(data + head.size(), "\r\nOLD", 5);
    item(0).bufferFill = (uint32_t)head.size();
    step();
    EXPECT_EQ((uint32_t)ReceivingHeaders, item(0).state);
    send_text("Server: x\r\n\r\nBODY");
    step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ("BODY", file_bytes());
}

TEST_F(TransferTest, headers_ending_at_the_end_of_the_read_write_nothing) {
    open_transfer(100);
    send_text("HTTP/1.1 200 OK\r\n\r\n");
    step();
    EXPECT_EQ((uint32_t)Downloading, item(0).state);
    EXPECT_EQ(0u, item(0).doneSize);
    EXPECT_EQ(0u, item(0).bufferFill);
    EXPECT_EQ("", file_bytes());
}

TEST_F(TransferTest, body_is_written_in_blocks_above_the_threshold_and_every_step_near_the_end) {
    const uint32_t total = 200000;
    open_transfer(total, Downloading);
    std::string body = pattern(total);
    send_text(body.substr(0, 30000));
    step();
    EXPECT_EQ(0u, item(0).doneSize);  // one read, below the threshold: held
    EXPECT_EQ(30000u, item(0).bufferFill);
    EXPECT_EQ(30000u, item(0).sampleBytes);
    send_text(body.substr(30000, 30000));
    step();
    EXPECT_EQ(60000u, item(0).doneSize);  // above the threshold: one write of all held
    EXPECT_EQ(0u, item(0).bufferFill);
    EXPECT_EQ(60000u, stored(0, REC_DONE));
    EXPECT_EQ(body.substr(0, 60000), file_bytes());

    // With less than the threshold left, every read is written at once.
    send_text(body.substr(60000, 100000));
    step();
    EXPECT_EQ(160000u, item(0).doneSize);
    send_text(body.substr(160000, 10));
    step();
    EXPECT_EQ(160010u, item(0).doneSize);
    EXPECT_EQ(160010u, stored(0, REC_DONE));
    send_text(body.substr(160010));
    step();
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(body, file_bytes());
    EXPECT_EQ(total, stored(0, REC_DONE));
}

TEST_F(TransferTest, stream_data_resets_retries_and_clears_the_offline_notice) {
    open_transfer(1000, Downloading);
    item(0).retryCount = 2;
    app_state.offline_notice = 1;
    fake_advance(5000);
    send_text("abc");
    step();
    EXPECT_EQ(0, item(0).retryCount);
    EXPECT_EQ(0, app_state.offline_notice);
    EXPECT_EQ(app_state.now_tick, item(0).lastActivityTick);
}

TEST_F(TransferTest, bytes_past_the_announced_length_are_not_written) {
    open_transfer(100);
    send_text("HTTP/1.1 200 OK\r\n\r\n" + pattern(150));
    step();
    step();
    EXPECT_EQ((uint32_t)Finished, item(0).state);
    EXPECT_EQ(100u, item(0).doneSize);
    EXPECT_EQ(pattern(150).substr(0, 100), file_bytes());
}

TEST_F(TransferTest, short_write_gives_the_item_up_and_counts_only_stored_bytes) {
    open_transfer(1000000, Downloading);
    std::string body = pattern(100000);
    send_text(body.substr(0, 60000));
    step();
    ASSERT_EQ(60000u, item(0).doneSize);
    fake_fail(FAULT_SHORT_WRITE, 1, 0);  // the next write stores half
    send_text(body.substr(60000, 60000 - 20000) + pattern(20000, 'k'));
    step();
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    uint32_t on_disk = (uint32_t)file_bytes().size();
    EXPECT_EQ(60000u + 30000u, on_disk);  // half of the 60,000-byte block
    EXPECT_EQ(on_disk, item(0).doneSize);
    EXPECT_EQ((uint32_t)Failed, stored(0, REC_STATE));
    EXPECT_EQ(on_disk, stored(0, REC_DONE));
    EXPECT_EQ(0u, item(0).buffer);
    EXPECT_EQ(0u, item(0).socket);
    EXPECT_EQ(0u, item(0).file);
}

TEST_F(TransferTest, failed_write_of_the_first_body_bytes_gives_the_item_up) {
    open_transfer(10);
    fake_fail(FAULT_WRITE, 1, 0);
    send_text("HTTP/1.1 200 OK\r\n\r\n0123456789");
    step();
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    EXPECT_EQ(0u, item(0).doneSize);
    EXPECT_EQ((uint32_t)Failed, stored(0, REC_STATE));
    EXPECT_EQ(0u, stored(0, REC_DONE));
    // The give-up is not taken for silence: no time-out retries it.
    fake_advance(30000);
    step();
    EXPECT_EQ((uint32_t)Failed, item(0).state);
    EXPECT_EQ(1, app_state.online);
}

TEST_F(TransferTest, read_error_adds_nothing) {
    open_transfer(1000, Downloading);
    send_text("abcdef");
    fake_fail(FAULT_RECV, 1, 0);
    step();
    EXPECT_EQ(0u, item(0).bufferFill);
    EXPECT_EQ(0u, item(0).sampleBytes);
    step();  // the bytes are still waiting and arrive with the next read
    EXPECT_EQ(6u, item(0).doneSize);
}

}  // namespace
