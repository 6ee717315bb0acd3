// win32_desktop.cpp - what the program asks of the Windows shell around its
// window: the clipboard, opening files and addresses, showing a file in
// Explorer, the folder chooser and the notification-area icon.
//
// Texts are UTF-8 at the seam and UTF-16 in the W calls here.
//
// Sections: [CLIPBOARD] [SHELL] [FOLDER CHOOSER] [TRAY]
#include "platform/win32/win32_backend.h"
#include "platform/win32/io/win32_text.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

namespace {

// Clipboard text handed out is bounded: page addresses are short, and a
// huge clipboard must not be copied around every 50 ms poll.
const size_t CLIPBOARD_TEXT_MAX_UNITS = 256 * 1024;

// The notification-area icon of the window: one per window, this number.
const UINT TRAY_ICON_ID = 21826;
// The tip holds 63 characters and a NUL.
const int TRAY_TIP_MAX = 63;

const UINT BROWSE_FLAGS = 0x51;   // file-system folders only, edit box, new style

struct TrayEntry {
    HWND window;
    bool wanted;   // added and not deleted since (the shell may have lost it)
};

struct DesktopState {
    bool clipboard_open = false;
    std::vector<char> clipboard_text;   // valid until plat_clipboard_close
    std::vector<TrayEntry> trays;
};

DesktopState d;

}  // namespace

// ------------------------------------------------------------ [CLIPBOARD]

int plat_clipboard_has_text(void) {
    return IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT) ? 1 : 0;
}

int plat_clipboard_open(plat_window window) {
    d.clipboard_open = OpenClipboard(win32_hwnd(window)) != 0;
    return d.clipboard_open ? 1 : 0;
}

// Password managers and other programs that copy secrets add one of these
// registered formats beside the text to ask clipboard watchers to leave it
// alone; such text is never read.
static bool clipboard_marked_secret(void) {
    static const wchar_t *const markers[] = {L"ExcludeClipboardContentFromMonitorProcessing",
                                             L"Clipboard Viewer Ignore"};
    for (const wchar_t *marker : markers) {
        UINT format = RegisterClipboardFormatW(marker);
        if (format && IsClipboardFormatAvailable(format)) return true;
    }
    return false;
}

