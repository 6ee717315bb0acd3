// fake_io_win32.cpp - the test backend's real files, sockets and clock on
// Windows.  The fake calls them by the names of posix_io.h; here each leads
// to the Windows I/O layer's own operation, compiled for the tests under a
// win32_under_* name (tests/win32/build.cmake says why).
#include "platform/posix/posix_io.h"

uint32_t win32_under_tick(void);
plat_file win32_under_open_existing_rw(const char *path);
plat_file win32_under_create_new_rw(const char *path);
uint32_t win32_under_write(plat_file file, const void *buffer, uint32_t count);
uint32_t win32_under_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count);
int win32_under_net_start(void);
int win32_under_resolve(const char *host, uint32_t *address, int timeout_ms);
plat_socket win32_under_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected);
plat_socket win32_under_tcp_connect_start(uint32_t address, uint16_t port);
int win32_under_connect_result(plat_socket s);
int win32_under_recv(plat_socket s, void *buffer, int length);

namespace {

// The fake's own plat_net_start starts nothing; Winsock must be started
// before the first socket call of the process.
void net_started(void) {
    static int started = 0;
    if (!started) started = win32_under_net_start() ? 1 : 0;
}

}  // namespace

uint32_t posix_tick(void) { return win32_under_tick(); }

plat_file posix_open_existing_rw(const char *path) { return win32_under_open_existing_rw(path); }
plat_file posix_create_new_rw(const char *path) { return win32_under_create_new_rw(path); }
uint32_t posix_write(plat_file file, const void *buffer, uint32_t count) {
    return win32_under_write(file, buffer, count);
}
uint32_t posix_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    return win32_under_write_at(file, offset, buffer, count);
}

int posix_resolve(const char *host, uint32_t *address, int timeout_ms) {
    net_started();
    return win32_under_resolve(host, address, timeout_ms);
}
plat_socket posix_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    net_started();
    return win32_under_tcp_connect(address, port, timeout_ms, connected);
}
plat_socket posix_tcp_connect_start(uint32_t address, uint16_t port) {
    net_started();
    return win32_under_tcp_connect_start(address, port);
}
// The fake's plat_net_start starts nothing, so the program's shut-down
// stops nothing: Winsock stays up for the tests that follow.
void plat_net_stop(void) {}

int posix_connect_result(plat_socket s) { return win32_under_connect_result(s); }
int posix_recv(plat_socket s, void *buffer, int length) { return win32_under_recv(s, buffer, length); }
// The fake's TLS stand-in sends and looks at its socket through these: the
// layer's own operations, which the fake does not wrap.
int posix_send(plat_socket s, const void *data, int length) { return plat_send(s, data, length); }
uint32_t posix_readable(plat_socket s) { return plat_readable(s); }
int posix_wait_readable(plat_socket s, int timeout_ms) { return plat_wait_readable(s, timeout_ms); }

// Scripted connects hand the test the other end as a descriptor it reads
// and writes with POSIX calls; the tests that script connects are not built
// for Windows, and a scripted connect here fails as a refused one would.
plat_socket posix_socket_pair(int *peer) {
    *peer = -1;
    return 0;
}
