// seam_connection.cpp - test connections made through plat_tcp_connect.
#include "support/seam_connection.h"
#include "support/seam_run_in.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/testweb.h"

namespace {

const int CONNECT_WAIT_MS = 2000;
const int ARRIVAL_WAIT_MS = 5000;

}  // namespace

int seam_send_some(int peer, const char *data, size_t n) {
    ssize_t k = send(peer, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k >= 0) return (int)k;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

int seam_connect(SeamConnection *c, size_t burst) {
    *c = SeamConnection();
    int port = 0;
    int listener = loopback_listen(1, &port);
    if (listener < 0) return 0;
    int connected = 0;
    c->socket = plat_tcp_connect(htonl(INADDR_LOOPBACK), (uint16_t)port, CONNECT_WAIT_MS, &connected);
    struct pollfd p = {listener, POLLIN, 0};
    if (c->socket && connected && poll(&p, 1, CONNECT_WAIT_MS) == 1)
        c->peer = accept(listener, nullptr, nullptr);
    close(listener);
    if (c->peer < 0) {
        if (c->socket) plat_close_socket(c->socket);
        c->socket = 0;
        return 0;
    }
    // Every write goes out at once, not held back for an acknowledgement.
    int on = 1;
    setsockopt(c->peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return seam_run_in(c, burst);
}

int seam_send(const SeamConnection &c, const std::string &bytes) {
    uint32_t before = plat_readable(c.socket);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t k = send(c.peer, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return 0;
        written += (size_t)k;
    }
    return seam_wait_readable_count(c.socket, before + (uint32_t)bytes.size(), ARRIVAL_WAIT_MS);
}

void seam_close_peer(SeamConnection *c) {
    if (c->peer >= 0) close(c->peer);
    c->peer = -1;
}
