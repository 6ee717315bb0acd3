// win32_files.cpp - files, paths and the clock on Windows.
//
// Paths arrive as UTF-8 (or, for a folder written into the list by another
// tool, in the ANSI code page) and go to the W calls as UTF-16.  A path too
// long for the classic 260-character limit is made absolute and given the
// "\\?\" prefix, which lifts that limit on the systems that honour it.
//
// Read/write opens share reads only: while we hold a file for writing, any
// other open for writing fails, in this process or another, and readers
// still get in.  Plain reads share everything, so they also work on a file
// someone else holds for writing.
//
// Sections: [HANDLES] [PATHS] [FILES] [FOLDERS] [CLOCK]
#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/io/win32_text.h"

// ---------------------------------------------------------------- [HANDLES]

// plat_file carries the HANDLE itself: on 32-bit Windows a handle is 32 bits
// wide, and INVALID_HANDLE_VALUE is 0xFFFFFFFF, the same as
// PLAT_INVALID_FILE.  A valid file handle is never 0.
static_assert(sizeof(void *) == 4, "the Windows backend is built for 32-bit Windows only");
static_assert(sizeof(HANDLE) == sizeof(plat_file), "a file handle fits the 32-bit plat_file");

static HANDLE handle_of(plat_file file) { return (HANDLE)(uintptr_t)file; }
static plat_file file_of(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE || !handle ? PLAT_INVALID_FILE : (plat_file)(uintptr_t)handle;
}
static bool valid_file(plat_file file) { return file != PLAT_INVALID_FILE && file != 0; }

// ------------------------------------------------------------------ [PATHS]

// Room for any path the program builds (its longest is 4096 bytes of UTF-8,
// never more UTF-16 units than that) plus the long-path prefix.  A longer
// path is refused rather than cut.
static const int WIDE_PATH_CAP = 4096 + 8;
// CreateDirectoryW refuses paths of MAX_PATH - 12 characters and more
// without the prefix (room for an 8.3 name); files take MAX_PATH - 1.  The
// smaller bound serves both.
static const int PREFIX_FROM = MAX_PATH - 12;

// The path for a W call: the text in UTF-16, with the "\\?\" prefix when it
// is long.  A prefixed path is taken literally by the system (no "/" to "\"
// turn, no "." or ".." resolution), so it is made absolute first.  1 on
// success.
static int wide_path(const char *path, wchar_t *out, int cap) {
    out[0] = 0;
    wchar_t given[WIDE_PATH_CAP];
    int n = win32_path_to_wide(path, given, WIDE_PATH_CAP);
    if (n <= 0) return 0;
    if (n < PREFIX_FROM || wcsncmp(given, L"\\\\?\\", 4) == 0) {
        if (n >= cap) return 0;
        memcpy(out, given, (size_t)(n + 1) * sizeof(wchar_t));
        return 1;
    }
    wchar_t full[WIDE_PATH_CAP];
    DWORD length = GetFullPathNameW(given, WIDE_PATH_CAP, full, nullptr);
    if (length == 0 || length >= (DWORD)WIDE_PATH_CAP) return 0;
    // "\\server\share\..." becomes "\\?\UNC\server\share\..."; a device
    // path ("\\.\") is left as it is.
    const wchar_t *prefix = L"\\\\?\\";
    const wchar_t *rest = full;
    if (wcsncmp(full, L"\\\\.\\", 4) == 0) {
        prefix = L"";
    } else if (wcsncmp(full, L"\\\\", 2) == 0) {
        prefix = L"\\\\?\\UNC\\";
        rest = full + 2;
    }
    size_t prefix_length = wcslen(prefix), rest_length = wcslen(rest);
    if (prefix_length + rest_length + 1 > (size_t)cap) return 0;
    memcpy(out, prefix, prefix_length * sizeof(wchar_t));
    memcpy(out + prefix_length, rest, (rest_length + 1) * sizeof(wchar_t));
    return 1;
}

