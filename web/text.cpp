// text.cpp - the text routines beneath the page analysis.
//
//   [SEARCH]     find_text, line_length
//   [PAGE]       unescape_page (form A), unescape_page_alt (form B)
//   [VALUES]     replace_marker_amp, drop_amp_entity, drop_backslashes
//   [FILE NAME]  make_file_name, make_media_file_name
//
// Everything works in place on 8-bit text and never reads past the count it
// is given: an escape cut off by the end of the counted text is not decoded
// (its first character is kept as it stands) rather than read beyond it.

#include "web/text.h"

#include <cstring>

#include "app/app_state.h"

int32_t search_cursor = 0;
int32_t match_start = 0;
int32_t search_limit = 0;

void begin_search(int32_t cursor, int32_t limit) {
    search_cursor = cursor;
    match_start = 0;
    search_limit = limit;
}

namespace {

inline unsigned char lower_ascii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c;
}

// True when the len bytes of pattern stand at text[r], with all of them
// before count.  Stops at the first difference, so a NUL ends the test.
bool text_at(const char *text, uint32_t r, uint32_t count, const char *pattern, uint32_t len) {
    if (r > count || count - r < len) return false;
    for (uint32_t i = 0; i < len; i++)
        if (text[r + i] != pattern[i]) return false;
    return true;
}

} // namespace

// ------------------------------------------------------------------ [SEARCH]

int find_text(const char *text, const char *needle) {
    int64_t length = 0;
    while (needle[length]) length++;
    if (length == 0) return 0;

    // A cursor stepped back before the start searches from the start.
    int64_t start = search_cursor < 0 ? 0 : search_cursor;
    const unsigned char *t = (const unsigned char *)text;
    const unsigned char *n = (const unsigned char *)needle;
    for (int64_t pos = start; pos + length <= (int64_t)search_limit; pos++) {
        int64_t i = 0;
        while (i < length) {
            unsigned char c = t[pos + i];
            if (c == 0) return 0; // every later match would cover this NUL
            if (lower_ascii(c) != lower_ascii(n[i])) break;
            i++;
        }
        if (i == length) {
            match_start = (int32_t)pos;
            search_cursor = (int32_t)(pos + length);
            return (int)(length + 1);
        }
    }
    return 0;
}

int line_length(const char *text) {
    int count = 0;
    while (text[count] != 0) {
        if (text[count] == '\r') return count;
        count++;
    }
    return 0;
}

// -------------------------------------------------------------------- [PAGE]

namespace {

// The chunk marker that splits pages sent in pieces.
const char CHUNK_MARKER[] = "\r\n1000\r\n";
const uint32_t CHUNK_MARKER_LENGTH = 8;

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0; // any other character counts as 0
}

// Characters a percent escape at p consumes: "%XY" or "%25XY".  The text at
// p is taken to be the percent sign.
uint32_t percent_escape_length(const char *text, uint32_t p, uint32_t count) {
    return text_at(text, p + 1, count, "25", 2) ? 5 : 3;
}

// Decodes the percent escape at p (whose length is given), returns the byte.
unsigned char decode_percent_escape(const char *text, uint32_t p, uint32_t length) {
    uint32_t digits = p + length - 2;
    return (unsigned char)(hex_digit_value(text[digits]) * 16 + hex_digit_value(text[digits + 1]));
}

bool fits(uint32_t p, uint32_t length, uint32_t count) {
    return p <= count && count - p >= length;
}

inline char page_byte(unsigned char c) {
    return c == 0 ? ' ' : (char)c; // a NUL would cut the page short
}

// Steps *r past a chunk marker standing there; false when the marker is the
// last thing in the text.
inline bool skip_chunk_marker(const char *text, uint32_t *r, uint32_t count) {
    if (text_at(text, *r, count, CHUNK_MARKER, CHUNK_MARKER_LENGTH)) {
        *r += CHUNK_MARKER_LENGTH;
        if (*r >= count) return false;
    }
    return true;
}

} // namespace

