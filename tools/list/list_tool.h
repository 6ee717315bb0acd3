// list_tool.h - shared pieces of quorvax-list, the list file tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Exit codes.
static const int EXIT_OK = 0;
static const int EXIT_USAGE = 1;
static const int EXIT_FILE = 2;

// Layout of list.o (the program's own reader lives in listfile/, which the
// tool does not link: it has no app_state).
static const uint32_t TOOL_LIST_MAGIC = 0xD4C3B2A1u;
static const int TOOL_HEADER_SIZE = 656;
static const int TOOL_RECORD_SIZE = 1204;
static const int OFF_WINDOW_X = 4;
static const int OFF_WINDOW_Y = 8;
static const int OFF_MAX_ACTIVE = 12;
static const int OFF_AUTO_REMOVE = 13;
static const int OFF_SHOW_FINISHED = 14;
static const int OFF_USE_PROXY = 15;
static const int OFF_PROXY_PORT = 16;
static const int OFF_PROXY_ADDRESS = 20;
static const int OFF_COUNT = 32;
static const int OFF_FOLDER = 160;
static const int FOLDER_MAX = 495;       // characters the folder field holds
static const int PAGE_ADDRESS_MAX = 254; // characters the program captures from a site
static const int LINK_ADDRESS_MAX = 511; // characters of a whole link (sites 26 and 27)
static const int STREAM_ADDRESS_MAX = 511;
static const int FILE_NAME_MAX = 127;
static const int SITE_KIND_MAX = 27;   // 0..25 sites, 26 media link, 27 web page
static const int32_t TOOL_MAX_ITEM_COUNT = 10000000;

uint32_t get_le32(const uint8_t *p);
void put_le32(uint8_t *p, uint32_t v);

// Length of the valid UTF-8 sequence at s (n bytes available), 0 when the
// bytes there are not one.
int utf8_sequence_length(const uint8_t *s, size_t n);
// Writes the first len bytes of s (stopping at a NUL) as a JSON string with
// its quotes; bytes that are not valid UTF-8 become \u00XX.
void print_json_string(FILE *out, const char *s, size_t len);
// Writes the text readably: control characters and bytes that are not
// valid UTF-8 as \xNN.
void print_plain_text(FILE *out, const char *s, size_t len);

// The whole tool: arguments as UTF-8 text, the exit status back.  main()
// hands it argv as it stands; a system whose own arguments are not UTF-8
// has an entry of its own that converts them first.
int list_tool_main(int argc, char **argv);
int command_init(int argc, char **argv);
int command_show(int argc, char **argv);
int command_add(int argc, char **argv);
int command_set(int argc, char **argv);