// The absolute form comes from GetFullPathNameW, which drops "." segments and
// doubled separators, turns "/" into "\" and also resolves "..": Windows
// resolves ".." in the text of every path it opens, so the resolved form
// names the very file an open of the written form reaches.
int plat_full_path(const char *path, char *out, int cap) {
    if (!out || cap <= 0) return 0;
    out[0] = 0;
    if (!path || !*path) return 0;
    wchar_t given[WIDE_PATH_CAP];
    if (win32_path_to_wide(path, given, WIDE_PATH_CAP) <= 0) return 0;
    wchar_t full[WIDE_PATH_CAP];
    DWORD length = GetFullPathNameW(given, WIDE_PATH_CAP, full, nullptr);
    if (length == 0 || length >= (DWORD)WIDE_PATH_CAP) return 0;
    if (win32_wide_to_utf8(full, out, cap) < 0) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

char plat_path_separator(void) { return '\\'; }

// ------------------------------------------------------------------ [FILES]

static plat_file open_file(const char *path, DWORD access, DWORD share, DWORD disposition) {
    if (!path) return PLAT_INVALID_FILE;
    wchar_t wide[WIDE_PATH_CAP];
    if (!wide_path(path, wide, WIDE_PATH_CAP)) return PLAT_INVALID_FILE;
    return file_of(CreateFileW(wide, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

plat_file plat_open_existing_rw(const char *path) {
    return open_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
}

plat_file plat_create_new_rw(const char *path) {
    return open_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
}

// Sharing writes too: a reader must get in while the program holds the file
// for writing (the list tool's show, a resumed output file's check).
plat_file plat_open_read(const char *path) {
    return open_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     OPEN_EXISTING);
}

// INVALID_FILE_ATTRIBUTES when nothing is there (or the path cannot be had).
static DWORD attributes_of(const char *path) {
    if (!path) return INVALID_FILE_ATTRIBUTES;
    wchar_t wide[WIDE_PATH_CAP];
    if (!wide_path(path, wide, WIDE_PATH_CAP)) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(wide);
}

int plat_file_exists(const char *path) {
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t plat_read(plat_file file, void *buffer, uint32_t count) {
    if (!valid_file(file)) return 0;
    uint32_t done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(handle_of(file), (char *)buffer + done, count - done, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

uint32_t plat_write(plat_file file, const void *buffer, uint32_t count) {
    if (!valid_file(file)) return 0;
    uint32_t done = 0;
    while (done < count) {
        DWORD put = 0;
        if (!WriteFile(handle_of(file), (const char *)buffer + done, count - done, &put, nullptr) ||
            put == 0)
            break;
        done += put;
    }
    return done;
}

// An OVERLAPPED offset on a handle opened for synchronous use makes one
// WriteFile a positioned write: the call returns when the bytes are written,
// and the position ends after them.
uint32_t plat_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    if (!valid_file(file) || offset < 0) return 0;
    uint32_t done = 0;
    while (done < count) {
        uint64_t at = (uint64_t)offset + done;
        OVERLAPPED where;
        memset(&where, 0, sizeof where);
        where.Offset = (DWORD)at;
        where.OffsetHigh = (DWORD)(at >> 32);
        DWORD put = 0;
        if (!WriteFile(handle_of(file), (const char *)buffer + done, count - done, &put, &where) ||
            put == 0)
            break;
        done += put;
    }
    return done;
}

int plat_seek(plat_file file, int64_t offset) {
    if (!valid_file(file) || offset < 0) return 0;
    LARGE_INTEGER to, now;
    to.QuadPart = offset;
    return SetFilePointerEx(handle_of(file), to, &now, FILE_BEGIN) && now.QuadPart == offset;
}

int64_t plat_file_size(plat_file file) {
    LARGE_INTEGER size;
    if (!valid_file(file) || !GetFileSizeEx(handle_of(file), &size)) return -1;
    return size.QuadPart;
}

// SetEndOfFile cuts or extends at the position, so the position moves there
// for the call and goes back afterwards: like ftruncate, a truncate leaves
// the position where it was.
int plat_truncate(plat_file file, int64_t length) {
    if (!valid_file(file) || length < 0) return 0;
    HANDLE handle = handle_of(file);
    LARGE_INTEGER zero, was, to;
    zero.QuadPart = 0;
    to.QuadPart = length;
    if (!SetFilePointerEx(handle, zero, &was, FILE_CURRENT)) return 0;
    if (!SetFilePointerEx(handle, to, nullptr, FILE_BEGIN)) return 0;
    int ok = SetEndOfFile(handle) != 0;
    SetFilePointerEx(handle, was, nullptr, FILE_BEGIN);
    return ok;
}

int plat_flush(plat_file file) {
    if (!valid_file(file)) return 0;
    return FlushFileBuffers(handle_of(file)) != 0;
}

void plat_close(plat_file file) {
    if (valid_file(file)) CloseHandle(handle_of(file));
}

// ---------------------------------------------------------------- [FOLDERS]

int plat_create_directory(const char *path) {
    if (!path) return 0;
    wchar_t wide[WIDE_PATH_CAP];
    if (!wide_path(path, wide, WIDE_PATH_CAP)) return 0;
    return CreateDirectoryW(wide, nullptr) != 0;
}

int plat_directory_exists(const char *path) {
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ------------------------------------------------------------------ [CLOCK]

// Milliseconds since the system started, wrapping after 49.7 days; every
// use takes differences, so the wrap does no harm.
uint32_t plat_tick(void) { return GetTickCount(); }
