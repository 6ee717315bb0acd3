// text.h - case-insensitive search with a shared cursor, line length, the
// in-place decoders of page text and values, and output file names.
#pragma once

#include <cstdint>

// Search state shared by every caller of find_text.  A search starts with
// begin_search; later searches go on from where the last match ended.
extern int32_t search_cursor;   // where the next search begins
extern int32_t match_start;     // first character of the last match
extern int32_t search_limit;    // no match may reach this position

// Starts a search at cursor, with no match yet; no match may reach limit.
void begin_search(int32_t cursor, int32_t limit);

// Finds needle in text from search_cursor, ignoring the case of A-Z.
// Returns strlen(needle) + 1 when found (match_start and search_cursor set),
// 0 otherwise (state unchanged).
int find_text(const char *text, const char *needle);
// Position of the first carriage return, 0 when the text ends first.
int line_length(const char *text);
// Page decoders (form A and form B) over the first count characters.
void unescape_page(char *text, uint32_t count);
void unescape_page_alt(char *text, uint32_t count);
// Value decoders, at most count characters or up to the NUL.
void replace_marker_amp(char *text, uint32_t count);
void drop_amp_entity(char *text, uint32_t count);
void drop_backslashes(char *text, uint32_t count);
// Builds "<cleaned source> <hex now_tick>.flv" into name (128 bytes).
void make_file_name(char *name, const char *source, int length);
// Builds "<cleaned source> <hex now_tick>.<extension>" the same way; an
// extension that is empty or longer than 4 characters gives "mp4".
void make_media_file_name(char *name, const char *source, int length, const char *extension);
