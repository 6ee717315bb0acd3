// text_copy.h - bounded copies of text into fixed fields and buffers, and
// the letter case of ASCII names (ascii_lower).
//
// Every copy into a fixed field goes through one of these, under one of two
// rules, chosen by what the text is for:
//   cut    keeps as much as fits and always terminates.  For values whose
//          start is still useful when shortened: page values, request text,
//          the tray's tip.
//   whole  copies all of the text or nothing (0 is returned and the output
//          is left empty, or as it was for an append).  For texts that name
//          something (paths, addresses handed to the desktop): cut short,
//          they would name something else.
// Source and destination may overlap (a value moved within its own buffer).
#pragma once

#include <cstddef>
#include <cstring>

// cut: n bytes from text (NULs included, as a block), at most cap - 1 of
// them, and a NUL.  Returns the bytes kept.
inline size_t copy_bytes_cut(char *out, size_t cap, const char *text, size_t n) {
    if (cap == 0) return 0;
    if (n > cap - 1) n = cap - 1;
    if (n) memmove(out, text, n);
    out[n] = 0;
    return n;
}

// cut: the text up to its NUL, at most cap - 1 bytes of it, and a NUL.
inline size_t copy_text_cut(char *out, size_t cap, const char *text) {
    if (cap == 0) return 0;
    return copy_bytes_cut(out, cap, text, strnlen(text, cap - 1));
}

// whole: the text and its NUL when they fit in cap bytes; else out becomes
// "" and 0 is returned.
inline int copy_text_whole(char *out, size_t cap, const char *text) {
    if (cap == 0) return 0;
    size_t n = strnlen(text, cap);
    if (n >= cap) {
        out[0] = 0;
        return 0;
    }
    memmove(out, text, n + 1);
    return 1;
}

// whole: text appended to the text already in out (cap bytes in all, NUL
// included) when it fits; else out is left as it was and 0 is returned.
inline int append_text_whole(char *out, size_t cap, const char *text) {
    size_t used = strnlen(out, cap);
    if (used >= cap) return 0;
    // A failed copy empties only the part after the text already there.
    return copy_text_whole(out + used, cap - used, text);
}

// The lower case of an ASCII letter, for the names the web writes in any
// case (schemes, header names, units, extensions); other bytes stay as
// they are.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }
