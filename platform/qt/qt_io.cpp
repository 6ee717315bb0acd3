// qt_io.cpp - files, sockets and the clock of the Qt backend: the POSIX
// implementations, unchanged.
#include <csignal>

#include "platform/posix/posix_io.h"

// ---------------------------------------------------------------- clock

uint32_t plat_tick(void) { return posix_tick(); }

// ---------------------------------------------------------------- files

plat_file plat_open_existing_rw(const char *path) { return posix_open_existing_rw(path); }
plat_file plat_create_new_rw(const char *path) { return posix_create_new_rw(path); }
plat_file plat_open_read(const char *path) { return posix_open_read(path); }
int plat_file_exists(const char *path) { return posix_file_exists(path); }
uint32_t plat_read(plat_file file, void *buffer, uint32_t count) {
    return posix_read(file, buffer, count);
}
uint32_t plat_write(plat_file file, const void *buffer, uint32_t count) {
    return posix_write(file, buffer, count);
}
uint32_t plat_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    return posix_write_at(file, offset, buffer, count);
}
int plat_seek(plat_file file, int64_t offset) { return posix_seek(file, offset); }
int64_t plat_file_size(plat_file file) { return posix_file_size(file); }
int plat_truncate(plat_file file, int64_t length) { return posix_truncate(file, length); }
int plat_flush(plat_file file) { return posix_flush(file); }
void plat_close(plat_file file) { posix_close(file); }
int plat_create_directory(const char *path) { return posix_create_directory(path); }
int plat_directory_exists(const char *path) { return posix_directory_exists(path); }
char plat_path_separator(void) { return '/'; }

// -------------------------------------------------------------- sockets

// Nothing to start on POSIX; a write to a closed connection must come back
// as an error, not end the process as SIGPIPE would.
int plat_net_start(void) {
    signal(SIGPIPE, SIG_IGN);
    return 1;
}
void plat_net_stop(void) {}
int plat_resolve(const char *host, uint32_t *address) { return posix_resolve(host, address); }
plat_socket plat_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    return posix_tcp_connect(address, port, timeout_ms, connected);
}
int plat_send(plat_socket s, const void *data, int length) { return posix_send(s, data, length); }
uint32_t plat_readable(plat_socket s) { return posix_readable(s); }
int plat_wait_readable(plat_socket s, int timeout_ms) { return posix_wait_readable(s, timeout_ms); }
int plat_recv(plat_socket s, void *buffer, int length) { return posix_recv(s, buffer, length); }
void plat_close_socket(plat_socket s) { posix_close_socket(s); }
