// strings.h - the scrambled string table.
//
// The texts of requests, header names, page markers, site patterns and probe
// targets are kept scrambled in the program's data and unscrambled in place
// at start-up, in two batches.  Afterwards each entry is a plain
// NUL-terminated text at a fixed place, named here by its role.
#pragma once

#include <cstdint>

enum StringEntry {
    STR_TRAY_PREFIX = 0,      // "Downloads now: " (15)
    STR_SITE_PATTERN_1,       // a site pattern (11); use site_pattern()
    STR_PAGE_END_1,           // first page-complete marker (7)
    STR_HOST_PREFIX,          // "www." (4)
    STR_TRAY_SEPARATOR,       // " @ " (3)
    STR_PAGE_END_2,           // second page-complete marker (7)
    STR_KIND8_KEY,            // kind-8 second-page key (7)
    STR_KIND13_KEY,           // kind-13 second-page key (11)
    STR_KIND18_KEY1,          // kind-18 first key (13)
    STR_KIND18_KEY2,          // kind-18 second key (4)
    STR_SHOW_PARAM_PREFIX,    // parameter prefix before a file path (9)
    STR_PATH_SEPARATOR,       // "/" (1)
    STR_SIZE_PLACEHOLDER,     // drawn (4 characters) while totalSize is 0 (6)
    STR_NAME_CLOSE,           // "</title>" (8)
    STR_NAME_OPEN,            // "<title>" (7)
    STR_PROBE_3,              // third probe target (10)
    STR_PROBE_2,              // second probe target (9)
    STR_PROBE_1,              // first probe target (7)
    STR_FOLDER_TITLE,         // folder chooser title (20)
    STR_SCHEME_PREFIX,        // "http://" (7)
    STR_SHOW_PROGRAM,         // program that shows a file (12)
    STR_HEADER_BLOCK_1,       // first header block (78)
    STR_HEADER_BLOCK_2,       // closing header block (249), carries the token
    STR_REQUEST_HEAD,         // "GET /" (5)
    STR_REDIRECT_HEADER,      // "Location:" (9)
    STR_REQUEST_TAIL,         // " HTTP/1.1\r\n" (11)
    STR_HOST_LABEL,           // "Host: " (6)
    STR_LENGTH_HEADER,        // "Content-Length:" (15)
    STR_SITE_PATTERN_2,       // 23 more site patterns follow (entries 29-51);
                              // their matching order is site_pattern()'s
    STR_WEB_PAGE = STR_SITE_PATTERN_2 + 23, // program's web page (22)
    STR_ENTRY_COUNT
};

// The plain text of an entry (valid after both batches have run).
char *string_entry(StringEntry e);
// Text length of an entry.
int string_length(StringEntry e);

static const int SITE_PATTERN_COUNT = 24;
// Site pattern n (0..23) in matching order, and its site code.
const char *site_pattern(int n);
int site_code(int n);

// Unscrambles the first n bytes of text in place with a running key.
void unscramble_entry(char *text, int n, uint8_t seed);
// Start-up batches: entries 1..10, then 11..52.
void unscramble_first_batch(void);
void unscramble_second_batch(void);
// Writes the request token for tick into the closing header block at 208.
void write_request_token(uint32_t tick);
// Puts the whole table back in its scrambled form (tests and restarts).
void restore_scrambled_table(void);
