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
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
        ssize_t n = read(posix_fd_of(file), (char *)buffer + done, count - done);
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
        ssize_t n = write(posix_fd_of(file), (const char *)buffer + done, count - done);
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
        ssize_t n = pwrite(posix_fd_of(file), (const char *)buffer + done, count - done, (off_t)(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (uint32_t)n;
    }
    return done;
}

int posix_seek(plat_file file, int64_t offset) {
    if (!valid_file(file) || offset < 0) return 0;
    return lseek(posix_fd_of(file), (off_t)offset, SEEK_SET) == (off_t)offset;
}

int64_t posix_file_size(plat_file file) {
    struct stat st;
    if (!valid_file(file) || fstat(posix_fd_of(file), &st) != 0) return -1;
    return (int64_t)st.st_size;
}

int posix_truncate(plat_file file, int64_t length) {
    if (!valid_file(file) || length < 0) return 0;
    return ftruncate(posix_fd_of(file), (off_t)length) == 0;
}

int posix_flush(plat_file file) {
    if (!valid_file(file)) return 0;
    return fsync(posix_fd_of(file)) == 0;
}

void posix_close(plat_file file) {
    if (valid_file(file)) close(posix_fd_of(file));
}

int posix_create_directory(const char *path) { return mkdir(path, 0755) == 0; }

int posix_directory_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The working folder comes from the system (getcwd), which names it without
// symbolic links; of what the caller wrote only "." segments and doubled
// slashes go.  ".." stays: through a symbolic link it need not mean the
// folder above.
int posix_full_path(const char *path, char *out, int cap) {
    if (!out || cap <= 0) return 0;
    out[0] = 0;
    if (!path) return 0;
    size_t used = 0;
    // Appends each segment of text as "/segment"; false when out is full.
    auto add_segments = [&](const char *text) {
        const char *p = text;
        for (;;) {
            while (*p == '/') p++;
            if (!*p) return true;
            const char *end = p;
            while (*end && *end != '/') end++;
            size_t n = (size_t)(end - p);
            if (!(n == 1 && p[0] == '.')) {
                if (used + 1 + n + 1 > (size_t)cap) return false;
                out[used++] = '/';
                memcpy(out + used, p, n);
                used += n;
                out[used] = 0;
            }
            p = end;
        }
    };
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd) || !add_segments(cwd)) {
            out[0] = 0;
            return 0;
        }
    }
    if (!add_segments(path)) {
        out[0] = 0;
        return 0;
    }
    if (used == 0) {
        // The root itself.
        if (cap < 2) return 0;
        out[0] = '/';
        out[1] = 0;
    }
    return 1;
}

// ---------------------------------------------------------------- sockets

// getaddrinfo has no time limit of its own: a name server that does not
// answer holds it for as long as the resolver's retries take.  So each
// look-up runs on a worker thread, and the caller stops waiting after
// timeout_ms; an abandoned worker finishes on its own and frees its job.
// At most LOOKUP_WORKERS_MAX workers exist at a time: a call that finds them
// all still busy (the name server is hanging) fails at once instead of
// starting more.  A dotted address needs no worker.

namespace {

const int LOOKUP_WORKERS_MAX = 4;

struct LookupJob {
    char host[256];
    PosixLookup lookup;
    uint32_t address;
    int found;
    bool done;        // the worker has finished (guarded by lookup_lock)
    bool abandoned;   // the caller stopped waiting: the worker frees the job
};

pthread_mutex_t lookup_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t lookup_finished;
pthread_once_t lookup_once = PTHREAD_ONCE_INIT;
int lookup_workers = 0;

int system_lookup(const char *host, uint32_t *address) {
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

PosixLookup lookup_function = system_lookup;

// The waits are measured on the monotonic clock: a wall-clock jump must
// not stretch or cut them.
void lookup_init(void) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&lookup_finished, &attr);
    pthread_condattr_destroy(&attr);
}

void *lookup_worker(void *arg) {
    LookupJob *job = (LookupJob *)arg;
    uint32_t address = 0;
    int found = job->lookup(job->host, &address);
    pthread_mutex_lock(&lookup_lock);
    lookup_workers--;
    if (job->abandoned) {
        delete job;
    } else {
        job->address = address;
        job->found = found;
        job->done = true;
    }
    pthread_cond_broadcast(&lookup_finished);
    pthread_mutex_unlock(&lookup_lock);
    return nullptr;
}

}  // namespace

void posix_set_lookup(PosixLookup lookup) {
    pthread_mutex_lock(&lookup_lock);
    lookup_function = lookup ? lookup : system_lookup;
    pthread_mutex_unlock(&lookup_lock);
}

int posix_lookups_running(void) {
    pthread_mutex_lock(&lookup_lock);
    int running = lookup_workers;
    pthread_mutex_unlock(&lookup_lock);
    return running;
}

