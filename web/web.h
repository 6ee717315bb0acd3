// web.h - requests, response reading, site rules and the page fetch driver.
#pragma once

#include <cstdint>

// Splits address, builds the request, connects (direct or through the
// proxy), sends once; stores the socket or 0 in *socket_slot.
void open_request(uint32_t *socket_slot, int proxy_mode, const char *address,
                  int bare_host, int32_t range_start);
// Assembles the request into out; returns its length.  path may be null.
int build_request(char *out, const char *host, const char *path, int bare_host,
                  int32_t range_start, int proxy_mode);

// Sets app_state.bytes_available for item i's socket (0 on none or error).
void query_available(int i);
// 1 when name occurs in item i's received text with a complete, non-empty
// line after it; the search cursor then stands just after the name.
int find_header(int i, const char *name);
// Copies the header value at the search cursor into out (at most
// out_size - 1 characters, terminated); returns its length.
int read_header_value(int i, int stop_at_space, char *out, int out_size);

// Runs item i's site rule on its page text; non-zero when found.
int extract_stream_address(int i);
// Second-page rule for kinds 8, 13 and 18 (key null for 18).
void extract_second_page(int i, const char *key);
// Common ending of a successful rule.
void finish_page(int i);

// One network step of item i from its page to the stream's length.
void fetch_page(int i, int32_t range_start, int stream_mode);
