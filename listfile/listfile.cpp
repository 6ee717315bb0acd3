// listfile.cpp - list.o and the small file operations.
//
// list.o layout (little-endian):
//   0    magic A1 B2 C3 D4
//   4    window_x, 8 window_y (32-bit)
//   12   max_active_edit, 13 auto_remove_finished, 14 show_finished,
//   15   use_proxy (one byte each, the low byte of the 32-bit fields)
//   16   proxy_port (32-bit), 20 proxy_address (4 octets)
//   24   8 bytes never touched
//   32   item_count (32-bit)
//   36   124 bytes never touched
//   160  download_folder, NUL-terminated, at most 495 characters
//   656  item_count records of 1204 bytes, item 0 first; anything after
//        them is stale and never read
// The records are the in-memory DownloadItem records byte for byte.
//
// Sections: [FILE ACCESS] [READING] [PATHS] [WRITING]
#include "listfile/listfile.h"

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/address_text.h"

static_assert(OUTPUT_PATH_CAP >= DOWNLOAD_FOLDER_SIZE + 1 + (int)sizeof(DownloadItem{}.fileName),
              "every folder and file name fit an output path");

static const int SETTINGS_OFFSET = 4;
static const int SETTINGS_SIZE = 20;  // offsets 4..23

// Block reads and writes are split so that each call stays far below the
// 32-bit byte count of the file operations, whatever the table's size.
static const int64_t IO_CHUNK = 1 << 30;

// ---------------------------------------------------------- [FILE ACCESS]

plat_file open_existing_rw(const char *path) { return plat_open_existing_rw(path); }
plat_file create_new_rw(const char *path) { return plat_create_new_rw(path); }
uint32_t read_bytes(plat_file file, void *buffer, uint32_t count) {
    return plat_read(file, buffer, count);
}
uint32_t write_bytes(plat_file file, const void *buffer, uint32_t count) {
    return plat_write(file, buffer, count);
}
int seek_from_start(plat_file file, int64_t offset) { return plat_seek(file, offset); }
uint32_t write_bytes_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    return plat_write_at(file, offset, buffer, count);
}
void close_file(plat_file file) { plat_close(file); }

static int64_t read_block(plat_file file, void *buffer, int64_t size) {
    int64_t done = 0;
    while (done < size) {
        int64_t part = size - done < IO_CHUNK ? size - done : IO_CHUNK;
        uint32_t n = read_bytes(file, (char *)buffer + done, (uint32_t)part);
        done += n;
        if (n < (uint32_t)part) break;
    }
    return done;
}

static void write_block(plat_file file, const void *buffer, int64_t size) {
    int64_t done = 0;
    while (done < size) {
        int64_t part = size - done < IO_CHUNK ? size - done : IO_CHUNK;
        uint32_t n = write_bytes(file, (const char *)buffer + done, (uint32_t)part);
        done += n;
        if (n < (uint32_t)part) break;
    }
}

static int64_t record_offset(int64_t index) {
    return LIST_HEADER_SIZE + (int64_t)LIST_RECORD_SIZE * index;
}

static uint32_t get_le32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put_le32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// A one-byte setting replaces only the low byte of its 32-bit field.
static void set_low_byte(int32_t *field, uint8_t value) {
    *field = (int32_t)(((uint32_t)*field & 0xFFFFFF00u) | value);
}

// A record written elsewhere may fill a text field up to its last byte;
// everything that reads the fields takes them as NUL-terminated texts.
static void terminate_loaded_texts(DownloadItem *items, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        DownloadItem &item = items[i];
        item.pageAddress[sizeof item.pageAddress - 1] = 0;
        item.streamAddress[sizeof item.streamAddress - 1] = 0;
        item.fileName[sizeof item.fileName - 1] = 0;
    }
}

// -------------------------------------------------------------- [READING]

int open_list_file(void) {
    // The read/write open refuses a file another writer holds, so a second
    // instance of the program cannot open the list.
    app_state.list_file = open_existing_rw(LIST_FILE_NAME);
    return app_state.list_file != PLAT_INVALID_FILE;
}

int read_magic(void) {
    uint8_t bytes[4];
    seek_from_start(app_state.list_file, 0);
    if (read_bytes(app_state.list_file, bytes, 4) != 4) return 0;
    return get_le32(bytes) == LIST_MAGIC;
}