// Copies UTF-16 units into d.clipboard_text as UTF-8, cut between
// characters at CLIPBOARD_TEXT_MAX_UNITS.
static bool keep_clipboard_text(const wchar_t *text, size_t units) {
    if (units > CLIPBOARD_TEXT_MAX_UNITS) {
        units = CLIPBOARD_TEXT_MAX_UNITS;
        if (text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) units--;   // half a pair
    }
    if (units == 0) {
        d.clipboard_text.assign(1, 0);
        return true;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, (int)units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    d.clipboard_text.assign((size_t)bytes + 1, 0);
    return WideCharToMultiByte(CP_UTF8, 0, text, (int)units, d.clipboard_text.data(), bytes, nullptr, nullptr) ==
           bytes;
}

// Clipboard memory belongs to whichever program copied: the text ends at
// its first NUL or at the end of its block, whichever comes first.  Windows
// offers CF_UNICODETEXT for any text copied as CF_TEXT too; the 8-bit form
// is read (in the ANSI code page) only where it does not.
const char *plat_clipboard_text(void) {
    if (!d.clipboard_open || clipboard_marked_secret()) return nullptr;
    const bool wide = IsClipboardFormatAvailable(CF_UNICODETEXT) != 0;
    HANDLE data = GetClipboardData(wide ? CF_UNICODETEXT : CF_TEXT);
    if (!data) return nullptr;
    const SIZE_T block = GlobalSize(data);
    const void *locked = GlobalLock(data);
    if (!locked) return nullptr;
    bool ok;
    if (wide) {
        const wchar_t *text = (const wchar_t *)locked;
        const size_t cap = block / sizeof(wchar_t);
        size_t units = 0;
        while (units < cap && text[units]) units++;
        ok = keep_clipboard_text(text, units);
    } else {
        const char *text = (const char *)locked;
        size_t bytes = 0;
        while (bytes < block && bytes < CLIPBOARD_TEXT_MAX_UNITS && text[bytes]) bytes++;
        std::vector<wchar_t> converted(bytes + 1, 0);
        int units = bytes ? MultiByteToWideChar(CP_ACP, 0, text, (int)bytes, converted.data(), (int)bytes) : 0;
        ok = units >= 0 && keep_clipboard_text(converted.data(), (size_t)units);
    }
    GlobalUnlock(data);
    return ok ? d.clipboard_text.data() : nullptr;
}

void plat_clipboard_empty(void) {
    if (d.clipboard_open) EmptyClipboard();
}

void plat_clipboard_close(void) {
    if (d.clipboard_open) CloseClipboard();
    d.clipboard_open = false;
    d.clipboard_text.clear();
}

// ---------------------------------------------------------------- [SHELL]

// Drive-letter paths (C:\ or C:/) and network paths (\\server\share).
static bool absolute_wide_path(const wchar_t *path) {
    if (((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
        (path[2] == L'\\' || path[2] == L'/'))
        return true;
    return path[0] == L'\\' && path[1] == L'\\';
}

// The absolute form of a UTF-8 (or, failing that, ANSI) path as UTF-16.
static bool full_wide_path(const char *path, wchar_t *out, DWORD cap) {
    wchar_t wide[MAX_PATH * 2];
    if (win32_path_to_wide(path, wide, MAX_PATH * 2) <= 0) return false;
    DWORD n = GetFullPathNameW(wide, cap, out, nullptr);
    return n > 0 && n < cap;
}

// One command-line argument as the C runtime and CommandLineToArgvW read
// it back: quoted when it holds a blank or a quote, with the backslashes
// before a quote (and before the closing quote) doubled.
static std::vector<wchar_t> quoted_argument(const wchar_t *arg) {
    std::vector<wchar_t> out;
    if (*arg && !wcspbrk(arg, L" \t\n\v\"")) {
        out.assign(arg, arg + wcslen(arg));
        out.push_back(0);
        return out;
    }
    out.push_back(L'"');
    for (const wchar_t *p = arg;; p++) {
        size_t slashes = 0;
        while (*p == L'\\') {
            p++;
            slashes++;
        }
        if (!*p) {
            out.insert(out.end(), slashes * 2, L'\\');
            break;
        }
        if (*p == L'"') {
            out.insert(out.end(), slashes * 2 + 1, L'\\');
        } else {
            out.insert(out.end(), slashes, L'\\');
        }
        out.push_back(*p);
    }
    out.push_back(L'"');
    out.push_back(0);
    return out;
}

// A web address is handed over only with an http or https scheme and a
// host: another scheme could start another handler.
static bool web_address(const char *text) {
    const char *rest = nullptr;
    if (_strnicmp(text, "http://", 7) == 0) rest = text + 7;
    else if (_strnicmp(text, "https://", 8) == 0) rest = text + 8;
    return rest && *rest && *rest != '/' && *rest != '?' && *rest != '#';
}

// Nothing passes through a command interpreter: ShellExecute hands a file
// or address to its registered handler, and a program gets its parameters
// as one quoted argument.  A program is run only by its full path, so the
// search path cannot choose which one runs.
void plat_shell_open(const char *target, const char *params) {
    if (!target || !*target) return;
    if (params && *params) {
        wchar_t program[MAX_PATH * 2], param[2048];
        if (win32_path_to_wide(target, program, MAX_PATH * 2) <= 0 || !absolute_wide_path(program)) return;
        if (win32_utf8_to_wide(params, param, 2048) <= 0) return;
        std::vector<wchar_t> argument = quoted_argument(param);
        ShellExecuteW(nullptr, L"open", program, argument.data(), nullptr, SW_SHOWNORMAL);
        return;
    }
    if (strstr(target, "://")) {
        wchar_t address[4096];
        if (!web_address(target) || win32_utf8_to_wide(target, address, 4096) <= 0) return;
        ShellExecuteW(nullptr, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    wchar_t path[MAX_PATH * 2];
    if (!full_wide_path(target, path, MAX_PATH * 2)) return;
    ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

// Explorer is run from the Windows folder, never found through the search
// path, with one parameter: the prefix ("/select,\"" selects the file),
// the file's absolute path and the quote the prefix opened.  A program
// name with a folder in it, or a path holding a quote (which no Windows
// file name has), is refused rather than built into the command line.
void plat_show_in_folder(const char *program, const char *param_prefix, const char *path) {
    if (!program || !*program || !path || !*path) return;
    if (strpbrk(program, "\\/:") || strchr(path, '"')) return;
    wchar_t exe[MAX_PATH * 2], name[MAX_PATH];
    UINT n = GetWindowsDirectoryW(exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || win32_utf8_to_wide(program, name, MAX_PATH) <= 0) return;
    if (exe[n - 1] != L'\\') exe[n++] = L'\\';
    exe[n] = 0;
    wcscat(exe, name);

    wchar_t prefix[64], file[MAX_PATH * 2];
    if (win32_utf8_to_wide(param_prefix ? param_prefix : "", prefix, 64) < 0) return;
    if (!full_wide_path(path, file, MAX_PATH * 2)) return;
    int quotes = 0;
    for (const wchar_t *p = prefix; *p; p++) quotes += *p == L'"';
    std::vector<wchar_t> param(prefix, prefix + wcslen(prefix));
    param.insert(param.end(), file, file + wcslen(file));
    if (quotes % 2) param.push_back(L'"');
    param.push_back(0);
    ShellExecuteW(nullptr, L"open", exe, param.data(), nullptr, SW_SHOWNORMAL);
}

// ------------------------------------------------------- [FOLDER CHOOSER]

// Opens the chooser on the folder it was given (the callback parameter).
static int CALLBACK browse_callback(HWND dialog, UINT message, LPARAM lparam, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

static bool existing_folder(const wchar_t *path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The chooser runs its own modal loop; the window's timer messages are
// dispatched to its procedure from there by Windows itself.  Its new style
// needs COM on the thread, which plat_init starts.
int plat_choose_folder(plat_window owner, const char *title, const char *start_folder, char *out, int cap) {
    if (!out || cap <= 0) return 0;
    out[0] = 0;
    wchar_t caption[256], start[MAX_PATH * 2];
    if (win32_utf8_to_wide(title ? title : "", caption, 256) < 0) caption[0] = 0;
    if (!start_folder || win32_path_to_wide(start_folder, start, MAX_PATH * 2) <= 0 || !existing_folder(start)) {
        start[0] = 0;
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, start))) start[0] = 0;
    }

    BROWSEINFOW info;
    memset(&info, 0, sizeof info);
    info.hwndOwner = win32_hwnd(owner);
    info.lpszTitle = caption;
    info.ulFlags = BROWSE_FLAGS;
    info.lpfn = browse_callback;
    info.lParam = start[0] ? (LPARAM)start : 0;
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    if (!item) return 0;
    wchar_t chosen[MAX_PATH];
    chosen[0] = 0;
    const BOOL converted = SHGetPathFromIDListW(item, chosen);
    CoTaskMemFree(item);
    // A path that does not fit is refused rather than cut: a cut path names
    // another folder, and downloads would go there.
    if (!converted || !chosen[0]) return 0;
    return win32_wide_to_utf8(chosen, out, cap) > 0 ? 1 : 0;
}

// ----------------------------------------------------------------- [TRAY]

// The tip as UTF-16, at most TRAY_TIP_MAX units, cut between characters.
// Text that is not UTF-8 is read in the ANSI code page, as a path is.
static void tray_tip(const char *tip, wchar_t *out) {
    out[0] = 0;
    if (!tip || !*tip) return;
    // A UTF-8 or ANSI text never needs more UTF-16 units than it has bytes.
    std::vector<wchar_t> wide((size_t)lstrlenA(tip) + 1, 0);
    int n = win32_path_to_wide(tip, wide.data(), (int)wide.size());
    if (n <= 0) return;
    if (n > TRAY_TIP_MAX) {
        n = TRAY_TIP_MAX;
        if (wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) n--;   // half a pair
    }
    memcpy(out, wide.data(), (size_t)n * sizeof(wchar_t));
    out[n] = 0;
}

static TrayEntry *tray_entry(HWND window) {
    for (TrayEntry &t : d.trays)
        if (t.window == window) return &t;
    d.trays.push_back(TrayEntry{window, false});
    return &d.trays.back();
}

// The record's size is the Windows 2000 form (a 128-character tip field and
// no GUID), which every later system accepts as well; the tip itself is
// kept to 63 characters as the program's own record allows.  A modify that
// the shell refuses while the icon should be there (no notification area
// when the icon was added, or Explorer restarted since) adds it anew.
int plat_tray(PlatTrayCommand command, plat_window window, plat_icon icon, const char *tip,
              uint32_t callback_message) {
    HWND hwnd = win32_hwnd(window);
    // The shell knows the icon by window handle and number, so a delete
    // goes out even for a window already gone.
    if (!hwnd || (command != PLAT_TRAY_DELETE && !IsWindow(hwnd))) return 0;
    NOTIFYICONDATAW data;
    memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAW_V2_SIZE;
    data.hWnd = hwnd;
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callback_message;
    data.hIcon = (HICON)(uintptr_t)icon;
    if (!data.hIcon)
        data.hIcon = (HICON)LoadImageW(GetModuleHandleW(nullptr), L"iCOO2", IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    tray_tip(tip, data.szTip);

    TrayEntry *t = tray_entry(hwnd);
    switch (command) {
    case PLAT_TRAY_ADD:
        t->wanted = true;
        return Shell_NotifyIconW(NIM_ADD, &data) ? 1 : 0;
    case PLAT_TRAY_MODIFY:
        if (Shell_NotifyIconW(NIM_MODIFY, &data)) return 1;
        return t->wanted && Shell_NotifyIconW(NIM_ADD, &data) ? 1 : 0;
    case PLAT_TRAY_DELETE:
        t->wanted = false;
        return Shell_NotifyIconW(NIM_DELETE, &data) ? 1 : 0;
    }
    return 0;
}
