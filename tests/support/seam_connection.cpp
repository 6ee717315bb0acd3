// seam_connection.cpp - test connections made through plat_tcp_connect.
#include "support/seam_connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/testweb.h"

namespace {

const int CONNECT_WAIT_MS = 2000;
const int ARRIVAL_WAIT_MS = 5000;
// Bytes streamed through between two tries at a whole burst.
const size_t RUN_IN_BYTES = 4u << 20;
const int RUN_IN_ROUNDS = 20;

// Reads whatever arrives on the socket until it has been quiet for quiet_ms.
void drain(plat_socket s, int quiet_ms) {
    char buffer[65536];
    while (plat_wait_readable(s, quiet_ms) && plat_recv(s, buffer, sizeof buffer) > 0) {
    }
}

// Waits until at least n bytes are readable on the socket.
int wait_readable_count(plat_socket s, uint32_t n, int wait_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (plat_readable(s) < n) {
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return 1;
}

// Reads exactly n bytes off the socket.
void take(plat_socket s, size_t n) {
    char buffer[65536];
    while (n > 0) {
        int k = plat_recv(s, buffer, n < sizeof buffer ? (int)n : (int)sizeof buffer);
        if (k <= 0) return;
        n -= (size_t)k;
    }
}

// Writes n bytes into the peer without reading the socket; 1 when they all
// went out and arrived.  Empties the socket either way.
int burst_arrives_whole(const SeamConnection &c, size_t n) {
    std::vector<char> bytes(n, 'w');
    size_t written = 0;
    int stalls = 0;
    while (written < n && stalls < 100) {
        ssize_t k = send(c.peer, bytes.data() + written, n - written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            written += (size_t)k;
        } else if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            stalls++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (!(k < 0 && errno == EINTR)) {
            break;
        }
    }
    if (written == n && wait_readable_count(c.socket, (uint32_t)n, 1000)) {
        take(c.socket, n);
        return 1;
    }
    drain(c.socket, 20);
    return 0;
}

// Streams bytes through the connection, reading as fast as they come.
void run_in(const SeamConnection &c, size_t total) {
    std::vector<char> chunk(65536, 'r');
    std::vector<char> sink(65536);
    size_t written = 0;
    while (written < total) {
        ssize_t k = send(c.peer, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) written += (size_t)k;
        else if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        while (plat_readable(c.socket) > 0) plat_recv(c.socket, sink.data(), (int)sink.size());
    }
    drain(c.socket, 20);
}

}  // namespace

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
    for (int round = 0; round < RUN_IN_ROUNDS; round++) {
        if (burst_arrives_whole(*c, burst)) return 1;
        run_in(*c, RUN_IN_BYTES);
    }
    seam_close_peer(c);
    plat_close_socket(c->socket);
    c->socket = 0;
    return 0;
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
    return wait_readable_count(c.socket, before + (uint32_t)bytes.size(), ARRIVAL_WAIT_MS);
}

void seam_close_peer(SeamConnection *c) {
    if (c->peer >= 0) close(c->peer);
    c->peer = -1;
}
