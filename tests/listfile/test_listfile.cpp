// list.o on disk: loading at start-up, the settings header, the record
// writers and the file lock, checked against the raw bytes of real files.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <string>

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/temp_dir.h"

namespace {

struct ListFileTest : testing::Test {
    TempWorkDir dir;

    void SetUp() override {
        fake_reset();
        reset_app_state();
        free_table();
    }
    void TearDown() override {
        close_list();
        free_table();
    }

    // Writes list.o and opens it as start-up does.
    void open_list(const std::string &bytes) {
        write_file("list.o", bytes);
        ASSERT_EQ(1, open_list_file());
    }
    void close_list() {
        if (app_state.list_file != PLAT_INVALID_FILE) close_file(app_state.list_file);
        app_state.list_file = PLAT_INVALID_FILE;
    }
    // Closes and reopens the list and loads it as a fresh start would.
    int restart() {
        close_list();
        free_table();
        reset_app_state();
        if (!open_list_file() || !read_magic()) return 0;
        return read_settings_and_items();
    }
    static std::string on_disk() { return read_file("list.o"); }
};

std::string list_with_items(const std::vector<DownloadItem> &items) {
    std::string b = empty_list();
    put32(b, 32, (uint32_t)items.size());
    for (const DownloadItem &it : items) b += record_bytes(it);
    return b;
}

TEST_F(ListFileTest, empty_list_loads_and_first_append_lands_at_656) {
    open_list(empty_list());
    ASSERT_EQ(1, read_magic());
    ASSERT_EQ(1, read_settings_and_items());
    EXPECT_EQ(0, downloads.item_count);
    EXPECT_EQ(100, downloads.table_capacity);
    EXPECT_EQ(1, app_state.max_active_edit);

    DownloadItem &candidate = downloads.items[0];
    strcpy(candidate.pageAddress, "http://example.test/watch/1");
    candidate.state = Analysing;
    candidate.siteKind = 4;
    ASSERT_EQ(1, append_item_record());
    EXPECT_EQ(1, downloads.item_count);

    std::string disk = on_disk();
    ASSERT_EQ(656u + 1204u, disk.size());
    EXPECT_EQ(1u, get32(disk, 32));
    EXPECT_EQ(record_bytes(downloads.items[0]), disk.substr(656, 1204));
}

TEST_F(ListFileTest, wrong_magic_is_refused) {
    std::string b = empty_list();
    b[3] = '\xD5';
    open_list(b);
    EXPECT_EQ(0, read_magic());
    close_list();
    open_list("\xA1\xB2");  // too short to hold a magic at all
    EXPECT_EQ(0, read_magic());
}

TEST_F(ListFileTest, settings_survive_a_load_and_save_byte_for_byte) {
    std::string b = empty_list("/home/ann/Videos");
    put32(b, 4, (uint32_t)-20);
    put32(b, 8, 300);
    b[12] = 1;  // max downloads
    b[13] = 1;  // remove finished
    b[14] = 0;  // show finished
    b[15] = 1;  // use proxy
    put32(b, 16, 8080);
    b[20] = (char)192; b[21] = (char)168; b[22] = 1; b[23] = 2;
    for (int i = 24; i < 32; i++) b[i] = (char)(0xA0 + i);   // reserved
    for (int i = 36; i < 160; i++) b[i] = (char)(0x30 + i);  // reserved
    b[160 + 17] = 'Z';  // bytes after the folder's NUL mean nothing
    open_list(b);
    ASSERT_EQ(1, read_magic());
    ASSERT_EQ(1, read_settings_and_items());
    read_download_folder();

    EXPECT_EQ(-20, app_state.window_x);
    EXPECT_EQ(300, app_state.window_y);
    EXPECT_EQ(1, app_state.max_active_edit);
    EXPECT_EQ(1, app_state.auto_remove_finished);
    EXPECT_EQ(0, app_state.show_finished);
    EXPECT_EQ(1, app_state.use_proxy);
    EXPECT_EQ(8080, app_state.proxy_port);
    EXPECT_EQ(192, app_state.proxy_address[0]);
    EXPECT_EQ(168, app_state.proxy_address[1]);
    EXPECT_EQ(1, app_state.proxy_address[2]);
    EXPECT_EQ(2, app_state.proxy_address[3]);
    EXPECT_STREQ("/home/ann/Videos", app_state.download_folder);

    save_settings();
    EXPECT_EQ(b, on_disk());

    app_state.window_x = 40;
    app_state.max_active_edit = 3;
    app_state.show_finished = 1;
    app_state.proxy_address[3] = 250;
    strcpy(app_state.download_folder, "/d");
    app_state.max_active = 1;
    save_settings();
    EXPECT_EQ(3, app_state.max_active);  // the new limit is in force

    std::string after = on_disk();
    ASSERT_EQ(b.size(), after.size());
    EXPECT_EQ(40u, get32(after, 4));
    EXPECT_EQ(3, after[12]);
    EXPECT_EQ(1, after[14]);
    EXPECT_EQ((char)250, after[23]);
    EXPECT_EQ(std::string("/d\0", 3), after.substr(160, 3));
    EXPECT_EQ(b.substr(24, 8), after.substr(24, 8));
    EXPECT_EQ(b.substr(36, 124), after.substr(36, 124));
    EXPECT_EQ(b.substr(163), after.substr(163));  // only the text and its NUL
}

TEST_F(ListFileTest, one_byte_settings_replace_only_the_low_byte) {
    std::string b = empty_list();
    b[12] = 7;
    b[15] = (char)0xFF;
    open_list(b);
    app_state.max_active_edit = 0x100;  // bits above the stored byte stay
    ASSERT_EQ(1, read_settings_and_items());
    EXPECT_EQ(0x107, app_state.max_active_edit);
    EXPECT_EQ(0xFF, app_state.use_proxy);
}

TEST_F(ListFileTest, long_folders_end_with_their_nul_before_the_first_record) {
    DownloadItem item = make_item("http://example.test/a", Queued);
    open_list(list_with_items({item}));
    ASSERT_EQ(1, read_settings_and_items());

    std::string folder495(495, 'f');
    strcpy(app_state.download_folder, folder495.c_str());
    save_settings();
    std::string disk = on_disk();
    EXPECT_EQ(folder495, disk.substr(160, 495));
    EXPECT_EQ('\0', disk[655]);
    EXPECT_EQ(record_bytes(item), disk.substr(656, 1204));

    // A longer folder is cut to 495 characters in the file.
    std::string folder510(510, 'g');
    strcpy(app_state.download_folder, folder510.c_str());
    save_settings();
    disk = on_disk();
    EXPECT_EQ(std::string(495, 'g'), disk.substr(160, 495));
    EXPECT_EQ('\0', disk[655]);
    EXPECT_EQ(record_bytes(item), disk.substr(656, 1204));
    ASSERT_EQ(1, restart());
    read_download_folder();
    EXPECT_EQ(std::string(495, 'g'), app_state.download_folder);
}

TEST_F(ListFileTest, folder_read_stops_at_the_nul_and_stays_terminated) {
    std::string b = empty_list("/srv/clips");
    b.replace(171, 20, "leftover-from-before");
    open_list(b);
    read_download_folder();
    EXPECT_STREQ("/srv/clips", app_state.download_folder);

    // A folder field without a NUL is held as a terminated text of the 495
    // characters a save keeps, never run on into the first record.
    close_list();
    std::string full = empty_list();
    full.replace(160, 496, std::string(496, 'h'));
    full += std::string(1204, 'r');
    open_list(full);
    memset(app_state.download_folder, 'x', sizeof app_state.download_folder);
    read_download_folder();
    EXPECT_EQ(std::string(495, 'h'), app_state.download_folder);
}

// A list written elsewhere whose texts fill their fields to the last byte:
// after loading, each is a terminated text that ends in its own field, the
// next field keeps its first byte, and a save of the cut folder puts its
// NUL before the first record without touching it.
TEST_F(ListFileTest, texts_that_fill_their_fields_are_terminated_in_them_on_load) {
    DownloadItem full;
    memset(&full, 0, sizeof full);
    full.state = Queued;
    memset(full.pageAddress, 'p', sizeof full.pageAddress);
    memset(full.streamAddress, 's', sizeof full.streamAddress);
    memset(full.fileName, 'f', sizeof full.fileName);
    std::string list = list_with_items({full, full});
    list.replace(160, 496, std::string(496, 'h'));
    const std::string records = list.substr(656);
    open_list(list);
    ASSERT_EQ(1, read_settings_and_items());
    read_download_folder();

    EXPECT_EQ(std::string(495, 'h'), app_state.download_folder);
    ASSERT_EQ(2, downloads.item_count);
    for (int i = 0; i < 2; i++) {
        const DownloadItem &item = downloads.items[i];
        EXPECT_EQ(std::string(511, 'p'), item.pageAddress);
        EXPECT_EQ(std::string(511, 's'), item.streamAddress);
        EXPECT_EQ(std::string(127, 'f'), item.fileName);
    }

    save_settings();
    std::string disk = on_disk();
    EXPECT_EQ(std::string(495, 'h'), disk.substr(160, 495));
    EXPECT_EQ('\0', disk[655]);
    EXPECT_EQ(records, disk.substr(656));
}

TEST_F(ListFileTest, output_paths_join_the_folder_and_use_the_working_folder_when_empty) {
    unscramble_first_batch();
    unscramble_second_batch();
    char out[32];

    app_state.download_folder[0] = 0;
    EXPECT_STREQ(".", effective_download_folder());
    ASSERT_EQ(1, build_output_path(out, sizeof out, "clip 2a.flv"));
    EXPECT_STREQ("./clip 2a.flv", out);

    strcpy(app_state.download_folder, "/v");
    ASSERT_EQ(1, build_output_path(out, sizeof out, "a.flv"));
    EXPECT_STREQ("/v/a.flv", out);

    strcpy(app_state.download_folder, "/");
    ASSERT_EQ(1, build_output_path(out, sizeof out, "a.flv"));
    EXPECT_STREQ("/a.flv", out);

    // "/v/" + 27 characters fill 30 bytes and the NUL the 31st; one more does not fit.
    strcpy(app_state.download_folder, "/v");
    std::string name(27, 'n');
    EXPECT_EQ(1, build_output_path(out, 31, name.c_str()));
    EXPECT_EQ("/v/" + name, out);
    EXPECT_EQ(0, build_output_path(out, 30, name.c_str()));
    EXPECT_STREQ("", out);

    // What the desktop is handed is absolute: an empty or relative folder
    // is taken from the working folder, and "." segments go.
    char full[FULL_PATH_CAP];
    app_state.download_folder[0] = 0;
    ASSERT_EQ(1, build_open_path(full, sizeof full, "clip 2a.flv", 128));
    EXPECT_EQ(dir.file("clip 2a.flv"), full);
    strcpy(app_state.download_folder, "./dl//x/.");
    ASSERT_EQ(1, build_open_path(full, sizeof full, "a.flv", 128));
    EXPECT_EQ(dir.file("dl/x/a.flv"), full);
    strcpy(app_state.download_folder, "/v/../w");
    ASSERT_EQ(1, build_open_path(full, sizeof full, "a.flv", 128));
    EXPECT_STREQ("/v/../w/a.flv", full);
    // Too long for the buffer: nothing, rather than a path cut short.
    const int needed = (int)dir.file("a.flv").size() + 1;
    app_state.download_folder[0] = 0;
    EXPECT_EQ(1, build_open_path(full, needed, "a.flv", 128));
    EXPECT_EQ(0, build_open_path(full, needed - 1, "a.flv", 128));
    EXPECT_STREQ("", full);
    // A name without its NUL inside its field is no name.
    char unterminated[8];
    memcpy(unterminated, "abcd.flv", 8);
    EXPECT_EQ(0, build_open_path(full, sizeof full, unterminated, 8));
    EXPECT_EQ(1, build_open_path(full, sizeof full, "abc.flv", 8));
    EXPECT_EQ(0, page_address_openable(unterminated, 8));

    restore_scrambled_table();
}

TEST_F(ListFileTest, record_writes_put_the_count_and_only_that_record_in_place) {
    std::vector<DownloadItem> items = {make_item("p0", Queued), make_item("p1", Queued),
                                       make_item("p2", Queued)};
    open_list(list_with_items(items));
    ASSERT_EQ(1, read_settings_and_items());
    std::string before = on_disk();

    downloads.items[1].doneSize = 54736;
    downloads.items[1].state = Downloading;
    write_item_record(1);
    std::string after = on_disk();
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(3u, get32(after, 32));
    EXPECT_EQ(record_bytes(downloads.items[1]), after.substr(record_at(1), 1204));
    EXPECT_EQ(before.substr(0, record_at(1)), after.substr(0, record_at(1)));
    EXPECT_EQ(before.substr(record_at(2)), after.substr(record_at(2)));

    // Out-of-range indices write nothing.
    write_item_record(3);
    write_item_record(-1);
    EXPECT_EQ(after, on_disk());
}

// The count and record writers write at a given offset while the settings,
// folder and append writers seek and write: whichever ran before, each
// writer's bytes land at their own offsets and nowhere else.
TEST_F(ListFileTest, interleaved_writers_each_land_in_their_own_place) {
    std::vector<DownloadItem> items = {make_item("p0", Queued), make_item("p1", Queued),
                                       make_item("p2", Queued)};
    std::string image = empty_list("/dl");
    put32(image, 32, 3);
    for (const DownloadItem &it : items) image += record_bytes(it);
    open_list(image);
    ASSERT_EQ(1, read_settings_and_items());
    read_download_folder();

    app_state.window_x = 321;
    save_settings();
    downloads.items[2].doneSize = 7;
    write_item_record(2);
    downloads.items[3] = make_item("p3", Queued);
    ASSERT_EQ(1, append_item_record());
    app_state.window_y = 654;
    downloads.items[0].doneSize = 9;
    write_item_record(0);
    save_settings();

    std::string expected = image;
    put32(expected, 4, 321);
    put32(expected, 8, 654);
    put32(expected, 32, 4);
    expected.replace(record_at(0), 1204, record_bytes(downloads.items[0]));
    expected.replace(record_at(2), 1204, record_bytes(downloads.items[2]));
    expected += record_bytes(downloads.items[3]);
    EXPECT_EQ(expected, on_disk());
    ASSERT_EQ(1, restart());
    ASSERT_EQ(4, downloads.item_count);
    EXPECT_EQ(9u, downloads.items[0].doneSize);
    EXPECT_EQ(7u, downloads.items[2].doneSize);
    EXPECT_STREQ("p3", downloads.items[3].pageAddress);
}

// The caller grows the table before it appends, as adding a download does.
TEST_F(ListFileTest, append_after_growing_when_only_the_candidate_fits) {
    open_list(empty_list());
    ASSERT_EQ(1, read_settings_and_items());
    for (int i = 0; i < 99; i++) {
        snprintf(downloads.items[i].pageAddress, 64, "http://example.test/%d", i);
        ASSERT_EQ(1, grow_table_if_needed());
        ASSERT_EQ(1, append_item_record());
    }
    ASSERT_EQ(99, downloads.item_count);
    ASSERT_EQ(100, downloads.table_capacity);  // == item_count + 1

    strcpy(downloads.items[99].pageAddress, "http://example.test/the-candidate");
    // Without room beyond the candidate the writer refuses and writes nothing.
    std::string before = on_disk();
    EXPECT_EQ(0, append_item_record());
    EXPECT_EQ(99, downloads.item_count);
    EXPECT_EQ(before, on_disk());
    ASSERT_EQ(1, grow_table_if_needed());
    ASSERT_EQ(1, append_item_record());
    EXPECT_EQ(100, downloads.item_count);
    EXPECT_EQ(199, downloads.table_capacity);
    EXPECT_STREQ("http://example.test/the-candidate", downloads.items[99].pageAddress);

    std::string disk = on_disk();
    EXPECT_EQ(100u, get32(disk, 32));
    EXPECT_EQ(record_bytes(downloads.items[99]), disk.substr(record_at(99), 1204));
    ASSERT_EQ(1, restart());
    EXPECT_EQ(100, downloads.item_count);
    EXPECT_STREQ("http://example.test/42", downloads.items[42].pageAddress);
}

TEST_F(ListFileTest, append_is_refused_when_the_list_is_full) {
    open_list(empty_list());
    ASSERT_EQ(1, read_settings_and_items());
    downloads.item_count = MAX_ITEM_COUNT;  // as if that many were loaded
    EXPECT_EQ(0, append_item_record());
    downloads.item_count = 0;
    EXPECT_EQ(empty_list(), on_disk());
}

TEST_F(ListFileTest, removal_leaves_a_stale_record_that_the_next_load_ignores) {
    std::vector<DownloadItem> items = {make_item("p0", Queued), make_item("p1", Finished),
                                       make_item("p2", Stopped)};
    open_list(list_with_items(items));
    ASSERT_EQ(1, read_settings_and_items());

    remove_table_record(0);
    rewrite_all_records();
    std::string disk = on_disk();
    EXPECT_EQ(3u, get32(disk, 32));  // rewriting leaves the count to the caller
    EXPECT_EQ(record_bytes(downloads.items[0]), disk.substr(record_at(0), 1204));
    EXPECT_EQ(record_bytes(downloads.items[1]), disk.substr(record_at(1), 1204));
    // The old last record stays behind the list as it was first stored.
    EXPECT_TRUE(record_bytes(items[2]) == disk.substr(record_at(2), 1204));

    write_item_count();
    EXPECT_EQ(2u, get32(on_disk(), 32));
    ASSERT_EQ(1, restart());
    ASSERT_EQ(2, downloads.item_count);
    EXPECT_STREQ("p1", downloads.items[0].pageAddress);
    EXPECT_STREQ("p2", downloads.items[1].pageAddress);
    EXPECT_STREQ("", downloads.items[2].pageAddress);  // the stale record stays on disk only
}

TEST_F(ListFileTest, a_short_file_loads_only_its_complete_records) {
    std::vector<DownloadItem> items = {make_item("p0", Finished), make_item("p1", Queued),
                                       make_item("p2", Queued)};
    std::string b = list_with_items(items);
    b.resize(record_at(2) + 500);  // the third record is cut short
    open_list(b);
    ASSERT_EQ(1, read_settings_and_items());
    EXPECT_EQ(2, downloads.item_count);
    EXPECT_STREQ("p1", downloads.items[1].pageAddress);
    // Nothing of the partial record becomes the candidate.
    EXPECT_STREQ("", downloads.items[2].pageAddress);
    EXPECT_EQ(0u, downloads.items[2].state);

    // The next count write stores what was really loaded.
    write_item_record(0);
    EXPECT_EQ(2u, get32(on_disk(), 32));
}

// Bytes the C library has handed out and not taken back, mapped blocks
// included: what the program allocated, whether or not it touched it.
size_t bytes_allocated() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// Loads the open list and exits 0 when it loaded one item and allocated less
// than 1 MB while loading (the table of one record and its spare ones).
void load_and_exit_by_allocation() {
    size_t before = bytes_allocated();
    int loaded = read_settings_and_items();
    size_t grown = bytes_allocated() - before;
    // _exit: the child must not run this process's exit handlers (they stop
    // the shared demo web that later tests use).
    _exit(loaded == 1 && downloads.item_count == 1 && grown < 1024 * 1024 ? 0 : 1);
}

// A count far beyond the records present must not size the table: a
// damaged count would otherwise take gigabytes of memory at start-up.
TEST_F(ListFileTest, a_short_file_with_a_huge_count_allocates_only_for_its_records) {
    std::string b = list_with_items({make_item("p0", Finished)});
    put32(b, 32, 300000);  // a table of about 360 MB if taken as it stands
    b.resize(record_at(1) + 700);
    open_list(b);
    // Measured in a child process, so that nothing else of this process
    // allocates meanwhile.
    EXPECT_EXIT(load_and_exit_by_allocation(), testing::ExitedWithCode(0), "");
}

TEST_F(ListFileTest, counts_outside_zero_to_ten_million_are_refused) {
    for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 10000001u}) {
        SCOPED_TRACE(count);
        std::string b = empty_list();
        put32(b, 32, count);
        open_list(b);
        EXPECT_EQ(0, read_settings_and_items());
        EXPECT_EQ(nullptr, downloads.items);
        EXPECT_EQ(0, downloads.item_count);
        close_list();
    }
}