int posix_resolve(const char *host, uint32_t *address, int timeout_ms) {
    if (!host || !*host || strlen(host) >= sizeof(LookupJob::host)) return 0;
    struct in_addr dotted;
    if (inet_pton(AF_INET, host, &dotted) == 1) {
        *address = dotted.s_addr;
        return 1;
    }
    pthread_once(&lookup_once, lookup_init);
    LookupJob *job = new (std::nothrow) LookupJob();
    if (!job) return 0;
    strcpy(job->host, host);

    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (timeout_ms < 0) timeout_ms = 0;
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += (long)(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }

    pthread_mutex_lock(&lookup_lock);
    job->lookup = lookup_function;
    pthread_t thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    bool started = lookup_workers < LOOKUP_WORKERS_MAX &&
                   pthread_create(&thread, &attr, lookup_worker, job) == 0;
    pthread_attr_destroy(&attr);
    if (!started) {
        pthread_mutex_unlock(&lookup_lock);
        delete job;
        return 0;
    }
    lookup_workers++;
    while (!job->done) {
        if (pthread_cond_timedwait(&lookup_finished, &lookup_lock, &deadline) == ETIMEDOUT) break;
    }
    int found = 0;
    if (job->done) {
        found = job->found;
        if (found) *address = job->address;
        delete job;
    } else {
        job->abandoned = true;
    }
    pthread_mutex_unlock(&lookup_lock);
    return found;
}

// The non-blocking flag is on only while a connect is under way (and while
// TLS runs on the socket, posix_tls.cpp): the rest of the program uses its
// sockets in the ordinary blocking mode (reads ask only for the bytes
// already waiting).
void posix_set_nonblocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return;
    int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags) fcntl(fd, F_SETFL, wanted);
}

plat_socket posix_tcp_connect_start(uint32_t address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) return 0;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    // EINPROGRESS (and EINTR, after which the connect goes on by itself) is
    // the usual answer; a connect that ended at once, made or refused, is
    // told apart by posix_connect_result like any other.
    connect(fd, (struct sockaddr *)&sa, sizeof sa);
    return handle_of(fd);
}

int posix_connect_result(plat_socket s) {
    if (!s) return -1;
    int fd = posix_fd_of(s);
    struct pollfd p = {fd, POLLOUT, 0};
    int rc;
    do {
        rc = poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return 0;   // the handshake is still going
    // Writable, or an error or hang-up: SO_ERROR names a failure once (it is
    // cleared by reading it), while a peer address exists only on a socket
    // that is connected, so that a second call gives the same answer.
    int err = 0;
    socklen_t len = sizeof err;
    struct sockaddr_in peer;
    socklen_t peer_len = sizeof peer;
    int result = 1;
    if (rc < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0 ||
        getpeername(fd, (struct sockaddr *)&peer, &peer_len) != 0)
        result = -1;
    posix_set_nonblocking(fd, false);
    return result;
}

// Connects without blocking for longer than timeout_ms: a silent or
// black-holed host would otherwise freeze the window for minutes.
plat_socket posix_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    *connected = 0;
    plat_socket s = posix_tcp_connect_start(address, port);
    if (!s) return 0;
    struct pollfd p = {posix_fd_of(s), POLLOUT, 0};
    int waited;
    do {
        waited = poll(&p, 1, timeout_ms);
    } while (waited < 0 && errno == EINTR);
    *connected = posix_connect_result(s) == 1;
    posix_set_nonblocking(posix_fd_of(s), false);   // also after a connect still under way
    return s;
}

int posix_send(plat_socket s, const void *data, int length) {
    if (!s || length < 0) return -1;
    int done = 0;
    while (done < length) {
        ssize_t n = send(posix_fd_of(s), (const char *)data + done, (size_t)(length - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : -1;
        done += (int)n;
    }
    return done;
}

uint32_t posix_readable(plat_socket s) {
    if (!s) return 0;
    int count = 0;
    if (ioctl(posix_fd_of(s), FIONREAD, &count) != 0 || count < 0) return 0;
    return (uint32_t)count;
}

int posix_wait_readable(plat_socket s, int timeout_ms) {
    if (!s) return 0;
    struct pollfd p = {posix_fd_of(s), POLLIN, 0};
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
        n = recv(posix_fd_of(s), buffer, (size_t)length, 0);
    } while (n < 0 && errno == EINTR);
    return (int)n;
}

plat_socket posix_socket_pair(int *peer) {
    int fds[2];
    *peer = -1;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    *peer = fds[1];
    return handle_of(fds[0]);
}

void posix_close_socket(plat_socket s) {
    if (s) close(posix_fd_of(s));
}

// ------------------------------------------------------------------ clock

uint32_t posix_tick(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
    return (uint32_t)ms;
}
