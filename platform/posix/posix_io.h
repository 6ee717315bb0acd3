// posix_io.h - files, sockets and the clock on POSIX systems.  The platform
// operations of the Qt program and the list tool forward to them
// (posix_plat_shared.cpp, posix_plat_direct.cpp); the test backend wraps
// some with fault injection.  Handles are the file descriptor plus one, so
// that 0 never names a valid file or socket; only platform/ knows that.
#pragma once

#include <cstdint>

#include "platform/platform.h"

plat_file posix_open_existing_rw(const char *path);
plat_file posix_create_new_rw(const char *path);
plat_file posix_open_read(const char *path);
int posix_file_exists(const char *path);
uint32_t posix_read(plat_file file, void *buffer, uint32_t count);
uint32_t posix_write(plat_file file, const void *buffer, uint32_t count);
uint32_t posix_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count);
int posix_seek(plat_file file, int64_t offset);
int64_t posix_file_size(plat_file file);
int posix_truncate(plat_file file, int64_t length);
int posix_flush(plat_file file);
void posix_close(plat_file file);
int posix_create_directory(const char *path);
int posix_directory_exists(const char *path);
// path made absolute against the working folder (plat_full_path).
int posix_full_path(const char *path, char *out, int cap);

// Looks host up within timeout_ms (see posix_io.cpp for how).
int posix_resolve(const char *host, uint32_t *address, int timeout_ms);
// The blocking look-up posix_resolve runs on its worker threads; null puts
// back the system's (getaddrinfo).  Tests put a slow one in its place to
// stand for a name server that hangs.
typedef int (*PosixLookup)(const char *host, uint32_t *address);
void posix_set_lookup(PosixLookup lookup);
// Look-up workers still running (an abandoned one runs until its look-up
// returns).
int posix_lookups_running(void);
plat_socket posix_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected);
int posix_send(plat_socket s, const void *data, int length);
uint32_t posix_readable(plat_socket s);
int posix_wait_readable(plat_socket s, int timeout_ms);
int posix_recv(plat_socket s, void *buffer, int length);
void posix_close_socket(plat_socket s);

uint32_t posix_tick(void);
