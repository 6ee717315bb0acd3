// posix_io.cpp - files, sockets and the clock on POSIX systems.
//
// Read/write opens take an exclusive advisory lock (flock) without waiting:
// it stands in for Windows' "share reads only" opening, so a second writer
// of the same file - another instance, or another open in this process -
// is refused, while plain readers still can read.
#include "platform/posix/posix_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static int fd_of(uint32_t handle) { return (int)handle - 1; }
static uint32_t handle_of(int fd) { return (uint32_t)fd + 1; }
static bool valid_file(plat_file f) { return f != PLAT_INVALID_FILE && f != 0; }

// ------------------------------------------------------------------ files

static plat_file open_locked(const char *path, int flags) {
    int fd = open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) return PLAT_INVALID_FILE;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return PLAT_INVALID_FILE;
    }
    return handle_of(fd);
}

plat_file posix_open_existing_rw(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return PLAT_INVALID_FILE;
    return open_locked(path, O_RDWR);
}

plat_file posix_create_new_rw(const char *path) {
    return open_locked(path, O_RDWR | O_CREAT | O_EXCL);
}

plat_file posix_open_read(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? PLAT_INVALID_FILE : handle_of(fd);
}

int posix_file_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t posix_read(plat_file file, void *buffer, uint32_t count) {
    if (!valid_file(file)) return 0;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = read(fd_of(file), (char *)buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (uint32_t)n;
    }
    return done;
}

uint32_t posix_write(plat_file file, const void *buffer, uint32_t count) {
    if (!valid_file(file)) return 0;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(fd_of(file), (const char *)buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (uint32_t)n;
    }
    return done;
}

// pwrite leaves the position untouched, which the contract allows.
uint32_t posix_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    if (!valid_file(file) || offset < 0) return 0;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(fd_of(file), (const char *)buffer + done, count - done, (off_t)(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (uint32_t)n;
    }
    return done;
}

int posix_seek(plat_file file, int64_t offset) {
    if (!valid_file(file) || offset < 0) return 0;
    return lseek(fd_of(file), (off_t)offset, SEEK_SET) == (off_t)offset;
}

int64_t posix_file_size(plat_file file) {
    struct stat st;
    if (!valid_file(file) || fstat(fd_of(file), &st) != 0) return -1;
    return (int64_t)st.st_size;
}

int posix_truncate(plat_file file, int64_t length) {
    if (!valid_file(file) || length < 0) return 0;
    return ftruncate(fd_of(file), (off_t)length) == 0;
}

int posix_flush(plat_file file) {
    if (!valid_file(file)) return 0;
    return fsync(fd_of(file)) == 0;
}

void posix_close(plat_file file) {
    if (valid_file(file)) close(fd_of(file));
}

int posix_create_directory(const char *path) { return mkdir(path, 0755) == 0; }

int posix_directory_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------- sockets

int posix_resolve(const char *host, uint32_t *address) {
    if (!host || !*host) return 0;
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) return 0;
    *address = ((struct sockaddr_in *)result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return 1;
}

// Connects without blocking for longer than timeout_ms: a silent or
// black-holed host would otherwise freeze the window for minutes.
plat_socket posix_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    *connected = 0;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return 0;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, (struct sockaddr *)&sa, sizeof sa);
    if (rc == 0) {
        *connected = 1;
    } else if (errno == EINPROGRESS) {
        struct pollfd p = {fd, POLLOUT, 0};
        int waited;
        do {
            waited = poll(&p, 1, timeout_ms);
        } while (waited < 0 && errno == EINTR);
        if (waited == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) *connected = 1;
        }
    }
    fcntl(fd, F_SETFL, flags);  // back to blocking, as the program expects
    return handle_of(fd);
}

int posix_send(plat_socket s, const void *data, int length) {
    if (!s || length < 0) return -1;
    int done = 0;
    while (done < length) {
        ssize_t n = send(fd_of(s), (const char *)data + done, (size_t)(length - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : -1;
        done += (int)n;
    }
    return done;
}

uint32_t posix_readable(plat_socket s) {
    if (!s) return 0;
    int count = 0;
    if (ioctl(fd_of(s), FIONREAD, &count) != 0 || count < 0) return 0;
    return (uint32_t)count;
}

int posix_wait_readable(plat_socket s, int timeout_ms) {
    if (!s) return 0;
    struct pollfd p = {fd_of(s), POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, timeout_ms);
    } while (rc < 0 && errno == EINTR);
    return rc == 1;
}

int posix_recv(plat_socket s, void *buffer, int length) {
    if (!s || length <= 0) return -1;
    ssize_t n;
    do {
        n = recv(fd_of(s), buffer, (size_t)length, 0);
    } while (n < 0 && errno == EINTR);
    return (int)n;
}

void posix_close_socket(plat_socket s) {
    if (s) close(fd_of(s));
}

// ------------------------------------------------------------------ clock

uint32_t posix_tick(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
    return (uint32_t)ms;
}
