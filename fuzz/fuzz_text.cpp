// fuzz_text.cpp - the text routines beneath the page analysis, on buffers
// sized exactly as their callers size them, so that the address sanitizer
// sees any read or write past what a routine was given.
//
// Input: one byte choosing the routine, then its parameters, then the text.
//   0  find_text       needle length, cursor (4), limit (4), needle, text
//   1  unescape_page   count (4), text        (buffer: count + 1 bytes)
//   2  unescape_page_alt                     (same)
//   3  replace_marker_amp  count (4), text   (buffer: 512 bytes, a value)
//   4  drop_amp_entity                        (same)
//   5  drop_backslashes                       (same)
//   6  make_file_name  length (4), tick (4), source (exactly its bytes)

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "app/app_state.h"
#include "web/text.h"

namespace {

const uint32_t PAGE_COUNT_MAX = 322491;   // the page window
const uint32_t VALUE_FIELD = 512;         // the stream address field
const int NAME_FIELD = 128;

// Aborts with a message the fuzzer shows beside the input.

bool valid_utf8(const unsigned char *b, size_t n) {
    size_t i = 0;
    while (i < n) {
        unsigned char c = b[i];
        if (c < 0x80) { i++; continue; }
        size_t extra = (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 : (c >= 0xF0 && c <= 0xF4) ? 3 : 0;
        if (extra == 0 || i + extra >= n) return false;
        uint32_t cp = c & (0x7F >> (extra + 1));
        for (size_t k = 1; k <= extra; k++) {
            if ((b[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
        if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
        i += extra + 1;
    }
    return true;
}

void fuzz_find(FuzzInput in) {
    uint32_t needle_length = in.u8() % 40;
    int32_t cursor = (int32_t)in.u32();
    uint32_t limit_bits = in.u32();
    if (needle_length > in.size) needle_length = (uint32_t)in.size;
    char *needle = (char *)malloc(needle_length + 1);
    memcpy(needle, in.data, needle_length);
    needle[needle_length] = 0;
    in.data += needle_length;
    in.size -= needle_length;

    // The text holds exactly its bytes; the limit never passes them (as the
    // callers' limit never passes the received text) but may be negative,
    // and the cursor may stand anywhere.
    size_t n = in.size;
    char *text = (char *)malloc(n ? n : 1);
    memcpy(text, in.data, n);
    int32_t limit = (int32_t)(limit_bits % (n + 1));
    if (limit_bits & 0x80000000u) limit = -(int32_t)(limit_bits & 0xFF);
    if ((cursor & 0xF0000000) == 0) cursor = (int32_t)((uint32_t)cursor % (n + 2)) - 1;

    search_cursor = cursor;
    match_start = 12345;
    search_limit = limit;
    int found = find_text(text, needle);
    size_t needle_len = strlen(needle);
    if (found) {
        check(found == (int)needle_len + 1, "find_text returns the needle length + 1");
        check(match_start >= 0 && match_start >= (cursor < 0 ? 0 : cursor), "match at or after the cursor");
        check((int64_t)match_start + (int64_t)needle_len <= limit, "match ends before the limit");
        check(search_cursor == match_start + (int32_t)needle_len, "cursor after the match");
        for (size_t k = 0; k < needle_len; k++) {
            unsigned char a = (unsigned char)text[match_start + k], b = (unsigned char)needle[k];
            if (a >= 'A' && a <= 'Z') a += 32;
            if (b >= 'A' && b <= 'Z') b += 32;
            check(a == b && a != 0, "the match equals the needle");
        }
    } else {
        check(search_cursor == cursor && match_start == 12345, "a failed search leaves the state");
    }
    free(text);
    free(needle);
}

void fuzz_page_decoder(FuzzInput in, int alt) {
    uint32_t count = in.u32() % (PAGE_COUNT_MAX + 1);
    if (count > in.size) count = (uint32_t)in.size;
    // Callers decode the received text in a buffer that has room for the
    // terminator after it.
    char *text = (char *)malloc(count + 1);
    memcpy(text, in.data, count);
    text[count] = (char)0xEE;
    if (alt)
        unescape_page_alt(text, count);
    else
        unescape_page(text, count);
    size_t out = strnlen(text, count + 1);
    check(out <= count, "the decoded page ends within its count");
    free(text);
}

void fuzz_value_decoder(FuzzInput in, int which) {
    uint32_t count = in.u32() % (VALUE_FIELD + 1);
    // A value field of 512 bytes holding whatever the input gives, NUL or not.
    char *text = (char *)malloc(VALUE_FIELD);
    memset(text, 'v', VALUE_FIELD);
    size_t n = in.size < VALUE_FIELD ? in.size : VALUE_FIELD;
    memcpy(text, in.data, n);
    char before[VALUE_FIELD];
    memcpy(before, text, VALUE_FIELD);
    if (which == 0) replace_marker_amp(text, count);
    if (which == 1) drop_amp_entity(text, count);
    if (which == 2) drop_backslashes(text, count);
    // Nothing at or past count is written.
    check(memcmp(text + count, before + count, VALUE_FIELD - count) == 0, "nothing written past count");
    // A value with none of the markers in its counted text stays as it was.
    const char *marker = which == 0 ? "_@?_" : which == 1 ? "amp;" : "\\";
    size_t value_length = strnlen(before, count);
    bool has_marker = memmem(before, value_length, marker, strlen(marker)) != nullptr;
    if (!has_marker) check(memcmp(text, before, count) == 0, "a value without markers is unchanged");
    free(text);
}

void fuzz_file_name(FuzzInput in) {
    int32_t length = (int32_t)in.u32();
    app_state.now_tick = in.u32();
    size_t n = in.size;
    // The source is exactly the bytes given; a length beyond them is only
    // allowed when a NUL ends the source first (callers always give one
    // or the other).
    bool terminated = n > 0 && memchr(in.data, 0, n) != nullptr;
    if (!terminated && length > (int32_t)n) length = (int32_t)(n ? (uint32_t)length % (n + 1) : 0);
    char *source = (char *)malloc(n ? n : 1);
    memcpy(source, in.data, n);
    char *name = (char *)malloc(NAME_FIELD);
    memset(name, 'X', NAME_FIELD);
    make_file_name(name, source, length);
    size_t len = strnlen(name, NAME_FIELD);
    check(len < (size_t)NAME_FIELD, "name NUL-terminated within its field");
    check(len >= 5 && memcmp(name + len - 4, ".flv", 4) == 0, "name ends with .flv");
    check(memchr(name, '/', len) == nullptr && memchr(name, '\\', len) == nullptr, "no path separator");
    check(valid_utf8((const unsigned char *)name, len), "name is valid UTF-8");
    // " <hex tick>.flv" ends it; the part before holds at most 91
    // characters (a multi-byte one, or a Latin-1 letter written as two
    // bytes, counting once) in at most 114 bytes.
    char suffix[16];
    int suffix_length = snprintf(suffix, sizeof suffix, " %x.flv", app_state.now_tick);
    check(len >= (size_t)suffix_length && memcmp(name + len - suffix_length, suffix, suffix_length) == 0,
          "name ends with a space, the hex tick and .flv");
    size_t part = len - (size_t)suffix_length;
    size_t characters = 0;
    for (size_t k = 0; k < part; k++)
        if (((unsigned char)name[k] & 0xC0) != 0x80) characters++;
    check(characters <= 91, "at most 91 characters before the tick");
    check(part <= 114, "at most 114 bytes before the tick");
    free(name);
    free(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size};
    switch (in.u8() % 7) {
    case 0: fuzz_find(in); break;
    case 1: fuzz_page_decoder(in, 0); break;
    case 2: fuzz_page_decoder(in, 1); break;
    case 3: fuzz_value_decoder(in, 0); break;
    case 4: fuzz_value_decoder(in, 1); break;
    case 5: fuzz_value_decoder(in, 2); break;
    case 6: fuzz_file_name(in); break;
    }
    return 0;
}