int read_settings_and_items(void) {
    plat_file file = app_state.list_file;
    uint8_t h[SETTINGS_SIZE];
    seek_from_start(file, SETTINGS_OFFSET);
    uint32_t got = read_bytes(file, h, SETTINGS_SIZE);
    // A field the file is too short to hold keeps its start-up value.
    if (got >= 4) app_state.window_x = (int32_t)get_le32(h + 0);
    if (got >= 8) app_state.window_y = (int32_t)get_le32(h + 4);
    if (got >= 9) set_low_byte(&app_state.max_active_edit, h[8]);
    if (got >= 10) set_low_byte(&app_state.auto_remove_finished, h[9]);
    if (got >= 11) set_low_byte(&app_state.show_finished, h[10]);
    if (got >= 12) set_low_byte(&app_state.use_proxy, h[11]);
    if (got >= 16) app_state.proxy_port = (int32_t)get_le32(h + 12);
    for (int octet = 0; octet < 4; octet++)
        if (got >= 17u + octet) set_low_byte(&app_state.proxy_address[octet], h[16 + octet]);

    uint8_t c[4];
    int32_t count = 0;
    seek_from_start(file, LIST_COUNT_OFFSET);
    if (read_bytes(file, c, 4) == 4) count = (int32_t)get_le32(c);

    // A negative count is refused like one above the limit: taken as it
    // stands it would size the table below the list it is meant to hold.
    if (!item_count_allowed(count)) return 0;
    // A file shorter than its count says holds only the records it holds:
    // the table is sized by those, so a damaged count cannot take gigabytes
    // of memory at start-up.
    int64_t size = plat_file_size(file);
    if (size >= 0) {
        int64_t present = size > LIST_HEADER_SIZE ? (size - LIST_HEADER_SIZE) / LIST_RECORD_SIZE : 0;
        if (present < count) count = (int32_t)present;
    }
    if (!allocate_table(count)) return 0;

    seek_from_start(file, LIST_HEADER_SIZE);
    if (count > 0) {
        int64_t want = (int64_t)LIST_RECORD_SIZE * count;
        int64_t have = read_block(file, downloads.items, want);
        if (have < want) {
            // The read came back short all the same (a read error): keep the
            // complete records and forget the rest, so no half-read record
            // becomes an item.  Only the partial record's bytes need
            // clearing; the records after it are still the table's zeros.
            int32_t complete = (int32_t)(have / LIST_RECORD_SIZE);
            memset(&downloads.items[complete], 0,
                   (size_t)(have - (int64_t)complete * LIST_RECORD_SIZE));
            downloads.item_count = complete;
        }
    }
    terminate_loaded_texts(downloads.items, downloads.item_count);
    prepare_loaded_items(downloads.items, downloads.item_count);
    return 1;
}