TEST_F(ListFileTest, loaded_records_lose_the_handles_of_the_run_that_wrote_them) {
    DownloadItem connecting = make_item("p0", Connecting, 1000, 9000);
    connecting.file = 5;
    connecting.socket = 9;
    connecting.buffer = 1;
    DownloadItem analysing = make_item("p1", Analysing);
    analysing.userStarted = 1;
    open_list(list_with_items({connecting, analysing, make_item("p2", Finished)}));
    ASSERT_EQ(1, read_settings_and_items());
    EXPECT_EQ((uint32_t)Connecting, downloads.items[0].state);
    EXPECT_EQ(0u, downloads.items[0].file);
    EXPECT_EQ(0u, downloads.items[0].socket);
    EXPECT_EQ(0u, downloads.items[0].buffer);
    EXPECT_EQ(1000u, downloads.items[0].doneSize);
    EXPECT_EQ((uint32_t)Queued, downloads.items[1].state);
    EXPECT_EQ(0, downloads.items[1].userStarted);
    EXPECT_EQ((uint32_t)Finished, downloads.items[2].state);
}

TEST_F(ListFileTest, a_second_open_of_the_held_list_fails) {
    open_list(empty_list());
    plat_file second = open_existing_rw(LIST_FILE_NAME);
    EXPECT_EQ(PLAT_INVALID_FILE, second);
    if (second != PLAT_INVALID_FILE) close_file(second);

    close_list();
    plat_file again = open_existing_rw(LIST_FILE_NAME);
    EXPECT_NE(PLAT_INVALID_FILE, again);
    if (again != PLAT_INVALID_FILE) close_file(again);
}

TEST_F(ListFileTest, a_missing_list_is_not_created) {
    EXPECT_EQ(0, open_list_file());
    EXPECT_EQ(PLAT_INVALID_FILE, app_state.list_file);
    EXPECT_FALSE(plat_file_exists("list.o"));
}

}  // namespace
