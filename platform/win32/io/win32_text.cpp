// win32_text.cpp - UTF-8 / UTF-16 conversion at the Windows seam.
#include "platform/win32/io/win32_text.h"

#include <windows.h>

int win32_utf8_to_wide_n(const char *text, int length, wchar_t *out, int cap) {
    if (!out || cap <= 0) return -1;
    out[0] = 0;
    if (!text || length < 0) return -1;
    if (length == 0) return 0;
    // MB_ERR_INVALID_CHARS: an invalid sequence fails instead of becoming
    // U+FFFD, so the caller can fall back to the ANSI code page.
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, out, cap - 1);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    out[n] = 0;
    return n;
}

int win32_utf8_to_wide(const char *text, wchar_t *out, int cap) {
    if (!text) return win32_utf8_to_wide_n(text, -1, out, cap);
    return win32_utf8_to_wide_n(text, lstrlenA(text), out, cap);
}

int win32_wide_to_utf8(const wchar_t *text, char *out, int cap) {
    if (!out || cap <= 0) return -1;
    out[0] = 0;
    if (!text) return -1;
    int length = lstrlenW(text);
    if (length == 0) return 0;
    int n = WideCharToMultiByte(CP_UTF8, 0, text, length, out, cap - 1, nullptr, nullptr);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    out[n] = 0;
    return n;
}

int win32_path_to_wide(const char *path, wchar_t *out, int cap) {
    int n = win32_utf8_to_wide(path, out, cap);
    if (n >= 0 || !path || !out || cap <= 0) return n;
    int length = lstrlenA(path);
    n = MultiByteToWideChar(CP_ACP, 0, path, length, out, cap - 1);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    out[n] = 0;
    return n;
}
