// posix_io.h - files, sockets, the clock and the request a second start
// sends a running instance, on POSIX systems.  The platform
// operations of the Qt program and the list tool forward to them
// (posix_plat_shared.cpp, posix_plat_direct.cpp); the test backend wraps
// some with fault injection.  Handles are the file descriptor plus one, so
// that 0 never names a valid file or socket; only platform/ knows that.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The descriptor a file or socket handle stands for.
inline int posix_fd_of(uint32_t handle) { return (int)handle - 1; }
// Puts a descriptor in non-blocking mode (on) or back in blocking mode.
void posix_set_nonblocking(int fd, bool on);

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
plat_socket posix_tcp_connect_start(uint32_t address, uint16_t port);
int posix_connect_result(plat_socket s);
// A connected pair of local stream sockets: the handle of one end, and the
// other end's descriptor in *peer (the test backend's scripted connects).
plat_socket posix_socket_pair(int *peer);
int posix_send(plat_socket s, const void *data, int length);
uint32_t posix_readable(plat_socket s);
int posix_wait_readable(plat_socket s, int timeout_ms);
int posix_recv(plat_socket s, void *buffer, int length);
void posix_close_socket(plat_socket s);

uint32_t posix_tick(void);

// ---- the request a second start sends a running instance
// (posix_instance.cpp).  The meeting point is an abstract-namespace local
// socket (no file to clean up) named from the user id and a hash of key; a
// peer of another user is refused on either side.  Descriptors are plain
// file descriptors, -1 for none.

// Connects to the instance listening under key, sends the request and waits
// for its one-byte answer, all within timeout_ms; 1 when answered.
int posix_instance_signal(const char *key, int timeout_ms);
// A non-blocking listening socket under key, or -1 (another process holds
// the name, or no socket could be had).
int posix_instance_listen(const char *key);
// Takes one waiting connection from the listening socket (non-blocking) and
// returns its descriptor, or -1 when none waits.  Connections of other
// users are closed here and skipped.
int posix_instance_accept(int listen_fd);
// Reads the request from an accepted connection without waiting: 1 when the
// whole request was there, 0 when nothing has arrived yet, -1 when the peer
// closed or sent something else (close it).
int posix_instance_read_request(int fd);
// Sends the one-byte answer that tells the caller its request was taken.
void posix_instance_answer(int fd);
void posix_instance_close(int fd);
