// ascii.h - the letter case of ASCII text, for the names the web writes in
// any case: schemes, header names, units, extensions.  Bytes outside A-Z
// stay as they are.
#pragma once

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }
