// posix_instance.cpp - the request a second start sends the instance that
// already runs on the same list: "show your window", and its answer.
//
// The instances meet at a local socket in the abstract namespace: it lives
// as long as the listening descriptor, so a crashed instance leaves nothing
// behind that the next one would have to clean up.  Its name holds the user
// id and a hash of the key (the list file's absolute path), so instances on
// other lists, or of other users, never meet; as the abstract namespace has
// no permissions, both sides also check that the peer runs as this user.
//
// The exchange is fixed and short: the caller connects, sends REQUEST, and
// the instance answers ANSWER once it has taken the request.  The caller
// gives up when no answer comes within its time bound.
#include "platform/posix/posix_io.h"
#include "platform/instance_name.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char REQUEST[8] = {'Q', 'V', 'X', ' ', 'S', 'H', 'O', 'W'};
const char ANSWER = 'K';
// Starts that knock at once; more wait in the caller's own time bound.
const int LISTEN_BACKLOG = 8;

// The abstract address: a NUL, then the name (not NUL-terminated; the
// length given with the address ends it).
socklen_t instance_address(const char *key, struct sockaddr_un *sa) {
    memset(sa, 0, sizeof *sa);
    sa->sun_family = AF_UNIX;
    int n = snprintf(sa->sun_path + 1, sizeof sa->sun_path - 1, "quorvax-%lu-%016llx",
                     (unsigned long)getuid(), (unsigned long long)instance_key_hash(key));
    return (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + (size_t)n);
}

bool peer_is_this_user(int fd) {
    struct ucred cred;
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == getuid();
}

int64_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int posix_instance_signal(const char *key, int timeout_ms) {
    if (!key || !*key) return 0;
    const int64_t deadline = now_ms() + (timeout_ms > 0 ? timeout_ms : 0);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return 0;
    struct sockaddr_un sa;
    socklen_t len = instance_address(key, &sa);
    int answered = 0;
    // A local connect completes at once or fails at once (nobody listens,
    // or the listener's backlog is full: it is not answering anyway).
    int rc;
    do {
        rc = connect(fd, (struct sockaddr *)&sa, len);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0 && peer_is_this_user(fd) &&
        send(fd, REQUEST, sizeof REQUEST, MSG_NOSIGNAL) == (ssize_t)sizeof REQUEST) {
        for (;;) {
            int64_t left = deadline - now_ms();
            if (left <= 0) break;
            struct pollfd p = {fd, POLLIN, 0};
            int waited = poll(&p, 1, (int)left);
            if (waited < 0 && errno == EINTR) continue;
            if (waited <= 0) break;
            char reply = 0;
            ssize_t n = recv(fd, &reply, 1, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            answered = n == 1 && reply == ANSWER;
            break;
        }
    }
    close(fd);
    return answered;
}

int posix_instance_listen(const char *key) {
    if (!key || !*key) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    struct sockaddr_un sa;
    socklen_t len = instance_address(key, &sa);
    if (bind(fd, (struct sockaddr *)&sa, len) != 0 || listen(fd, LISTEN_BACKLOG) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int posix_instance_accept(int listen_fd) {
    if (listen_fd < 0) return -1;
    for (;;) {
        int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return -1;
        }
        if (peer_is_this_user(fd)) return fd;
        close(fd);
    }
}

// The request is sent in one call well below any buffer size, so it arrives
// whole: anything shorter, longer or different is not one of ours.
int posix_instance_read_request(int fd) {
    if (fd < 0) return -1;
    char got[sizeof REQUEST + 1];
    ssize_t n;
    do {
        n = recv(fd, got, sizeof got, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    if (n != (ssize_t)sizeof REQUEST || memcmp(got, REQUEST, sizeof REQUEST) != 0) return -1;
    return 1;
}

void posix_instance_answer(int fd) {
    if (fd < 0) return;
    ssize_t n;
    do {
        n = send(fd, &ANSWER, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
}

void posix_instance_close(int fd) {
    if (fd >= 0) close(fd);
}
