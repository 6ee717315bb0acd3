// posix_plat_direct.cpp - the platform operations that the Qt program and
// the list tool take straight from POSIX: the clock, the opening and writing
// of files, starting the sockets, look-up, connect and receive, TLS
// (OpenSSL, posix_tls.cpp) and the request to a running instance.  The test
// backend has its own versions of these (it can fail them on purpose); the
// operations every Linux backend shares are in posix_plat_shared.cpp.
#include <csignal>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_tls.h"

// ---------------------------------------------------------------- clock

uint32_t plat_tick(void) { return posix_tick(); }

// ---------------------------------------------------------------- files

plat_file plat_open_existing_rw(const char *path) { return posix_open_existing_rw(path); }
plat_file plat_create_new_rw(const char *path) { return posix_create_new_rw(path); }
uint32_t plat_write(plat_file file, const void *buffer, uint32_t count) {
    return posix_write(file, buffer, count);
}
uint32_t plat_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    return posix_write_at(file, offset, buffer, count);
}

// -------------------------------------------------------------- sockets

// Nothing to start on POSIX; a write to a closed connection must come back
// as an error, not end the process as SIGPIPE would.
int plat_net_start(void) {
    signal(SIGPIPE, SIG_IGN);
    return 1;
}
int plat_resolve(const char *host, uint32_t *address, int timeout_ms) {
    return posix_resolve(host, address, timeout_ms);
}
plat_socket plat_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    return posix_tcp_connect(address, port, timeout_ms, connected);
}
plat_socket plat_tcp_connect_start(uint32_t address, uint16_t port) {
    return posix_tcp_connect_start(address, port);
}
int plat_connect_result(plat_socket s) { return posix_connect_result(s); }
int plat_recv(plat_socket s, void *buffer, int length) { return posix_recv(s, buffer, length); }

// ------------------------------------------------------------------ TLS

plat_tls plat_tls_start(plat_socket s, const char *host) { return posix_tls_start(s, host); }
int plat_tls_handshake(plat_tls t) { return posix_tls_handshake(t); }
int plat_tls_send(plat_tls t, const void *data, int length) {
    return posix_tls_send(t, data, length);
}
uint32_t plat_tls_readable(plat_tls t) { return posix_tls_readable(t); }
int plat_tls_recv(plat_tls t, void *buffer, int length) {
    return posix_tls_recv(t, buffer, length);
}
int plat_tls_failure(plat_tls t, char *reason, int cap) {
    return posix_tls_failure(t, reason, cap);
}
void plat_tls_close(plat_tls t) { posix_tls_close(t); }

// ------------------------------------------------------------- instance

// The whole exchange stays within a second: a second start that finds no
// answer by then shows its message instead.
static const int INSTANCE_SIGNAL_TIMEOUT_MS = 1000;

int plat_signal_running_instance(const char *key) {
    return posix_instance_signal(key, INSTANCE_SIGNAL_TIMEOUT_MS);
}
