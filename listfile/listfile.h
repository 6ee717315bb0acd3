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
static const char LIST_FILE_NAME[] = "list.o";

// File access (results of reads, writes and seeks may be ignored by callers).
plat_file open_existing_rw(const char *path);
plat_file create_new_rw(const char *path);
uint32_t read_bytes(plat_file file, void *buffer, uint32_t count);
uint32_t write_bytes(plat_file file, const void *buffer, uint32_t count);
int seek_from_start(plat_file file, int64_t offset);
void close_file(plat_file file);

// Opens list.o in the working folder into app_state.list_file; 1 on success.
int open_list_file(void);
// 1 when the first four bytes are the magic.
int read_magic(void);
// Settings, count and records; 0 when the count is out of range or the table
// cannot be had.
int read_settings_and_items(void);
// The download folder text from offset 160.
void read_download_folder(void);

void save_settings(void);
void write_item_record(int index);
// Appends the candidate record; 0 when the table could not grow.
int append_item_record(void);
void rewrite_all_records(void);
