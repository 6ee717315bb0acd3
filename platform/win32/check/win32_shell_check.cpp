// Checks of the Windows backend's desktop side, run under Wine (or
// Windows) with the program's own resources linked in: the skin and icons
// read back from the executable, the clipboard as other programs fill it,
// a program started with one argument, and a second process asking this
// one to show itself.
//
// The executable also plays the other process: started with --signal KEY
// it asks the listener and exits with the answer; started with
// QUORVAX_CHECK_ECHO set it writes its first argument to that file; with
// --clipboard FILE it writes what it reads from the clipboard there
// (tests/win32/test_win32_shell.sh fills the clipboard from X).
//
// A plain program (the cross compiler's thread model has no std::mutex for
// GoogleTest): each check prints its failures and the exit status counts
// the checks that failed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/skin_codec.h"
#include "platform/platform.h"
#include "resources/resources.h"
#include "tools/skin/png_read.h"

namespace {

int failures_in_check = 0;

void fail(const char *file, int line, const std::string &what) {
    std::printf("%s:%d: %s\n", file, line, what.c_str());
    failures_in_check++;
}

std::string shown(const std::string &v) { return "\"" + v + "\""; }
std::string shown(long long v) { return std::to_string(v); }

}  // namespace

#define CHECK(c) ((c) ? (void)0 : fail(__FILE__, __LINE__, #c))
// Numbers and texts, shown when they differ.
#define CHECK_EQ(a, b)                                                                   \
    do {                                                                                 \
        auto a_ = (a);                                                                   \
        if (!(a_ == (b))) fail(__FILE__, __LINE__, #a " == " #b ", got " + shown(a_)); \
    } while (0)
// Stops the check at a failure that makes the rest meaningless.
#define REQUIRE(c)                                     \
    do {                                               \
        if (!(c)) {                                    \
            fail(__FILE__, __LINE__, "required: " #c); \
            return;                                    \
        }                                              \
    } while (0)

namespace {

// Source files as Wine sees them: / is drive Z:.
std::string source_file(const char *relative) {
    std::string path = QUORVAX_SOURCE_DIR;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return path + "/" + relative;
}

std::vector<uint32_t> picture(const char *relative, int *w, int *h) {
    std::vector<uint32_t> pixels;
    if (!png_read_file(source_file(relative).c_str(), &pixels, w, h)) pixels.clear();
    return pixels;
}

HWND make_window(void) {
    return CreateWindowExW(0, L"STATIC", L"check", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

plat_window handle_of(HWND hwnd) { return (plat_window)(uintptr_t)hwnd; }

// Another program on the display may hold the clipboard open for a moment
// (a running Quorvax polls it): opening is tried for a while.
bool open_clipboard(HWND owner) {
    for (int i = 0; i < 50; i++) {
        if (OpenClipboard(owner)) return true;
        Sleep(10);
    }
    return false;
}

// Puts data under format on the clipboard, optionally with a second,
// registered format beside it.
bool put_clipboard(HWND owner, UINT format, const void *bytes, size_t size, const wchar_t *extra = nullptr) {
    if (!open_clipboard(owner)) return false;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    bool ok = block != nullptr;
    if (ok) {
        memcpy(GlobalLock(block), bytes, size);
        GlobalUnlock(block);
        ok = SetClipboardData(format, block) != nullptr;
    }
    if (extra) {
        HGLOBAL marker = GlobalAlloc(GMEM_MOVEABLE, 4);
        memset(GlobalLock(marker), 0, 4);
        GlobalUnlock(marker);
        ok = SetClipboardData(RegisterClipboardFormatW(extra), marker) != nullptr && ok;
    }
    CloseClipboard();
    return ok;
}

std::string read_clipboard(HWND window) {
    std::string text = "<null>";
    int opened = 0;
    for (int i = 0; i < 50 && !opened; i++) {
        opened = plat_clipboard_open(handle_of(window));
        if (!opened) {
            plat_clipboard_close();
            Sleep(10);
        }
    }
    if (!opened) return "<not opened>";
    const char *got = plat_clipboard_text();
    if (got) text = got;
    plat_clipboard_close();
    return text;
}

// Starts a command line; the process, or null.
HANDLE start_process(const std::wstring &command_line) {
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD exit_code_of(HANDLE process) {
    DWORD code = 998;
    if (!process) return 999;
    WaitForSingleObject(process, 10000);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// Runs a command line, taking this thread's messages meanwhile and
// counting those of one kind for one window; the exit code.
DWORD run_while_pumping(const std::wstring &command_line, HWND window, UINT watch, int *seen) {
    HANDLE process = start_process(command_line);
    const DWORD start = GetTickCount();
    while (process && GetTickCount() - start < 10000 &&
           MsgWaitForMultipleObjects(1, &process, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window && msg.message == watch) ++*seen;
            DispatchMessageW(&msg);
        }
    }
    return exit_code_of(process);
}

// Listening windows of this process (a running Quorvax on the same
// display has its own).
int own_helpers(void) {
    int count = 0;
    HWND helper = nullptr;
    while ((helper = FindWindowExW(HWND_MESSAGE, helper, L"QuorvaxInstance", nullptr))) {
        DWORD pid = 0;
        GetWindowThreadProcessId(helper, &pid);
        count += pid == GetCurrentProcessId();
    }
    return count;
}

std::wstring self_path(void) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

void skin_and_icons_come_back_from_the_executable_as_the_committed_pictures(void) {
    // The skin: run words in the program's resource, decoded here to the
    // picture they were made from (bottom row first).
    uint32_t size = 0;
    const uint8_t *skin = find_skin_resource(&size);
    REQUIRE(skin != nullptr);
    int w = 0, h = 0;
    std::vector<uint32_t> want = picture("resources/skin.png", &w, &h);
    REQUIRE(!want.empty());
    const SkinCodec codec = skin_codec();
    std::vector<uint32_t> decoded;
    uint32_t key = codec.key_start;
    for (uint32_t i = 0; i + 4 <= size; i += 4) {
        uint32_t word;
        memcpy(&word, skin + i, 4);
        const uint32_t repeat = ((word >> codec.shift) ^ key) & codec.mask;
        decoded.insert(decoded.end(), repeat + 1, word & 0x00FFFFFFu);
        key += 3;
    }
    CHECK_EQ(size % 4, 0);
    REQUIRE(decoded.size() == want.size());
    int mismatches = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            mismatches += decoded[(size_t)(h - 1 - y) * w + x] != (want[(size_t)y * w + x] & 0x00FFFFFFu);
    CHECK_EQ(mismatches, 0);

    // The icons: top-down pixels with their alpha, as the pictures have them.
    const char *names[] = {"iCOO1", "iCOO2"};
    const char *files[] = {"resources/icon_window.png", "resources/icon_tray.png"};
    for (int i = 0; i < 2; i++) {
        int iw = 0, ih = 0, pw = 0, ph = 0;
        const uint32_t *pixels = find_icon_resource(names[i], &iw, &ih);
        std::vector<uint32_t> png = picture(files[i], &pw, &ph);
        REQUIRE(pixels != nullptr);
        REQUIRE(iw == pw);
        REQUIRE(ih == ph);
        mismatches = 0;
        for (size_t p = 0; p < png.size(); p++) mismatches += pixels[p] != png[p];
        CHECK_EQ(mismatches, 0);
        CHECK(find_icon_resource(names[i], &iw, &ih) == pixels);
    }
    int iw = 7, ih = 7;
    CHECK(!find_icon_resource("iCOO3", &iw, &ih));
    CHECK_EQ(iw, 0);
    CHECK_EQ(ih, 0);
}

void clipboard_text_is_utf8_within_its_block_secrets_skipped_emptying_ends_it(void) {
    HWND window = make_window();
    REQUIRE(window != nullptr);

    // Wide text with letters outside Latin-1 and a character beyond the
    // basic plane, NUL-terminated as usual.
    const wchar_t wide[] = L"http://x.test/Gr\u00FC\u00DFe-\u2603-\U0001D11E";
    REQUIRE(put_clipboard(window, CF_UNICODETEXT, wide, sizeof wide));
    CHECK_EQ(plat_clipboard_has_text(), 1);
    CHECK_EQ(read_clipboard(window), "http://x.test/Gr\xC3\xBC\xC3\x9F" "e-\xE2\x98\x83-\xF0\x9D\x84\x9E");

    // A block without a NUL: the text ends with the block.  (Wine makes
    // the last unit of such a block a NUL; Windows hands it over as it is.)
    const wchar_t unterminated[] = {L'a', L'b', L'c', L'd'};
    REQUIRE(put_clipboard(window, CF_UNICODETEXT, unterminated, sizeof unterminated));
    std::string got = read_clipboard(window);
    CHECK(got == "abcd" || got == "abc");

    // 8-bit text in the ANSI code page (1252 here: 0xE9 is e acute).
    if (GetACP() == 1252) {
        const char ansi[] = "caf\xE9";
        CHECK(put_clipboard(window, CF_TEXT, ansi, sizeof ansi));
        CHECK_EQ(read_clipboard(window), "caf\xC3\xA9");
    } else {
        std::printf("(ANSI code page %u: the 8-bit text is not checked)\n", GetACP());
    }

    // Text copied with either marker of a secret is never handed out.
    for (const wchar_t *marker : {L"ExcludeClipboardContentFromMonitorProcessing", L"Clipboard Viewer Ignore"}) {
        CHECK(put_clipboard(window, CF_UNICODETEXT, wide, sizeof wide, marker));
        CHECK_EQ(read_clipboard(window), "<null>");
    }

    // Emptying ends the offer.
    REQUIRE(put_clipboard(window, CF_UNICODETEXT, wide, sizeof wide));
    REQUIRE(open_clipboard(window));
    CloseClipboard();
    for (int i = 0; i < 50 && !plat_clipboard_open(handle_of(window)); i++) {
        plat_clipboard_close();
        Sleep(10);
    }
    plat_clipboard_empty();
    plat_clipboard_close();
    CHECK_EQ(plat_clipboard_has_text(), 0);
    CHECK(!plat_clipboard_text());
    DestroyWindow(window);
}

void a_program_gets_its_parameter_as_one_argument_and_only_by_absolute_path(void) {
    wchar_t temp[MAX_PATH];
    REQUIRE(GetTempPathW(MAX_PATH, temp) > 0);
    const std::wstring out = std::wstring(temp) + L"quorvax-echo.txt";
    DeleteFileW(out.c_str());
    SetEnvironmentVariableW(L"QUORVAX_CHECK_ECHO", out.c_str());
    char program[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, self_path().c_str(), -1, program, sizeof program, nullptr, nullptr);

    // Blanks, quotes and trailing backslashes all survive as one argument.
    const char *param = "a b \"c\" d\\\\\" e\\ \xC3\xA9\\";
    plat_shell_open(program, param);
    std::string echoed;
    for (int i = 0; i < 100 && echoed.empty(); i++) {
        Sleep(100);
        FILE *f = _wfopen(out.c_str(), L"rb");
        if (!f) continue;
        char buffer[512];
        size_t n = fread(buffer, 1, sizeof buffer, f);
        fclose(f);
        echoed.assign(buffer, n);
    }
    CHECK_EQ(echoed, param);

    // A relative program name is not looked for anywhere.
    DeleteFileW(out.c_str());
    const char *name = strrchr(program, '\\');
    REQUIRE(name != nullptr);
    plat_shell_open(name + 1, "x");
    Sleep(1500);
    CHECK_EQ(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES);
    SetEnvironmentVariableW(L"QUORVAX_CHECK_ECHO", nullptr);
}

void a_second_process_reaches_the_listener_until_its_window_goes(void) {
    HWND window = make_window();
    REQUIRE(window != nullptr);
    const UINT message = 9030;
    const char *key = "C:\\users\\someone\\Quorvax\\list.o";
    const std::wstring signal = L"\"" + self_path() + L"\" --signal ";

    CHECK_EQ(plat_signal_running_instance(key), 0);
    REQUIRE(plat_listen_for_instances(handle_of(window), key, message) == 1);

    int seen = 0;
    CHECK_EQ(run_while_pumping(signal + L"\"C:\\users\\someone\\Quorvax\\list.o\"", window, message, &seen), 1u);
    MSG msg;
    while (PeekMessageW(&msg, window, message, message, PM_REMOVE)) seen++;
    CHECK_EQ(seen, 1);

    // Another list's key finds nobody.
    seen = 0;
    CHECK_EQ(run_while_pumping(signal + L"\"C:\\other\\list.o\"", window, message, &seen), 0u);
    CHECK_EQ(seen, 0);

    // A listener whose thread takes no messages does not hold the caller
    // beyond its second.
    DWORD start = GetTickCount();
    DWORD code = exit_code_of(start_process(signal + L"\"C:\\users\\someone\\Quorvax\\list.o\""));
    CHECK_EQ(code, 0u);
    CHECK(GetTickCount() - start < 5000u);

    // A later call replaces the listener; destroying the window ends it.
    HWND second = make_window();
    REQUIRE(plat_listen_for_instances(handle_of(second), key, message + 1) == 1);
    seen = 0;
    CHECK_EQ(run_while_pumping(signal + L"\"C:\\users\\someone\\Quorvax\\list.o\"", second, message + 1, &seen),
              1u);
    CHECK_EQ(seen, 1);
    DestroyWindow(second);
    CHECK_EQ(own_helpers(), 0);
    CHECK_EQ(plat_signal_running_instance(key), 0);
    DestroyWindow(window);
}

}  // namespace

int main(int argc, char **argv) {
    // The other process of the instance check: asks and exits with the answer.
    if (argc == 3 && strcmp(argv[1], "--signal") == 0) return plat_signal_running_instance(argv[2]);
    // For the check of the X clipboard bridged by Wine: writes whether
    // there is text and the text as read, or "<null>".
    if (argc == 3 && strcmp(argv[1], "--clipboard") == 0) {
        HWND window = make_window();
        FILE *f = fopen(argv[2], "wb");
        if (!window || !f) return 1;
        fprintf(f, "%d\n%s", plat_clipboard_has_text(), read_clipboard(window).c_str());
        fclose(f);
        return 0;
    }
    // The program run by the shell check: writes its one argument as UTF-8.
    wchar_t echo[MAX_PATH];
    if (GetEnvironmentVariableW(L"QUORVAX_CHECK_ECHO", echo, MAX_PATH)) {
        int count = 0;
        LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
        FILE *f = _wfopen(echo, L"wb");
        if (!f) return 1;
        char text[1024] = "";
        if (count == 2) WideCharToMultiByte(CP_UTF8, 0, args[1], -1, text, sizeof text, nullptr, nullptr);
        else snprintf(text, sizeof text, "<%d arguments>", count - 1);
        fputs(text, f);
        fclose(f);
        return 0;
    }
    struct Check {
        const char *name;
        void (*run)(void);
    };
#define ENTRY(f) {#f, f}
    const Check checks[] = {
        ENTRY(skin_and_icons_come_back_from_the_executable_as_the_committed_pictures),
        ENTRY(clipboard_text_is_utf8_within_its_block_secrets_skipped_emptying_ends_it),
        ENTRY(a_program_gets_its_parameter_as_one_argument_and_only_by_absolute_path),
        ENTRY(a_second_process_reaches_the_listener_until_its_window_goes),
    };
    int failed = 0;
    for (const Check &check : checks) {
        failures_in_check = 0;
        check.run();
        std::printf("[%s] %s\n", failures_in_check ? "FAILED" : "    OK", check.name);
        failed += failures_in_check != 0;
    }
    std::printf("%d of %d checks failed\n", failed, (int)(sizeof checks / sizeof checks[0]));
    return failed;
}
