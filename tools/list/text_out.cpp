// text_out.cpp - little-endian fields and the escaping of stored texts.
//
// Stored texts are 8-bit and come from web pages and the clipboard, so they
// may hold anything; JSON output must still parse and the plain listing must
// not send control characters to the terminal.
#include "tools/list/list_tool.h"

#include <cstring>

uint32_t get_le32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void put_le32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static bool continuation(uint8_t c) { return (c & 0xC0) == 0x80; }

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above
// U+10FFFF.
int utf8_sequence_length(const uint8_t *s, size_t n) {
    if (n == 0) return 0;
    uint8_t c = s[0];
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return n >= 2 && continuation(s[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 3 || !continuation(s[1]) || !continuation(s[2])) return 0;
        if (c == 0xE0 && s[1] < 0xA0) return 0;  // overlong
        if (c == 0xED && s[1] > 0x9F) return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 4 || !continuation(s[1]) || !continuation(s[2]) || !continuation(s[3])) return 0;
        if (c == 0xF0 && s[1] < 0x90) return 0;  // overlong
        if (c == 0xF4 && s[1] > 0x8F) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

void print_json_string(FILE *out, const char *s, size_t len) {
    const uint8_t *p = (const uint8_t *)s;
    len = strnlen(s, len);
    fputc('"', out);
    size_t i = 0;
    while (i < len) {
        uint8_t c = p[i];
        if (c == '"' || c == '\\') {
            fputc('\\', out);
            fputc(c, out);
            i++;
        } else if (c == '\n') {
            fputs("\\n", out);
            i++;
        } else if (c == '\r') {
            fputs("\\r", out);
            i++;
        } else if (c == '\t') {
            fputs("\\t", out);
            i++;
        } else if (c < 0x20 || c == 0x7F) {
            fprintf(out, "\\u%04x", c);
            i++;
        } else {
            int n = utf8_sequence_length(p + i, len - i);
            if (n == 0) {
                fprintf(out, "\\u%04x", c);  // a stray byte, shown as its Latin-1 character
                i++;
            } else {
                fwrite(p + i, 1, (size_t)n, out);
                i += (size_t)n;
            }
        }
    }
    fputc('"', out);
}

void print_plain_text(FILE *out, const char *s, size_t len) {
    const uint8_t *p = (const uint8_t *)s;
    len = strnlen(s, len);
    size_t i = 0;
    while (i < len) {
        uint8_t c = p[i];
        int n = (c < 0x20 || c == 0x7F) ? 0 : utf8_sequence_length(p + i, len - i);
        if (n == 0) {
            fprintf(out, "\\x%02x", c);
            i++;
        } else {
            fwrite(p + i, 1, (size_t)n, out);
            i += (size_t)n;
        }
    }
}
