// win32_io_check.cpp - the Windows file, path and socket operations, run as
// a Windows program (under Wine in CI): what the Linux build cannot show.
// Every failed check prints a FAIL line; the exit status is 1 when any did.
//
// Usage: win32_io_check.exe WORK_FOLDER LIST_TOOL_EXE
//   WORK_FOLDER   an empty folder to fill (test_win32_io.sh then looks at
//                 the names made there from the Linux side)
//   LIST_TOOL_EXE quorvax-list.exe, run while this program holds a list
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/win32/io/win32_io.h"

namespace {

int failures = 0;

void check(bool ok, const char *what, const std::string &detail = std::string()) {
    if (!ok) failures++;
    printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() || ok ? "" : ": ", ok ? "" : detail.c_str());
    fflush(stdout);
}

std::string read_all(const char *path) {
    plat_file f = plat_open_read(path);
    if (f == PLAT_INVALID_FILE) return "<cannot open>";
    std::string text;
    char buffer[256];
    uint32_t n;
    while ((n = plat_read(f, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    plat_close(f);
    return text;
}

std::string full_path(const char *path) {
    char out[4096];
    return plat_full_path(path, out, sizeof out) ? std::string(out) : std::string("<none>");
}

// The exit code of the command line, -1 when it cannot run.
int run(std::wstring line) {
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = (DWORD)-1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (int)code;
}

// ------------------------------------------------------------------ files

void check_share_modes(const wchar_t *list_tool) {
    plat_file held = plat_create_new_rw("held.bin");
    check(held != PLAT_INVALID_FILE && plat_write(held, "abcdef", 6) == 6, "create-new makes a file");
    check(plat_open_existing_rw("held.bin") == PLAT_INVALID_FILE, "a second writer is refused (create-new holder)");
    plat_file reader = plat_open_read("held.bin");
    char got[8] = {0};
    check(reader != PLAT_INVALID_FILE && plat_read(reader, got, 8) == 6 && memcmp(got, "abcdef", 6) == 0,
          "a reader gets in while the file is held for writing");
    plat_close(held);
    check(plat_create_new_rw("held.bin") == PLAT_INVALID_FILE, "create-new fails on an existing file");
    held = plat_open_existing_rw("held.bin");
    check(held != PLAT_INVALID_FILE, "open-existing succeeds beside a reader");
    check(plat_open_existing_rw("held.bin") == PLAT_INVALID_FILE, "a second writer is refused (open-existing holder)");
    plat_file reader_2 = plat_open_read("held.bin");
    check(reader_2 != PLAT_INVALID_FILE, "a reader gets in beside an open-existing holder");
    plat_close(reader_2);
    plat_close(held);
    plat_close(reader);
    check(plat_open_existing_rw("missing.bin") == PLAT_INVALID_FILE, "open-existing fails on a missing file");

    // Another process is refused too: the list tool cannot change a list
    // held as the program holds it (exit status 2), and can once it is free.
    static const unsigned char header[656] = {0xA1, 0xB2, 0xC3, 0xD4};
    plat_file list = plat_create_new_rw("held-list.o");
    plat_write(list, header, sizeof header);
    plat_close(list);
    list = plat_open_existing_rw("held-list.o");
    std::wstring command = std::wstring(L"\"") + list_tool + L"\" set held-list.o --max 7";
    int code = run(command);
    check(code == 2, "another process's writer is refused", "exit status " + std::to_string(code));
    plat_close(list);
    code = run(command);
    check(code == 0 && read_all("held-list.o").substr(12, 1) == "\x07", "and gets in once the list is free",
          "exit status " + std::to_string(code));
}

void check_positions_and_truncate(void) {
    plat_file f = plat_create_new_rw("big.bin");
    // Past 4 GiB a 32-bit offset would wrap to 1 GiB; past 2 GiB it turns
    // negative.  A Linux file system under Wine keeps the gaps sparse.
    const int64_t past_4g = 5LL * 1024 * 1024 * 1024 + 3, past_2g = 3LL * 1024 * 1024 * 1024;
    check(plat_write_at(f, past_4g, "FAR", 3) == 3 && plat_file_size(f) == past_4g + 3,
          "a positioned write past 4 GiB", std::to_string(plat_file_size(f)));
    check(plat_write_at(f, past_2g, "MID", 3) == 3, "a positioned write past 2 GiB");
    char got[4] = {0};
    check(plat_seek(f, past_4g) && plat_read(f, got, 3) == 3 && memcmp(got, "FAR", 3) == 0 &&
              plat_seek(f, past_2g) && plat_read(f, got, 3) == 3 && memcmp(got, "MID", 3) == 0,
          "seeks past 2 and 4 GiB read what was written there");
    check(plat_seek(f, 1LL * 1024 * 1024 * 1024 + 3) && plat_read(f, got, 3) == 3 && memcmp(got, "\0\0\0", 3) == 0,
          "nothing landed at the wrapped 32-bit offset");
    check(plat_seek(f, past_4g + 3) && plat_read(f, got, 3) == 0, "a read at the end gives 0 bytes");

    // Truncate cuts and extends with zeros, and leaves the position alone.
    plat_seek(f, 0);
    plat_write(f, "0123456789", 10);
    check(plat_seek(f, 4) && plat_truncate(f, 2) && plat_file_size(f) == 2, "truncate cuts");
    check(plat_write(f, "Z", 1) == 1 && plat_file_size(f) == 5, "the position stays across a truncate",
          std::to_string(plat_file_size(f)));
    char head[100];
    memset(head, 'x', sizeof head);
    check(plat_truncate(f, 100) && plat_file_size(f) == 100 && plat_seek(f, 0) && plat_read(f, head, 100) == 100 &&
              memcmp(head, "01\0\0Z", 5) == 0 && head[99] == 0,
          "truncate extends with zeros");
    check(plat_truncate(f, 0) && plat_file_size(f) == 0 && plat_flush(f), "truncate to nothing, flush");
    plat_close(f);
}

void check_names_and_folders(void) {
    // UTF-8 names reach the file system as the same characters (the script
    // looks for them from the Linux side), also outside every ANSI code
    // page and outside the BMP.
    const char *cafe = "Caf\xC3\xA9 Society 123.flv";
    const char *wide = "\xE6\x97\xA5\xE6\x9C\xAC \xCE\xA9 \xF0\x9F\x8E\xAC.flv";
    plat_file f = plat_create_new_rw(cafe);
    plat_write(f, "cafe", 4);
    plat_close(f);
    check(f != PLAT_INVALID_FILE && read_all(cafe) == "cafe", "a UTF-8 name");
    f = plat_create_new_rw(wide);
    plat_close(f);
    check(f != PLAT_INVALID_FILE && plat_file_exists(wide), "a name no ANSI code page holds");

    check(plat_create_directory("folder") && plat_directory_exists("folder") && !plat_file_exists("folder") &&
              plat_file_exists(cafe) && !plat_directory_exists(cafe),
          "files and folders are told apart");
    check(plat_open_existing_rw("folder") == PLAT_INVALID_FILE, "a folder does not open as a file");
    check(plat_create_directory("folder/sub") && plat_directory_exists("folder\\sub") &&
              plat_directory_exists("folder\\/sub"),
          "'/' and '\\' both separate, also doubled");

    // A folder text that is not UTF-8 is read in the ANSI code page: the
    // byte 0xE9 alone names the folder spelled with that character in UTF-8.
    printf("     ANSI code page %u\n", GetACP());
    wchar_t e9[2] = {0, 0};
    char utf8_name[32] = "ansi-caf";
    MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, e9, 1);
    WideCharToMultiByte(CP_UTF8, 0, e9, 1, utf8_name + 8, 8, nullptr, nullptr);
    check(plat_create_directory("ansi-caf\xE9") && plat_directory_exists(utf8_name),
          "an ANSI folder name and its UTF-8 spelling are one folder");
    f = plat_create_new_rw("ansi-caf\xE9/in-ansi.flv");
    plat_close(f);
    check(f != PLAT_INVALID_FILE && plat_file_exists((std::string(utf8_name) + "\\in-ansi.flv").c_str()),
          "a file opens under the ANSI-named folder");
    check(full_path("ansi-caf\xE9") == full_path(utf8_name), "the absolute form of an ANSI path is UTF-8");

    // Past the classic 260-character limit, relative and absolute.
    std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e');
    std::string name = deep + "/" + std::string(60, 'f') + ".flv";
    plat_create_directory(std::string(120, 'd').c_str());
    f = plat_create_directory(deep.c_str()) ? plat_create_new_rw(name.c_str()) : PLAT_INVALID_FILE;
    check(f != PLAT_INVALID_FILE && plat_write(f, "long", 4) == 4, "a file past 260 characters");
    plat_close(f);
    check(full_path(name.c_str()).size() > 300 && read_all(name.c_str()) == "long" &&
              read_all(full_path(name.c_str()).c_str()) == "long",
          "the long path opens again");
}

void check_full_path(void) {
    wchar_t wide_cwd[2048];
    char cwd[4096];
    GetCurrentDirectoryW(2048, wide_cwd);
    WideCharToMultiByte(CP_UTF8, 0, wide_cwd, -1, cwd, sizeof cwd, nullptr, nullptr);
    std::string base = cwd;
    if (base.back() == '\\') base.pop_back();
    check(full_path("./dl//x/./a.flv") == base + "\\dl\\x\\a.flv",
          "relative to the working folder; '.' and doubled separators go", full_path("./dl//x/./a.flv"));
    // Windows resolves ".." the same way on every open.
    check(full_path("C:\\v\\..\\w\\a.flv") == "C:\\w\\a.flv", "'..' is resolved", full_path("C:\\v\\..\\w\\a.flv"));
    std::string expected = base + "\\a.flv";
    char out[4096];
    int fits = (int)expected.size() + 1;
    check(plat_full_path("a.flv", out, fits) == 1 && expected == out, "a path that just fits");
    check(plat_full_path("a.flv", out, fits - 1) == 0 && out[0] == 0, "a path one byte too long gives nothing");
}

// ---------------------------------------------------------------- sockets

const uint32_t LOOPBACK = 0x0100007Fu;   // 127.0.0.1 in network order (little-endian machine)

int no_lookup(const char *, uint32_t *) { return 0; }
int quick_lookup(const char *, uint32_t *address) {
    *address = 0x04030201u;
    return 1;
}
// A name server that answers after 1.5 seconds.
int hanging_lookup(const char *, uint32_t *address) {
    Sleep(1500);
    *address = LOOPBACK;
    return 1;
}

void check_resolve(void) {
    uint32_t address = 0;
    check(plat_resolve("10.1.2.3", &address, 0) == 1 && address == 0x0302010Au, "a dotted address needs no wait");
    win32_set_lookup(no_lookup);
    check(!plat_resolve("10.1.2.300", &address, 1000) && !plat_resolve("010.1.2.3", &address, 1000) &&
              !plat_resolve("10.1.2", &address, 1000) && !plat_resolve("10.1.2.3.", &address, 1000),
          "only the strict dotted form is taken without a look-up");
    win32_set_lookup(quick_lookup);
    check(plat_resolve("quick.example", &address, 1000) == 1 && address == 0x04030201u, "a name is looked up");
    win32_set_lookup(hanging_lookup);
    uint32_t start = plat_tick();
    int found = plat_resolve("slow.example", &address, 300);
    uint32_t waited = plat_tick() - start;
    check(!found && waited >= 250 && waited < 1000, "a hanging look-up is given up after its time-out",
          std::to_string(waited) + " ms");
    for (int k = 0; k < 3; k++) plat_resolve("slow.example", &address, 20);
    start = plat_tick();
    found = plat_resolve("fifth.example", &address, 1000);
    waited = plat_tick() - start;
    check(win32_lookups_running() == 4 && !found && waited < 200, "with four look-ups hanging a fifth fails at once",
          std::to_string(waited) + " ms");
    for (int k = 0; k < 100 && win32_lookups_running() > 0; k++) Sleep(50);
    check(win32_lookups_running() == 0, "abandoned look-ups end on their own");
    win32_set_lookup(nullptr);
    address = 0;
    check(plat_resolve("localhost", &address, 5000) == 1 && (address & 0xFF) == 127, "the system looks localhost up");
}

// The connect result once it has answered (0 after five seconds: Windows
// itself retries a refused connect for a second or two).
int settled_result(plat_socket s) {
    for (int k = 0; k < 500; k++) {
        int result = plat_connect_result(s);
        if (result != 0) return result;
        Sleep(10);
    }
    return 0;
}

DWORD WINAPI send_later(void *peer) {
    Sleep(300);
    send((SOCKET)(uintptr_t)peer, "late", 4, 0);
    return 0;
}

void check_sockets(void) {
    SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = LOOPBACK;
    int length = sizeof sa;
    bind(server, (struct sockaddr *)&sa, sizeof sa);
    listen(server, 1);
    getsockname(server, (struct sockaddr *)&sa, &length);
    uint16_t port = ntohs(sa.sin_port);

    plat_socket s = plat_tcp_connect_start(LOOPBACK, port);
    check(s != 0 && settled_result(s) == 1, "a started connect to a listener is made");
    SOCKET peer = accept(server, nullptr, nullptr);
    uint32_t start = plat_tick();
    check(plat_wait_readable(s, 0) == 0 && plat_wait_readable(s, 200) == 0 && plat_tick() - start >= 150 &&
              plat_readable(s) == 0,
          "without data: not readable, after the whole wait");
    send(peer, "hello world", 11, 0);
    check(plat_wait_readable(s, 2000) == 1, "data makes the socket readable");
    Sleep(50);
    char got[32] = {0};
    check(plat_readable(s) == 11 && plat_recv(s, got, 5) == 5 && memcmp(got, "hello", 5) == 0 &&
              plat_readable(s) == 6,
          "readable counts the bytes waiting", std::to_string(plat_readable(s)));
    char at_server[8] = {0};
    check(plat_send(s, "ping", 4) == 4 && recv(peer, at_server, 8, 0) == 4 && memcmp(at_server, "ping", 4) == 0,
          "send");
    // Back in blocking mode once connected: a receive waits for data that
    // comes later instead of failing with would-block.
    plat_recv(s, got, 6);
    HANDLE later = CreateThread(nullptr, 0, send_later, (void *)(uintptr_t)peer, 0, nullptr);
    int n = plat_recv(s, got, sizeof got);
    check(n == 4 && memcmp(got, "late", 4) == 0, "the connected socket blocks as usual", std::to_string(n));
    WaitForSingleObject(later, 5000);
    CloseHandle(later);
    closesocket(peer);
    check(plat_wait_readable(s, 2000) == 1 && plat_readable(s) == 0 && plat_recv(s, got, 8) == 0,
          "a closed connection is readable, counts 0 and receives 0");
    plat_close_socket(s);

    int connected = 0;
    s = plat_tcp_connect(LOOPBACK, port, 2000, &connected);
    peer = accept(server, nullptr, nullptr);
    check(s != 0 && connected == 1 && plat_send(s, "x", 1) == 1 && recv(peer, at_server, 1, 0) == 1,
          "a bounded connect to a listener is made");
    closesocket(peer);
    plat_close_socket(s);

    // A listener whose queue is full drops further handshakes, as a silent
    // host does: connects stay under way, and the bounded one keeps its bound.
    plat_socket queued[8] = {0};
    int pending = -1;
    for (int k = 0; k < 8 && pending < 0; k++) {
        queued[k] = plat_tcp_connect_start(LOOPBACK, port);
        Sleep(100);
        if (plat_connect_result(queued[k]) == 0) pending = k;
    }
    check(pending >= 0, "a connect to a full listener stays under way");
    start = plat_tick();
    s = plat_tcp_connect(LOOPBACK, port, 500, &connected);
    uint32_t waited = plat_tick() - start;
    check(s != 0 && connected == 0 && waited >= 450 && waited < 1500,
          "a bounded connect that gets no answer gives up at its bound", std::to_string(waited) + " ms");
    plat_close_socket(s);
    for (plat_socket q : queued) plat_close_socket(q);
    closesocket(server);   // nothing listens on port from here on

    s = plat_tcp_connect_start(LOOPBACK, port);
    check(s != 0 && settled_result(s) == -1, "a refused started connect is -1");
    plat_close_socket(s);
    start = plat_tick();
    s = plat_tcp_connect(LOOPBACK, port, 3000, &connected);
    check(s != 0 && connected == 0 && plat_tick() - start < 3500,
          "a refused bounded connect gives its socket, not connected, within the bound");
    plat_close_socket(s);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: win32_io_check WORK_FOLDER LIST_TOOL_EXE\n");
        return 2;
    }
    wchar_t folder[2048], tool[2048], tool_full[2048];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, folder, 2048);
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, tool, 2048);
    GetFullPathNameW(tool, 2048, tool_full, nullptr);
    if (!SetCurrentDirectoryW(folder)) {
        fprintf(stderr, "win32_io_check: cannot enter %s\n", argv[1]);
        return 2;
    }
    check_share_modes(tool_full);
    check_positions_and_truncate();
    check_names_and_folders();
    check_full_path();
    check(plat_net_start() == 1, "Winsock 2.2 starts");
    check_resolve();
    check_sockets();
    plat_net_stop();
    printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
    return failures ? 1 : 0;
}
