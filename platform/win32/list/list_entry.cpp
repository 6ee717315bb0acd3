// list_entry.cpp - the Windows entry of quorvax-list.
//
// Windows hands main() its arguments in the ANSI code page, which cannot
// hold most of the world's characters; the tool takes UTF-8.  So the tool
// starts here, at the UTF-16 entry (linked with -municode), and converts
// every argument to UTF-8 before the tool sees it.  Its output goes out as
// the bytes the tool writes: UTF-8 with "\n" line ends, the same bytes as on
// other systems (no "\r\n" turn of the C library's text mode); a console is
// told to show it as UTF-8.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <new>

#include "platform/win32/io/win32_text.h"
#include "tools/list/list_tool.h"

int wmain(int argc, wchar_t **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR ||
        GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR)
        SetConsoleOutputCP(CP_UTF8);

    char **utf8 = new (std::nothrow) char *[(size_t)argc + 1];
    if (!utf8) return EXIT_FILE;
    for (int a = 0; a < argc; a++) {
        // Each UTF-16 unit takes at most three bytes of UTF-8 (a surrogate
        // pair, two units, takes four).
        int cap = 3 * lstrlenW(argv[a]) + 1;
        utf8[a] = new (std::nothrow) char[(size_t)cap];
        if (!utf8[a] || win32_wide_to_utf8(argv[a], utf8[a], cap) < 0) {
            fprintf(stderr, "quorvax-list: argument %d cannot be read\n", a);
            return EXIT_USAGE;
        }
    }
    utf8[argc] = nullptr;
    return list_tool_main(argc, utf8);
}
