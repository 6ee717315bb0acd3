// win32_text.h - UTF-8 inside the program, UTF-16 in the W calls of Windows.
//
// Every text that crosses the seam on Windows (paths, titles, the folder
// chooser's answer, the tray tip, the clipboard) goes through these.
#pragma once

#include <cstdint>

// Converts NUL-terminated UTF-8 to UTF-16 into out (cap wide characters,
// NUL included).  Returns the characters written without the NUL, or -1 when
// the text is not valid UTF-8 or does not fit (out is then empty).
int win32_utf8_to_wide(const char *text, wchar_t *out, int cap);
// The same for length bytes of UTF-8 (no NUL needed in the input).
int win32_utf8_to_wide_n(const char *text, int length, wchar_t *out, int cap);
// Converts NUL-terminated UTF-16 to UTF-8 into out (cap bytes, NUL
// included).  Returns the bytes written without the NUL, or -1 when it does
// not fit (out is then empty).
int win32_wide_to_utf8(const wchar_t *text, char *out, int cap);
// Converts a path to UTF-16: UTF-8 when it is valid UTF-8, else the bytes
// are read in the system's ANSI code page (a folder written into the list
// by hand or by another tool).  Returns as win32_utf8_to_wide.
int win32_path_to_wide(const char *path, wchar_t *out, int cap);
