// listfile.h - list.o: settings header, download folder and the records,
// and the small file operations the rest of the program uses.
#pragma once

#include <cstdint>

#include "platform/platform.h"

static const uint32_t LIST_MAGIC = 0xD4C3B2A1u;  // bytes A1 B2 C3 D4
static const int LIST_HEADER_SIZE = 656;          // records start here
static const int LIST_COUNT_OFFSET = 32;
static const int LIST_FOLDER_OFFSET = 160;
static const int LIST_FOLDER_MAX = 495;           // characters stored
static const int LIST_RECORD_SIZE = 1204;
static const char LIST_FILE_NAME[] = "list.o";
// The folder's text and its NUL end before the first record.
static_assert(LIST_FOLDER_OFFSET + LIST_FOLDER_MAX + 1 <= LIST_HEADER_SIZE,
              "the folder field lies in the header");

// File access (results of reads, writes and seeks may be ignored by callers).
plat_file open_existing_rw(const char *path);
plat_file create_new_rw(const char *path);
uint32_t read_bytes(plat_file file, void *buffer, uint32_t count);
uint32_t write_bytes(plat_file file, const void *buffer, uint32_t count);
int seek_from_start(plat_file file, int64_t offset);
// Writes at offset from the start in one call; the position afterwards is
// not to be relied on (seek before the next read_bytes or write_bytes).
uint32_t write_bytes_at(plat_file file, int64_t offset, const void *buffer, uint32_t count);
void close_file(plat_file file);

// Opens list.o in the working folder into app_state.list_file; 1 on success.
int open_list_file(void);
// 1 when the first four bytes are the magic.
int read_magic(void);
// Settings, count and records; 0 when the count is out of range or the table
// cannot be had.
int read_settings_and_items(void);
// The download folder text from offset 160, at most 495 characters.
void read_download_folder(void);
// The name that tells this list from others: the absolute path of list.o in
// the working folder (a later start on the same list asks the running
// instance to show itself under it).  1 on success; 0 (out empty) when it
// does not fit in cap bytes.
int list_file_key(char *out, int cap);
// Brings loaded settings into the ranges the program works with: the three
// switches 0 or 1, downloads at once 0 to 9, the port 0 to 65535.  Memory
// only: the file changes at the next settings save.
void normalise_settings(void);

// Room for an output path: any download folder, the separator and any file
// name fit.
static const int OUTPUT_PATH_CAP = 1024;
// Room for an absolute path as the systems allow one (a relative output
// path grows by the working folder).
static const int FULL_PATH_CAP = 4096;

// The folder downloads go to: download_folder, or "." (the working folder)
// when it is empty.
const char *effective_download_folder(void);
// Joins the effective download folder, the path separator and file_name into
// out (cap bytes with its NUL).  1 on success; 0 (out empty) when it does not
// fit.
int build_output_path(char *out, int cap, const char *file_name);

// What may be handed to the desktop.  Page addresses and file names come
// from the clipboard, from pages and from list files written elsewhere; the
// desktop's handlers take them as addresses and paths, so only texts that
// cannot be read as anything else pass.  field_size bounds the text (the
// size of the record field it lives in): a text without its NUL there fails.
//
// A page address, to be opened after the scheme prefix (an address that
// keeps its own scheme is checked from after it): no control character,
// space, quote, angle bracket or backslash, and no "@" before its first "/"
// (which would make the host a user name).  Not empty.
int page_address_openable(const char *address, int field_size);
// A download's file name: not empty, no path separator of any system, no
// "..", no control character, ending in ".flv" or in a media extension
// (listfile/address_text.h, any case).
int file_name_openable(const char *file_name, int field_size);
// The absolute path of a download's file, for the desktop: the file name
// must pass file_name_openable; the folder is the effective download folder,
// made absolute from the working folder when it is relative.  1 on success;
// 0 (out empty) otherwise.
int build_open_path(char *out, int cap, const char *file_name, int field_size);

// Settings header (offsets 4..23), count at 32 and folder at 160; then puts
// max_active_edit in force.
void save_settings(void);
// The count at 32, then record index at its place.
void write_item_record(int index);
// The count at 32 alone (after a removal has rewritten the records).
void write_item_count(void);
// Appends the candidate record; 0 (nothing written) when the table has no
// room beyond the candidate (grow it first) or the list already holds
// MAX_ITEM_COUNT items.
int append_item_record(void);
// All item_count records in one block at 656; the count is not written.
void rewrite_all_records(void);
