// fuzz_listfile.cpp - loading an arbitrary list file, writing back what
// was loaded, and loading the result again.
//
// The input is the whole list.o.  Each run: open, magic, settings and
// records, download folder; then the settings, every loaded record and one
// appended record are written back, and the file is loaded once more: it
// must give back exactly what was in memory.  Everything is released at the
// end of the run, so the leak checker sees anything that is not.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"

namespace {

// Counts the list allows but that would take more memory than a fuzzing
// run may use are folded below this many items (the table of a list is
// sized by its count before its records are read).
const int32_t COUNT_FOLD = 4096;

// The list file lives in a folder of this process's own; the program opens
// it by name in its working folder, so the run steps into that folder for
// the open alone (corpus and crash files stay relative to where the fuzzer
// was started).
char list_folder[] = "/tmp/quorvax-fuzz-list-XXXXXX";
char list_path[sizeof list_folder + sizeof LIST_FILE_NAME + 1];
int start_folder = -1;

void remove_list_folder() {
    unlink(list_path);
    rmdir(list_folder);
}

bool initialise() {
    start_folder = open(".", O_RDONLY | O_DIRECTORY);
    if (start_folder < 0 || !mkdtemp(list_folder)) abort();
    snprintf(list_path, sizeof list_path, "%s/%s", list_folder, LIST_FILE_NAME);
    atexit(remove_list_folder);
    fake_reset();
    reset_app_state();
    unscramble_first_batch();
    unscramble_second_batch();
    return true;
}

int open_list_in_its_folder() {
    if (chdir(list_folder) != 0) abort();
    int opened = open_list_file();
    if (fchdir(start_folder) != 0) abort();
    return opened;
}

void write_list(const uint8_t *data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (size >= (size_t)LIST_COUNT_OFFSET + 4) {
        uint8_t *c = &bytes[LIST_COUNT_OFFSET];
        int32_t count = (int32_t)((uint32_t)c[0] | (uint32_t)c[1] << 8 | (uint32_t)c[2] << 16 | (uint32_t)c[3] << 24);
        if (item_count_allowed(count) && count > COUNT_FOLD) {
            count %= COUNT_FOLD + 1;
            for (int k = 0; k < 4; k++) c[k] = (uint8_t)((uint32_t)count >> (8 * k));
        }
    }
    FILE *f = fopen(list_path, "wb");
    if (!f) abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
    fclose(f);
}

// The settings that a list file holds, as loaded.
struct Settings {
    int32_t window_x, window_y, max_active_edit, auto_remove_finished, show_finished, use_proxy, proxy_port;
    int32_t proxy_address[4];
    char folder[DOWNLOAD_FOLDER_SIZE];
};

Settings settings_now() {
    Settings s;
    memset(&s, 0, sizeof s);
    s.window_x = app_state.window_x;
    s.window_y = app_state.window_y;
    // One byte each in the file.
    s.max_active_edit = app_state.max_active_edit & 0xFF;
    s.auto_remove_finished = app_state.auto_remove_finished & 0xFF;
    s.show_finished = app_state.show_finished & 0xFF;
    s.use_proxy = app_state.use_proxy & 0xFF;
    s.proxy_port = app_state.proxy_port;
    for (int k = 0; k < 4; k++) s.proxy_address[k] = app_state.proxy_address[k] & 0xFF;
    strncpy(s.folder, app_state.download_folder, sizeof s.folder - 1);
    return s;
}

int load() {
    if (!read_magic()) return 0;
    if (!read_settings_and_items()) return 0;
    read_download_folder();
    return 1;
}

void check_loaded(size_t file_size) {
    int64_t records_present =
        file_size > (size_t)LIST_HEADER_SIZE ? ((int64_t)file_size - LIST_HEADER_SIZE) / LIST_RECORD_SIZE : 0;
    check(downloads.items != nullptr, "a loaded list has a table");
    check(downloads.item_count >= 0 && downloads.item_count <= records_present, "count within the records present");
    check(downloads.table_capacity >= downloads.item_count + 2, "room for the candidate");
    check(memchr(app_state.download_folder, 0, DOWNLOAD_FOLDER_SIZE) != nullptr, "folder terminated in its field");
    for (int32_t i = 0; i < downloads.item_count; i++) {
        const DownloadItem &it = downloads.items[i];
        check(it.buffer == 0 && it.socket == 0 && it.file == 0 && it.bufferFill == 0,
              "no handle of an earlier run survives loading");
        check(it.state >= Queued, "waiting and analysing states are queued");
    }
    // The candidate record is free.
    static const DownloadItem zero = {};
    check(memcmp(&downloads.items[downloads.item_count], &zero, sizeof zero) == 0, "candidate record is empty");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = initialise();
    (void)ready;
    write_list(data, size);
    reset_app_state();
    check(open_list_in_its_folder() == 1, "list.o opens");

    if (load()) {
        check_loaded(size);
        int32_t count = downloads.item_count;
        Settings before = settings_now();
        std::vector<DownloadItem> records(downloads.items, downloads.items + count);

        // Written back: the settings, each record in its place, one new one.
        save_settings();
        check(app_state.max_active == app_state.max_active_edit, "the limit is put in force");
        for (int32_t i = -1; i <= count; i++) write_item_record(i);
        DownloadItem &candidate = downloads.items[count];
        memset(&candidate, 0, sizeof candidate);
        candidate.state = Queued;
        strcpy(candidate.pageAddress, "reelbox.test/watch/appended");
        DownloadItem appended = candidate;
        check(append_item_record() == 1, "a record can be appended");
        check(downloads.item_count == count + 1, "the append counts");
        records.push_back(appended);

        // Loaded again: the same list.
        plat_file file = app_state.list_file;
        reset_app_state();
        app_state.list_file = file;
        check(load() == 1, "what was written loads again");
        Settings after = settings_now();
        check(memcmp(&before, &after, offsetof(Settings, folder)) == 0, "settings survive a save");
        size_t folder_kept = strnlen(before.folder, LIST_FOLDER_MAX);
        check(strncmp(before.folder, after.folder, folder_kept) == 0 && after.folder[folder_kept] == 0,
              "the folder survives a save (cut to the field)");
        check(downloads.item_count == count + 1, "the count survives a save");
        for (int32_t i = 0; i <= count; i++)
            check(memcmp(&records[i], &downloads.items[i], sizeof(DownloadItem)) == 0, "records survive a save");
    }
    free_table();
    close_file(app_state.list_file);
    app_state.list_file = PLAT_INVALID_FILE;
    check(buffers_in_use() == 0, "no receive buffer held");
    return 0;
}
