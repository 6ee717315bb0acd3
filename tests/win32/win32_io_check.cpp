// win32_io_check.cpp - the Windows file, path, clock and socket operations,
// run as a Windows program (under Wine in CI): what the Linux build cannot
// show.  One program, many cases; every failed check prints a FAIL line and
// the exit status is 1 when any failed.
//
// Usage: win32_io_check.exe WORK_FOLDER LIST_TOOL_EXE
//   WORK_FOLDER   an empty folder it may fill (the caller inspects the names
//                 made there from the other side, see test_win32_io.sh)
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
    if (ok) {
        printf("ok   %s\n", what);
    } else {
        failures++;
        printf("FAIL %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    }
    fflush(stdout);
}

std::string read_all(const char *path) {
    std::string text;
    plat_file f = plat_open_read(path);
    if (f == PLAT_INVALID_FILE) return "<cannot open>";
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

// Runs the command line and returns its exit code, -1 when it cannot run.
int run(const std::wstring &command) {
    std::wstring line = command;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
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
    check(held != PLAT_INVALID_FILE, "create-new makes a new file");
    check(plat_write(held, "abcdef", 6) == 6, "write at the position");
    check(plat_create_new_rw("held.bin") == PLAT_INVALID_FILE, "create-new fails on an existing file");
    check(plat_open_existing_rw("held.bin") == PLAT_INVALID_FILE,
          "a second open for writing fails while the file is held for writing");
    plat_file reader = plat_open_read("held.bin");
    check(reader != PLAT_INVALID_FILE, "a read open succeeds while the file is held for writing");
    char got[8] = {0};
    check(plat_read(reader, got, 8) == 6 && memcmp(got, "abcdef", 6) == 0,
          "the reader reads the held file's bytes", std::string(got, 6));
    // The reader shares writes, so the writer's open is not refused because
    // of it, while the writer's share mode is what refuses a second writer.
    plat_close(held);
    check(plat_create_new_rw("held.bin") == PLAT_INVALID_FILE,
          "create-new fails on an existing file nobody holds for writing");
    plat_file again = plat_open_existing_rw("held.bin");
    check(again != PLAT_INVALID_FILE, "open-existing succeeds once the writer closed, with a reader open");
    // The same share mode when the holder opened an existing file.
    check(plat_open_existing_rw("held.bin") == PLAT_INVALID_FILE,
          "a second open for writing fails while open-existing holds the file");
    plat_file reader_2 = plat_open_read("held.bin");
    check(reader_2 != PLAT_INVALID_FILE, "a read open succeeds while open-existing holds the file");
    plat_close(reader_2);
    plat_close(again);
    plat_close(reader);
    check(plat_open_existing_rw("missing.bin") == PLAT_INVALID_FILE, "open-existing fails on a missing file");
    check(plat_open_read("missing.bin") == PLAT_INVALID_FILE, "open-read fails on a missing file");

    // Another process is refused too: the list tool cannot change a list
    // this program holds (exit status 2), and can once it is let go.
    static const unsigned char header[656] = {0xA1, 0xB2, 0xC3, 0xD4};
    plat_file list = plat_create_new_rw("held-list.o");
    check(plat_write(list, header, sizeof header) == sizeof header, "a list to hold");
    plat_close(list);
    list = plat_open_existing_rw("held-list.o");   // as the program holds its list
    std::wstring command = std::wstring(L"\"") + list_tool + L"\" set held-list.o --max 7";
    int code = run(command);
    check(code == 2, "another process's open for writing fails while the list is held",
          "exit status " + std::to_string(code));
    plat_close(list);
    code = run(command);
    check(code == 0, "another process writes the list once it is let go",
          "exit status " + std::to_string(code));
    check(read_all("held-list.o").substr(12, 1) == "\x07", "the list tool's change is in the file");
}

void check_positions_and_truncate(void) {
    plat_file f = plat_create_new_rw("big.bin");
    check(f != PLAT_INVALID_FILE, "create a file for 64-bit positions");
    // Past 4 GiB: a 32-bit offset would wrap to 1 GiB.  The file system
    // stores the gap sparse.
    const int64_t past_4g = 5LL * 1024 * 1024 * 1024 + 3;
    check(plat_write_at(f, past_4g, "FAR", 3) == 3, "positioned write past 4 GiB");
    check(plat_file_size(f) == past_4g + 3, "the size counts past 4 GiB",
          std::to_string(plat_file_size(f)));
    const int64_t past_2g = 3LL * 1024 * 1024 * 1024;   // past 2 GiB: negative as 32-bit signed
    check(plat_write_at(f, past_2g, "MID", 3) == 3, "positioned write between 2 and 4 GiB");
    char got[4] = {0};
    check(plat_seek(f, past_4g) && plat_read(f, got, 3) == 3 && memcmp(got, "FAR", 3) == 0,
          "seek past 4 GiB reads what was written there");
    check(plat_seek(f, past_2g) && plat_read(f, got, 3) == 3 && memcmp(got, "MID", 3) == 0,
          "seek past 2 GiB reads what was written there");
    check(plat_seek(f, 1LL * 1024 * 1024 * 1024 + 3) && plat_read(f, got, 3) == 3 &&
              memcmp(got, "\0\0\0", 3) == 0,
          "nothing landed at the wrapped 32-bit offset");
    check(plat_seek(f, past_4g + 3) && plat_read(f, got, 3) == 0, "a read at the end gives 0 bytes");
    check(plat_seek(f, -1) == 0, "a negative seek fails");

    // Truncate cuts and extends, and leaves the position where it was.
    check(plat_seek(f, 0) && plat_write(f, "0123456789", 10) == 10, "write the head");
    check(plat_seek(f, 4) && plat_truncate(f, 2) && plat_file_size(f) == 2, "truncate cuts to 2 bytes");
    check(plat_write(f, "Z", 1) == 1 && plat_file_size(f) == 5,
          "the position stays at 4 across a truncate", std::to_string(plat_file_size(f)));
    check(plat_truncate(f, 100) && plat_file_size(f) == 100, "truncate extends");
    char head[100];
    memset(head, 'x', sizeof head);
    check(plat_seek(f, 0) && plat_read(f, head, 100) == 100 && memcmp(head, "01\0\0Z", 5) == 0 &&
              head[99] == 0 && head[50] == 0,
          "the cut is gone and the extension reads as zeros");
    check(plat_truncate(f, 0) && plat_file_size(f) == 0, "truncate to nothing");
    check(plat_flush(f) == 1, "flush");
    plat_close(f);
    check(plat_file_size(PLAT_INVALID_FILE) == -1 && plat_read(PLAT_INVALID_FILE, got, 1) == 0 &&
              plat_write(PLAT_INVALID_FILE, got, 1) == 0 && plat_seek(PLAT_INVALID_FILE, 0) == 0,
          "the invalid handle fails every call");
}

void check_names_and_folders(void) {
    // UTF-8 names reach the file system as the same characters: the caller
    // looks for them from the other side.
    const char *cafe = "Caf\xC3\xA9 Society 123.flv";
    plat_file f = plat_create_new_rw(cafe);
    check(f != PLAT_INVALID_FILE, "create a file with a UTF-8 name");
    plat_write(f, "cafe", 4);
    plat_close(f);
    check(plat_file_exists(cafe) && read_all(cafe) == "cafe", "the UTF-8 name opens again");
    // Characters no ANSI code page holds, one of them outside the BMP.
    const char *wide = "\xE6\x97\xA5\xE6\x9C\xAC \xCE\xA9 \xF0\x9F\x8E\xAC.flv";
    f = plat_create_new_rw(wide);
    check(f != PLAT_INVALID_FILE, "create a file named outside every ANSI code page");
    plat_close(f);
    check(plat_file_exists(wide), "that name opens again");

    check(plat_create_directory("folder") && plat_directory_exists("folder"), "create a folder");
    check(!plat_create_directory("folder"), "creating an existing folder fails");
    check(!plat_file_exists("folder") && !plat_directory_exists(cafe) && plat_file_exists(cafe),
          "files and folders are told apart");
    check(plat_open_existing_rw("folder") == PLAT_INVALID_FILE &&
              plat_create_new_rw("folder") == PLAT_INVALID_FILE,
          "a folder does not open as a file");
    check(!plat_create_directory("no-parent/child"), "a folder needs its parent");
    check(plat_create_directory("folder/sub") && plat_directory_exists("folder\\sub"),
          "'/' and '\\' both separate");

    // A folder text that is not UTF-8 is read in the ANSI code page: the
    // byte 0xE9 names the folder whose UTF-8 spelling is that character's.
    printf("     ANSI code page %u\n", GetACP());
    const char *ansi = "ansi-caf\xE9";
    check(plat_create_directory(ansi), "create a folder named in the ANSI code page");
    wchar_t expected[2] = {0, 0};
    char utf8_name[32] = "ansi-caf";
    MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, expected, 1);
    WideCharToMultiByte(CP_UTF8, 0, expected, 1, utf8_name + 8, 8, nullptr, nullptr);
    check(plat_directory_exists(utf8_name), "the ANSI name and its UTF-8 spelling are one folder");
    f = plat_create_new_rw("ansi-caf\xE9/in-ansi.flv");
    check(f != PLAT_INVALID_FILE, "a file opens under the ANSI-named folder");
    plat_close(f);
    check(plat_file_exists((std::string(utf8_name) + "\\in-ansi.flv").c_str()),
          "and is found through the UTF-8 spelling");
    char out[4096];
    check(plat_full_path(ansi, out, sizeof out) && full_path(utf8_name) == out,
          "the absolute form of an ANSI path comes back as UTF-8", out);

    // Past the classic 260-character limit.
    std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e');
    check(plat_create_directory(std::string(120, 'd').c_str()) && plat_create_directory(deep.c_str()),
          "create folders past 260 characters of absolute path");
    std::string name = deep + "/" + std::string(60, 'f') + ".flv";
    f = plat_create_new_rw(name.c_str());
    check(f != PLAT_INVALID_FILE && plat_write(f, "long", 4) == 4, "create a file past 260 characters");
    plat_close(f);
    check(full_path(name.c_str()).size() > 300 && plat_file_exists(name.c_str()) &&
              read_all(name.c_str()) == "long" && read_all(full_path(name.c_str()).c_str()) == "long",
          "the long path opens, written relative or absolute");
}

void check_full_path(void) {
    check(plat_path_separator() == '\\', "the separator is '\\'");
    char cwd[4096];
    wchar_t wide_cwd[2048];
    GetCurrentDirectoryW(2048, wide_cwd);
    WideCharToMultiByte(CP_UTF8, 0, wide_cwd, -1, cwd, sizeof cwd, nullptr, nullptr);
    std::string base = cwd;
    if (base.back() == '\\') base.pop_back();

    check(full_path("list.o") == base + "\\list.o", "a relative path is taken from the working folder",
          full_path("list.o"));
    check(full_path("./dl//x/./a.flv") == base + "\\dl\\x\\a.flv",
          "'.' segments and doubled separators go, '/' turns to '\\'", full_path("./dl//x/./a.flv"));
    check(full_path("C:\\v\\.\\w\\\\a.flv") == "C:\\v\\w\\a.flv", "an absolute path keeps its drive",
          full_path("C:\\v\\.\\w\\\\a.flv"));
    // ".." is resolved: Windows resolves it the same way on every open.
    check(full_path("C:\\v\\..\\w\\a.flv") == "C:\\w\\a.flv", "'..' is resolved",
          full_path("C:\\v\\..\\w\\a.flv"));
    check(full_path("Caf\xC3\xA9") == base + "\\Caf\xC3\xA9", "UTF-8 in, UTF-8 out");

    std::string expected = base + "\\a.flv";
    char out[4096];
    int fits = (int)expected.size() + 1;
    check(plat_full_path("a.flv", out, fits) == 1 && expected == out, "a path that just fits");
    check(plat_full_path("a.flv", out, fits - 1) == 0 && out[0] == 0,
          "a path one byte too long gives nothing");
    check(plat_full_path("", out, sizeof out) == 0 && out[0] == 0, "an empty path gives nothing");
}

void check_clock(void) {
    uint32_t before = plat_tick();
    Sleep(100);
    uint32_t waited = plat_tick() - before;
    check(waited >= 80 && waited < 2000, "the tick counts milliseconds",
          std::to_string(waited) + " ms for 100");
}

// ---------------------------------------------------------------- sockets

// A loopback listener; its port in *port.
SOCKET listener(uint16_t *port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof sa;
    if (bind(s, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(s, 4) != 0 ||
        getsockname(s, (struct sockaddr *)&sa, &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(sa.sin_port);
    return s;
}

// The connect result once it has answered (or 0 after five seconds: Windows
// itself retries a refused connect for a second or two).
int settled_result(plat_socket s) {
    for (int k = 0; k < 500; k++) {
        int result = plat_connect_result(s);
        if (result != 0) return result;
        Sleep(10);
    }
    return 0;
}

DWORD WINAPI send_later(void *arg) {
    Sleep(300);
    send((SOCKET)(uintptr_t)arg, "late", 4, 0);
    return 0;
}

const uint32_t LOOPBACK = 0x0100007Fu;   // 127.0.0.1 in network order on this little-endian machine

int no_lookup(const char *host, uint32_t *address) { return 0; }

int quick_lookup(const char *host, uint32_t *address) {
    *address = 0x04030201u;
    return 1;
}

// A name server that answers after 1.5 seconds.
int hanging_lookup(const char *host, uint32_t *address) {
    Sleep(1500);
    *address = LOOPBACK;
    return 1;
}

void check_lookup_bounds(void) {
    uint32_t address = 0;
    // Only the strict dotted form is taken without a look-up.
    win32_set_lookup(no_lookup);
    check(plat_resolve("10.1.2.300", &address, 1000) == 0 && plat_resolve("010.1.2.3", &address, 1000) == 0 &&
              plat_resolve("10.1.2", &address, 1000) == 0 && plat_resolve("10.1.2.3.", &address, 1000) == 0,
          "a number out of range, a leading zero or a part too few or too many is no dotted address");
    win32_set_lookup(quick_lookup);
    check(plat_resolve("quick.example", &address, 1000) == 1 && address == 0x04030201u,
          "a name goes through the look-up");
    win32_set_lookup(hanging_lookup);
    uint32_t start = plat_tick();
    int found = plat_resolve("slow.example", &address, 300);
    uint32_t waited = plat_tick() - start;
    check(found == 0 && waited >= 250 && waited < 1000, "a hanging look-up is given up after its time-out",
          std::to_string(waited) + " ms");
    for (int k = 0; k < 3; k++) plat_resolve("slow.example", &address, 20);
    check(win32_lookups_running() == 4, "four abandoned look-ups still run",
          std::to_string(win32_lookups_running()));
    start = plat_tick();
    found = plat_resolve("fifth.example", &address, 1000);
    waited = plat_tick() - start;
    check(found == 0 && waited < 200, "with four look-ups hanging a fifth fails at once",
          std::to_string(waited) + " ms");
    for (int k = 0; k < 100 && win32_lookups_running() > 0; k++) Sleep(50);
    check(win32_lookups_running() == 0, "abandoned look-ups end on their own");
    win32_set_lookup(nullptr);
    check(plat_resolve("slow.example", &address, 1000) == 0, "the system's look-up is back");
}

void check_sockets(void) {
    check(plat_net_start() == 1, "Winsock 2.2 starts");
    uint32_t address = 0;
    check(plat_resolve("127.0.0.1", &address, 1000) == 1 && address == LOOPBACK,
          "a dotted address is taken as it stands");
    address = 0;
    check(plat_resolve("10.1.2.3", &address, 0) == 1 && address == 0x0302010Au,
          "a dotted address needs no wait");
    check_lookup_bounds();
    address = 0;
    check(plat_resolve("localhost", &address, 5000) == 1 && (address & 0xFF) == 127,
          "localhost is looked up", std::to_string(address & 0xFF));
    uint32_t start = plat_tick();
    plat_resolve("no-such-host.invalid", &address, 1500);
    check(plat_tick() - start < 2500, "a look-up gives up within its time-out",
          std::to_string(plat_tick() - start) + " ms");
    check(plat_resolve("", &address, 100) == 0, "an empty name is not found");

    uint16_t port = 0;
    SOCKET server = listener(&port);
    check(server != INVALID_SOCKET, "a loopback listener");

    // Connect start and result against the listener.
    plat_socket s = plat_tcp_connect_start(LOOPBACK, port);
    check(s != 0, "connect start gives a socket");
    check(settled_result(s) == 1, "the connect to the listener is made");
    check(plat_connect_result(s) == 1, "asked again, it is still made");
    SOCKET peer = accept(server, nullptr, nullptr);
    check(peer != INVALID_SOCKET, "the listener takes the connection");
    check(plat_wait_readable(s, 0) == 0 && plat_readable(s) == 0, "nothing to read yet");
    start = plat_tick();
    check(plat_wait_readable(s, 200) == 0 && plat_tick() - start >= 150,
          "a wait for data that does not come lasts its time-out", std::to_string(plat_tick() - start));
    send(peer, "hello world", 11, 0);
    check(plat_wait_readable(s, 2000) == 1, "data makes the socket readable");
    Sleep(50);
    check(plat_readable(s) == 11, "readable counts the bytes waiting", std::to_string(plat_readable(s)));
    char got[32] = {0};
    check(plat_recv(s, got, 5) == 5 && memcmp(got, "hello", 5) == 0, "recv takes part of them");
    check(plat_readable(s) == 6, "the count drops by what was taken");
    check(plat_send(s, "ping", 4) == 4, "send");
    char at_server[8] = {0};
    check(recv(peer, at_server, sizeof at_server, 0) == 4 && memcmp(at_server, "ping", 4) == 0,
          "the listener gets what was sent");
    // Back in blocking mode once connected: a receive waits for data that
    // comes later instead of failing with would-block.
    check(plat_recv(s, got, 6) == 6 && memcmp(got, " world", 6) == 0, "recv the rest");
    HANDLE later = CreateThread(nullptr, 0, send_later, (void *)(uintptr_t)peer, 0, nullptr);
    int n = plat_recv(s, got, sizeof got);
    check(n == 4 && memcmp(got, "late", 4) == 0, "the connected socket blocks as usual",
          std::to_string(n));
    WaitForSingleObject(later, 5000);
    CloseHandle(later);
    closesocket(peer);
    check(plat_wait_readable(s, 2000) == 1 && plat_readable(s) == 0 && plat_recv(s, got, 8) == 0,
          "a closed connection is readable, counts 0 and receives 0");
    plat_close_socket(s);

    // The bounded connect, to the listener and to a closed port.
    int connected = 0;
    s = plat_tcp_connect(LOOPBACK, port, 2000, &connected);
    check(s != 0 && connected == 1, "a bounded connect to the listener is made");
    peer = accept(server, nullptr, nullptr);
    check(plat_send(s, "x", 1) == 1 && recv(peer, at_server, 1, 0) == 1,
          "its socket sends at once");
    closesocket(peer);
    plat_close_socket(s);
    closesocket(server);   // now nothing listens on port

    s = plat_tcp_connect_start(LOOPBACK, port);
    check(s != 0 && settled_result(s) == -1, "a refused connect is -1");
    plat_close_socket(s);
    start = plat_tick();
    s = plat_tcp_connect(LOOPBACK, port, 3000, &connected);
    check(s != 0 && connected == 0, "a refused bounded connect still gives its socket, not connected");
    check(plat_send(s, "x", 1) == -1, "and sending on it fails");
    plat_close_socket(s);
    // A refused connect ends early; either way within the bound.
    check(plat_tick() - start < 3500, "the bounded connect keeps its bound",
          std::to_string(plat_tick() - start) + " ms");

    check(plat_readable(0) == 0 && plat_recv(0, got, 4) == -1 && plat_send(0, "x", 1) == -1 &&
              plat_connect_result(0) == -1 && plat_wait_readable(0, 0) == 0,
          "socket 0 fails every call");
    plat_net_stop();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: win32_io_check WORK_FOLDER LIST_TOOL_EXE\n");
        return 2;
    }
    wchar_t folder[2048], tool[2048];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, folder, 2048);
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, tool, 2048);
    wchar_t tool_full[2048];
    GetFullPathNameW(tool, 2048, tool_full, nullptr);
    if (!SetCurrentDirectoryW(folder)) {
        fprintf(stderr, "win32_io_check: cannot enter %s\n", argv[1]);
        return 2;
    }
    check_share_modes(tool_full);
    check_positions_and_truncate();
    check_names_and_folders();
    check_full_path();
    check_clock();
    check_sockets();
    printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
    return failures ? 1 : 0;
}