// Form A: "%XY" and "%25XY" give byte XY; "\u" followed by four digits gives
// the byte of the last two (the escape is read as a percent sign standing in
// place of its fourth character); the chunk marker disappears.
void unescape_page(char *text, uint32_t count) {
    uint32_t r = 0;
    uint32_t w = 0;
    while (r < count) {
        if (!skip_chunk_marker(text, &r, count)) break;
        unsigned char byte;
        uint32_t percent = r;
        bool escape = false;
        if (text_at(text, r, count, "\\u", 2)) {
            // The percent sign stands at r + 3; decode only a whole escape.
            percent = r + 3;
            escape = percent < count && fits(percent, percent_escape_length(text, percent, count), count);
        } else if (text[r] == '%') {
            escape = fits(r, percent_escape_length(text, r, count), count);
        }
        if (escape) {
            uint32_t length = percent_escape_length(text, percent, count);
            byte = decode_percent_escape(text, percent, length);
            r = percent + length;
        } else {
            byte = (unsigned char)text[r];
            r++;
        }
        text[w++] = page_byte(byte);
    }
    text[w] = 0;
}

// Form B: "\u" followed by four digits becomes a percent sign and its last two
// digits; "%5C" is dropped; "%25" gives a percent sign; "%XY" gives byte XY.
void unescape_page_alt(char *text, uint32_t count) {
    uint32_t r = 0;
    uint32_t w = 0;
    while (r < count) {
        if (!skip_chunk_marker(text, &r, count)) break;
        unsigned char byte;
        if (text_at(text, r, count, "\\u", 2) && r + 3 < count) {
            byte = '%';
            r += 4;
        } else {
            if (text_at(text, r, count, "%5C", 3)) {
                r += 3;
                if (r >= count) break;
            }
            if (text_at(text, r, count, "%25", 3)) {
                byte = '%';
                r += 3;
            } else if (text[r] == '%' && fits(r, 3, count)) {
                byte = decode_percent_escape(text, r, 3);
                r += 3;
            } else {
                byte = (unsigned char)text[r];
                r++;
            }
        }
        text[w++] = page_byte(byte);
    }
    text[w] = 0;
}

// ------------------------------------------------------------------ [VALUES]
//
// The value decoders end at the first NUL or after count characters.  They
// never write at or past count: when nothing was removed and no NUL came
// first, the text is left exactly as it was.

namespace {

void end_value(char *text, uint32_t w, uint32_t count) {
    if (w < count) text[w] = 0;
}

// Removes each marker (length characters) from the value; the character after
// a marker is kept as it is, even when it starts another marker, and a marker
// with nothing after it ends the value.
void drop_marker_before_character(char *text, uint32_t count, const char *marker, uint32_t length) {
    uint32_t r = 0;
    uint32_t w = 0;
    while (r < count && text[r] != 0) {
        if (text_at(text, r, count, marker, length)) {
            r += length;
            if (r >= count || text[r] == 0) break;
        }
        text[w++] = text[r++];
    }
    end_value(text, w, count);
}

} // namespace

void replace_marker_amp(char *text, uint32_t count) {
    uint32_t r = 0;
    uint32_t w = 0;
    while (r < count && text[r] != 0) {
        if (text_at(text, r, count, "_@?_", 4)) {
            text[w++] = '&';
            r += 4;
        } else {
            text[w++] = text[r++];
        }
    }
    end_value(text, w, count);
}

void drop_amp_entity(char *text, uint32_t count) {
    drop_marker_before_character(text, count, "amp;", 4);
}

void drop_backslashes(char *text, uint32_t count) {
    drop_marker_before_character(text, count, "\\", 1);
}

// --------------------------------------------------------------- [FILE NAME]

