// posix_plat_shared.cpp - the platform operations that every Linux backend
// takes straight from POSIX.  The operations the test backend treats its own
// way (opening, writing, connecting, receiving: it can fail them on purpose)
// are in the test backend, and in posix_plat_direct.cpp for the others.
#include "platform/posix/posix_io.h"

plat_file plat_open_read(const char *path) { return posix_open_read(path); }
int plat_file_exists(const char *path) { return posix_file_exists(path); }
uint32_t plat_read(plat_file file, void *buffer, uint32_t count) {
    return posix_read(file, buffer, count);
}
int plat_seek(plat_file file, int64_t offset) { return posix_seek(file, offset); }
int64_t plat_file_size(plat_file file) { return posix_file_size(file); }
int plat_truncate(plat_file file, int64_t length) { return posix_truncate(file, length); }
int plat_flush(plat_file file) { return posix_flush(file); }
void plat_close(plat_file file) { posix_close(file); }
int plat_create_directory(const char *path) { return posix_create_directory(path); }
int plat_directory_exists(const char *path) { return posix_directory_exists(path); }
char plat_path_separator(void) { return '/'; }
int plat_full_path(const char *path, char *out, int cap) { return posix_full_path(path, out, cap); }

void plat_net_stop(void) {}
int plat_send(plat_socket s, const void *data, int length) { return posix_send(s, data, length); }
uint32_t plat_readable(plat_socket s) { return posix_readable(s); }
int plat_wait_readable(plat_socket s, int timeout_ms) { return posix_wait_readable(s, timeout_ms); }
void plat_close_socket(plat_socket s) { posix_close_socket(s); }