static int32_t clamped(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

// A file written by hand or by another program may hold any byte in a
// switch or the digit, and any number in the port; the panel, the engine
// and the requests expect what the panel itself can set.
void normalise_settings(void) {
    AppState &s = app_state;
    s.auto_remove_finished = s.auto_remove_finished != 0;
    s.show_finished = s.show_finished != 0;
    s.use_proxy = s.use_proxy != 0;
    s.max_active_edit = clamped(s.max_active_edit, 0, 9);
    s.proxy_port = clamped(s.proxy_port, 0, 65535);
}

static_assert(DOWNLOAD_FOLDER_SIZE > LIST_FOLDER_MAX, "the folder field fits download_folder");

// The folder is read as the field holds it and no further: a field filled
// without its NUL is cut to the 495 characters a save would keep, rather
// than run on into the first record.
void read_download_folder(void) {
    char *folder = app_state.download_folder;
    seek_from_start(app_state.list_file, LIST_FOLDER_OFFSET);
    uint32_t got = read_bytes(app_state.list_file, folder, LIST_FOLDER_MAX + 1);
    folder[got] = 0;
    folder[LIST_FOLDER_MAX] = 0;
}

// ---------------------------------------------------------------- [PATHS]

// An empty folder means the program's working folder; joined as it stands it
// would put "/name" at the root of the file system.
const char *effective_download_folder(void) {
    return app_state.download_folder[0] ? app_state.download_folder : ".";
}

int build_output_path(char *out, int cap, const char *file_name) {
    if (!out || cap <= 0) return 0;
    const char *folder = effective_download_folder();
    const char *separator = string_entry(STR_PATH_SEPARATOR);
    size_t folder_len = strnlen(folder, DOWNLOAD_FOLDER_SIZE);
    size_t separator_len = strlen(separator);
    // A folder that already ends with the separator (the root) gets no second one.
    if (separator_len && folder_len >= separator_len &&
        memcmp(folder + folder_len - separator_len, separator, separator_len) == 0)
        separator = "";
    // A path cut short would name another file: all of it, or nothing.
    out[0] = 0;
    if (append_text_whole(out, (size_t)cap, folder) && append_text_whole(out, (size_t)cap, separator) &&
        append_text_whole(out, (size_t)cap, file_name))
        return 1;
    out[0] = 0;
    return 0;
}

static bool control_character(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Length of the text in a field of field_size bytes; -1 when its NUL is not
// within the field.
static int text_length_in(const char *text, int field_size) {
    if (!text || field_size <= 0) return -1;
    const char *nul = (const char *)memchr(text, 0, (size_t)field_size);
    return nul ? (int)(nul - text) : -1;
}

int page_address_openable(const char *address, int field_size) {
    int length = text_length_in(address, field_size);
    if (length <= 0) return 0;
    bool in_path = false;
    for (int k = 0; k < length; k++) {
        unsigned char c = (unsigned char)address[k];
        if (control_character(c) || strchr(" \"'<>\\", c)) return 0;
        if (c == '/') in_path = true;
        if (c == '@' && !in_path) return 0;
    }
    return 1;
}

int file_name_openable(const char *file_name, int field_size) {
    static const char SUFFIX[] = ".flv";
    const int suffix_length = (int)sizeof SUFFIX - 1;
    int length = text_length_in(file_name, field_size);
    if (length < suffix_length) return 0;
    for (int k = 0; k < length; k++) {
        unsigned char c = (unsigned char)file_name[k];
        if (control_character(c) || c == '/' || c == '\\') return 0;
        if (c == '.' && k + 1 < length && file_name[k + 1] == '.') return 0;
    }
    return memcmp(file_name + length - suffix_length, SUFFIX, (size_t)suffix_length) == 0 ||
           ends_in_media_extension(file_name, length);
}

int list_file_key(char *out, int cap) { return plat_full_path(LIST_FILE_NAME, out, cap); }

int build_open_path(char *out, int cap, const char *file_name, int field_size) {
    if (!out || cap <= 0) return 0;
    out[0] = 0;
    if (!file_name_openable(file_name, field_size)) return 0;
    char path[OUTPUT_PATH_CAP];
    if (!build_output_path(path, sizeof path, file_name)) return 0;
    return plat_full_path(path, out, cap);
}

// -------------------------------------------------------------- [WRITING]
// The count and record writes run after every block a download stores, so
// they go out as positioned writes (one call each instead of a seek and a
// write); every writer here that writes at the position seeks first.

void write_item_count(void) {
    uint8_t c[4];
    put_le32(c, (uint32_t)downloads.item_count);
    write_bytes_at(app_state.list_file, LIST_COUNT_OFFSET, c, 4);
}

void save_settings(void) {
    plat_file file = app_state.list_file;
    uint8_t h[SETTINGS_SIZE];
    put_le32(h + 0, (uint32_t)app_state.window_x);
    put_le32(h + 4, (uint32_t)app_state.window_y);
    h[8] = (uint8_t)app_state.max_active_edit;
    h[9] = (uint8_t)app_state.auto_remove_finished;
    h[10] = (uint8_t)app_state.show_finished;
    h[11] = (uint8_t)app_state.use_proxy;
    put_le32(h + 12, (uint32_t)app_state.proxy_port);
    for (int octet = 0; octet < 4; octet++) h[16 + octet] = (uint8_t)app_state.proxy_address[octet];
    seek_from_start(file, SETTINGS_OFFSET);
    write_bytes(file, h, SETTINGS_SIZE);

    write_item_count();

    // The folder field ends where the records begin: a longer folder is cut
    // to 495 characters so its NUL lands at 655 at the latest.
    char folder[LIST_FOLDER_MAX + 1];
    size_t len = copy_text_cut(folder, sizeof folder, app_state.download_folder);
    seek_from_start(file, LIST_FOLDER_OFFSET);
    write_bytes(file, folder, (uint32_t)len + 1);

    app_state.max_active = app_state.max_active_edit;
}

void write_item_record(int index) {
    if (!downloads.items || index < 0 || index >= downloads.item_count) return;
    write_item_count();
    write_bytes_at(app_state.list_file, record_offset(index), &downloads.items[index], LIST_RECORD_SIZE);
}

int append_item_record(void) {
    // One more item would make a list that no later start could load.
    if (downloads.item_count >= MAX_ITEM_COUNT) return 0;
    // The caller makes room first: the record after the candidate must exist.
    if (!downloads.items || downloads.table_capacity < downloads.item_count + 2) return 0;
    int32_t index = downloads.item_count;
    seek_from_start(app_state.list_file, record_offset(index));
    write_bytes(app_state.list_file, &downloads.items[index], LIST_RECORD_SIZE);
    downloads.item_count = index + 1;
    write_item_count();
    return 1;
}

void rewrite_all_records(void) {
    if (!downloads.items || downloads.item_count <= 0) return;
    seek_from_start(app_state.list_file, LIST_HEADER_SIZE);
    write_block(app_state.list_file, downloads.items,
                (int64_t)LIST_RECORD_SIZE * downloads.item_count);
}