namespace {

const int NAME_CHARACTERS_MAX = 91;
// 128-byte field: the cleaned part, " ", up to 8 hex digits, ".flv" (or
// another extension), NUL.
const int NAME_FIELD_SIZE = 128;
const int NAME_SUFFIX_MAX = 1 + 8 + 4;

// Length of the valid UTF-8 sequence of two to four bytes at s[i] that ends
// before end, or 0 when there is none (a lone or malformed byte).
int utf8_sequence_length(const unsigned char *s, int i, int end, uint32_t *code_point) {
    unsigned char lead = s[i];
    int length;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) { length = 2; cp = lead & 0x1F; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; cp = lead & 0x0F; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; cp = lead & 0x07; }
    else return 0;
    if (end - i < length) return 0;
    for (int k = 1; k < length; k++) {
        unsigned char c = s[i + k];
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0; // overlong, surrogate
    if (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    *code_point = cp;
    return length;
}

// Code points that would hide or reorder what a file name shows: the C1
// controls, line and paragraph separators, and the direction controls.
bool is_hidden_control(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

bool is_kept_ascii(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bytes of 192 and more name letters in Latin-1, the single-byte set many
// older pages are still sent in; 0xD7 and 0xF7 are the multiplication and
// division signs, which become spaces like the ASCII signs.  (128 to 191 are
// signs and controls there, and punctuation in Windows-1252: no letters.)
bool is_latin1_letter(unsigned char c) {
    return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

} // namespace

// Builds "<cleaned source> <hex now_tick>.flv".  The source is read up to
// length bytes or its NUL.  Digits and ASCII letters are kept; every other
// single byte becomes a space, and runs of spaces shrink to one.  Names are
// UTF-8: a valid multi-byte sequence is kept whole and counts as one of the
// 91 characters.  A byte of 192 or more that starts no valid sequence comes
// from a page in Latin-1: when it is a letter there, its two-byte UTF-8 form
// is written, counting as one character; any other lone byte of 128 or more
// becomes a space, so that the name is never invalid UTF-8.  The cleaned
// part is also held to the bytes that leave room for the suffix, so the name
// always fits its 128 bytes; a character that would cross that bound ends
// the part.
void make_file_name(char *name, const char *source, int length) {
    make_media_file_name(name, source, length, "flv");
}

// The same name with another extension (at most 4 characters, default
// "mp4"): the cleaned part then leaves room for that extension instead.
void make_media_file_name(char *name, const char *source, int length, const char *extension) {
    int extension_length = extension ? (int)strnlen(extension, 5) : 0;
    if (extension_length == 0 || extension_length > 4) extension = "mp4", extension_length = 3;
    const int part_max = NAME_FIELD_SIZE - 1 - (NAME_SUFFIX_MAX - 3 + extension_length);
    const unsigned char *s = (const unsigned char *)source;
    int end = 0;
    if (length > 0)
        while (end < length && s[end] != 0) end++;

    int begin = 0;
    while (begin < end && s[begin] <= 47) begin++;
    while (end > begin && s[end - 1] <= 47) end--;

    int w = 0;
    int characters = 0;
    int i = begin;
    while (i < end && characters < NAME_CHARACTERS_MAX) {
        uint32_t cp = 0;
        int sequence = s[i] >= 0xC2 ? utf8_sequence_length(s, i, end, &cp) : 0;
        if (sequence > 0 && !is_hidden_control(cp)) {
            if (w + sequence > part_max) break;
            for (int k = 0; k < sequence; k++) name[w++] = (char)s[i + k];
            i += sequence;
            characters++;
            continue;
        }
        if (sequence == 0 && is_latin1_letter(s[i])) {
            if (w + 2 > part_max) break;
            // U+00C0..U+00FF: lead byte 0xC3, then the low six bits.
            name[w++] = (char)(0xC0 | (s[i] >> 6));
            name[w++] = (char)(0x80 | (s[i] & 0x3F));
            i++;
            characters++;
            continue;
        }
        // A rejected sequence (or a lone byte) becomes one space.
        int consumed = sequence > 0 ? sequence : 1;
        char c = is_kept_ascii(s[i]) ? (char)s[i] : ' ';
        i += consumed;
        if (c == ' ' && w > 0 && name[w - 1] == ' ') continue;
        if (w + 1 > part_max) break;
        name[w++] = c;
        characters++;
    }

    static const char hex_digits[] = "0123456789abcdef";
    char digits[8];
    int count = 0;
    uint32_t tick = app_state.now_tick;
    do {
        digits[count++] = hex_digits[tick & 15];
        tick >>= 4;
    } while (tick != 0);
    name[w++] = ' ';
    while (count > 0) name[w++] = digits[--count];
    name[w++] = '.';
    for (int k = 0; k < extension_length; k++) name[w++] = extension[k];
    name[w] = 0;
}
