// The download table: its bounds, growth, removal, load preparation and
// the receive buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/download_table.h"
#include "web/web.h"

namespace {

struct DownloadTableTest : testing::Test {
    void SetUp() override { free_table(); }
    void TearDown() override { free_table(); }

    static void name_item(int i, const char *page) {
        strncpy(downloads.items[i].pageAddress, page, sizeof downloads.items[i].pageAddress - 1);
    }
};

bool all_zero(const DownloadItem &item) {
    const unsigned char *p = (const unsigned char *)&item;
    for (size_t i = 0; i < sizeof item; i++)
        if (p[i]) return false;
    return true;
}

TEST_F(DownloadTableTest, count_bounds_accept_zero_to_ten_million_only) {
    EXPECT_FALSE(item_count_allowed(-1));
    EXPECT_FALSE(item_count_allowed(INT32_MIN));
    EXPECT_TRUE(item_count_allowed(0));
    EXPECT_TRUE(item_count_allowed(10000000));
    EXPECT_FALSE(item_count_allowed(10000001));

    // Refused counts leave no table behind.
    EXPECT_EQ(0, allocate_table(-1));
    EXPECT_EQ(nullptr, downloads.items);
    EXPECT_EQ(0, allocate_table(10000001));
    EXPECT_EQ(nullptr, downloads.items);
    EXPECT_EQ(0, downloads.item_count);
}

TEST_F(DownloadTableTest, allocation_is_zero_filled_with_hundred_free_and_ten_spare) {
    ASSERT_EQ(1, allocate_table(5));
    EXPECT_EQ(5, downloads.item_count);
    EXPECT_EQ(105, downloads.table_capacity);
    // All count + 110 records exist and are zero (the spare ones included).
    for (int i = 0; i < 5 + 110; i++) ASSERT_TRUE(all_zero(downloads.items[i])) << i;
}

TEST_F(DownloadTableTest, empty_table_has_its_candidate_at_index_zero) {
    ASSERT_EQ(1, allocate_table(0));
    EXPECT_EQ(100, downloads.table_capacity);
    name_item(0, "http://example.test/v/1");
    EXPECT_EQ(1, grow_table_if_needed());  // room enough: nothing moves
    EXPECT_STREQ("http://example.test/v/1", downloads.items[0].pageAddress);
}

TEST_F(DownloadTableTest, grows_when_only_the_candidate_fits_and_carries_it) {
    ASSERT_EQ(1, allocate_table(0));
    // capacity 100 == item_count + 2: still room, the array stays.
    downloads.item_count = 98;
    DownloadItem *before = downloads.items;
    EXPECT_EQ(1, grow_table_if_needed());
    EXPECT_EQ(before, downloads.items);
    EXPECT_EQ(100, downloads.table_capacity);

    // capacity 100 == item_count + 1: the table moves to item_count + 100.
    downloads.item_count = 99;
    for (int i = 0; i < 99; i++) downloads.items[i].doneSize = (uint32_t)(i + 1);
    name_item(99, "http://example.test/candidate");
    downloads.items[99].siteKind = 17;
    ASSERT_EQ(1, grow_table_if_needed());
    EXPECT_EQ(199, downloads.table_capacity);
    for (int i = 0; i < 99; i++) ASSERT_EQ((uint32_t)(i + 1), downloads.items[i].doneSize);
    EXPECT_STREQ("http://example.test/candidate", downloads.items[99].pageAddress);
    EXPECT_EQ(17, downloads.items[99].siteKind);
    // The new records beyond the candidate, spare ones included, are empty.
    for (int i = 100; i < 199 + 10; i++) ASSERT_TRUE(all_zero(downloads.items[i])) << i;
}

TEST_F(DownloadTableTest, removal_moves_later_records_and_the_candidate_down) {
    ASSERT_EQ(1, allocate_table(4));
    name_item(0, "a");
    name_item(1, "b");
    name_item(2, "c");
    name_item(3, "d");
    name_item(4, "candidate");

    remove_table_record(1);
    EXPECT_EQ(3, downloads.item_count);
    EXPECT_STREQ("a", downloads.items[0].pageAddress);
    EXPECT_STREQ("c", downloads.items[1].pageAddress);
    EXPECT_STREQ("d", downloads.items[2].pageAddress);
    EXPECT_STREQ("candidate", downloads.items[3].pageAddress);

    // Removing the last item leaves the candidate at the freed index.
    remove_table_record(2);
    EXPECT_EQ(2, downloads.item_count);
    EXPECT_STREQ("c", downloads.items[1].pageAddress);
    EXPECT_STREQ("candidate", downloads.items[2].pageAddress);

    // Indices outside the list change nothing.
    remove_table_record(2);
    remove_table_record(-1);
    EXPECT_EQ(2, downloads.item_count);
    EXPECT_STREQ("candidate", downloads.items[2].pageAddress);
}

// The page fetch's bookkeeping of a request in flight (its address and the
// redirects of the attempt) lives beside the records and must travel with
// its item: a removal during a fetch must not hand one item's redirect
// count to its neighbour, nor leave one behind for a later item.
TEST_F(DownloadTableTest, runs_move_with_their_items_and_none_is_handed_on) {
    ASSERT_EQ(1, allocate_table(3));
    for (int i = 0; i < 3; i++) {
        snprintf(downloads.runs[i].request_address, 32, "host%d.test/page", i);
        for (int k = 0; k < 3 * i; k++) ASSERT_EQ(1, count_redirect(i));  // 0, 3 and 6
    }
    // Item 0 has used up its redirects; its neighbours have not.
    for (int k = 0; k < REDIRECT_LIMIT; k++) ASSERT_EQ(1, count_redirect(0));
    EXPECT_EQ(0, count_redirect(0));

    remove_table_record(0);
    ASSERT_EQ(2, downloads.item_count);
    EXPECT_STREQ("host1.test/page", noted_request(0));
    EXPECT_STREQ("host2.test/page", noted_request(1));
    EXPECT_EQ(3, downloads.runs[0].redirects);
    EXPECT_EQ(6, downloads.runs[1].redirects);
    // The item that moved into place 0 still has the 7 redirects it had left.
    for (int k = 0; k < REDIRECT_LIMIT - 3; k++) ASSERT_EQ(1, count_redirect(0)) << k;
    EXPECT_EQ(0, count_redirect(0));
    // The candidate, and the place it left, hold no run.
    EXPECT_STREQ("", downloads.runs[2].request_address);
    EXPECT_EQ(0, downloads.runs[2].redirects);
    EXPECT_EQ(0, downloads.runs[3].redirects);

    // Taking several out in one pass moves each run with its record too,
    // and a mark on a kept item follows it.
    downloads.items[0].state = Finished;   // host1 goes; host2 moves from 1 to 0
    int32_t selected = 1;
    int32_t *const marks[] = {&selected};
    EXPECT_EQ(1, remove_table_records_in_state(Finished, marks, 1));
    ASSERT_EQ(1, downloads.item_count);
    EXPECT_EQ(0, selected);
    EXPECT_STREQ("host2.test/page", noted_request(0));
    EXPECT_EQ(6, downloads.runs[0].redirects);
    EXPECT_EQ(0, downloads.runs[1].redirects);
    EXPECT_STREQ("", downloads.runs[1].request_address);

    // Growing carries the runs with the records.
    downloads.item_count = 102;   // capacity 103: only the candidate fits
    ASSERT_EQ(1, grow_table_if_needed());
    ASSERT_EQ(202, downloads.table_capacity);
    EXPECT_STREQ("host2.test/page", noted_request(0));
    EXPECT_EQ(6, downloads.runs[0].redirects);
    EXPECT_EQ(0, downloads.runs[150].redirects);
}

#ifndef NDEBUG
// Debug builds stop at an item index outside the list instead of reading or
// writing another item's memory.
TEST_F(DownloadTableTest, debug_builds_stop_at_an_index_outside_the_list) {
    ASSERT_EQ(1, allocate_table(2));
    EXPECT_DEATH(fail_item(2), "");
    EXPECT_DEATH(receive_into_buffer(-1, 10), "");
    EXPECT_DEATH(count_redirect(5), "");
}
#endif

TEST_F(DownloadTableTest, loading_clears_handles_and_queues_unfinished_states) {
    const int codes = 13;  // 0 .. 12
    DownloadItem items[codes];
    for (int code = 0; code < codes; code++) {
        DownloadItem &it = items[code];
        memset(&it, 0, sizeof it);
        it.state = (uint32_t)code;
        // Values a previous run left behind.
        it.socket = 77;
        it.file = 0x1234;
        it.buffer = 3;
        it.bufferFill = 500;
        it.retryCount = 2;
        it.userStarted = 1;
        it.lastActivityTick = 123456;
        it.doneSize = 1000;
        it.totalSize = 5000;
        it.requestStage = 2;
        strcpy(it.fileName, "clip 1f.flv");
    }
    prepare_loaded_items(items, codes);

    const uint32_t expected[codes] = {Queued,       Queued,     Queued,           Queued,
                                      Queued,       Queued,     Finished,         RestartFromZero,
                                      Connecting,   ReceivingHeaders, WaitingRetry, 11, 12};
    for (int code = 0; code < codes; code++) {
        const DownloadItem &it = items[code];
        SCOPED_TRACE(code);
        EXPECT_EQ(expected[code], it.state);
        EXPECT_EQ(0u, it.socket);
        EXPECT_EQ(0u, it.file);
        EXPECT_EQ(0u, it.buffer);
        EXPECT_EQ(0u, it.bufferFill);
        EXPECT_EQ(0, it.retryCount);
        EXPECT_EQ(0, it.userStarted);
        // What the record knows about the transfer stays.
        EXPECT_EQ(123456u, it.lastActivityTick);
        EXPECT_EQ(1000u, it.doneSize);
        EXPECT_EQ(5000u, it.totalSize);
        EXPECT_EQ(2, it.requestStage);
        EXPECT_STREQ("clip 1f.flv", it.fileName);
    }
}

TEST_F(DownloadTableTest, receive_buffers_are_handed_out_by_reusable_handles) {
    int base = buffers_in_use();
    uint32_t a = buffer_alloc();
    uint32_t b = buffer_alloc();
    ASSERT_NE(0u, a);
    ASSERT_NE(0u, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(base + 2, buffers_in_use());
    ASSERT_NE(nullptr, buffer_data(a));
    EXPECT_NE(buffer_data(a), buffer_data(b));
    // The whole buffer is usable.
    memset(buffer_data(a), 'x', RECEIVE_BUFFER_SIZE);
    EXPECT_EQ('x', buffer_data(a)[RECEIVE_BUFFER_SIZE - 1]);

    uint32_t held = a;
    buffer_release(&held);
    EXPECT_EQ(0u, held);
    EXPECT_EQ(nullptr, buffer_data(a));
    EXPECT_EQ(base + 1, buffers_in_use());
    uint32_t again = buffer_alloc();
    EXPECT_EQ(a, again);  // the freed slot is taken first

    // Handles that name nothing: no data, and releasing them frees nothing.
    EXPECT_EQ(nullptr, buffer_data(0));
    EXPECT_EQ(nullptr, buffer_data(RECEIVE_BUFFER_SLOTS + 1));
    uint32_t stale = 0xDEADBEEF;
    buffer_release(&stale);
    EXPECT_EQ(0u, stale);
    EXPECT_EQ(base + 2, buffers_in_use());

    buffer_release(&again);
    buffer_release(&b);
    EXPECT_EQ(base, buffers_in_use());
}

TEST(DownloadTableStatesTest, names_cover_codes_one_to_ten_only) {
    EXPECT_EQ(nullptr, item_state_name(0));
    EXPECT_STREQ("Analysing", item_state_name(Analysing));
    EXPECT_STREQ("Queued", item_state_name(Queued));
    EXPECT_STREQ("WaitingRetry", item_state_name(WaitingRetry));
    EXPECT_EQ(nullptr, item_state_name(11));
    EXPECT_EQ(nullptr, item_state_name(0xFFFFFFFFu));
}

}  // namespace
