// seam_run_in.cpp - see seam_run_in.h.
#include "support/seam_run_in.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

// Bytes streamed through between two tries at a whole burst.
const size_t RUN_IN_BYTES = 4u << 20;
const int RUN_IN_ROUNDS = 20;

// Reads whatever arrives on the socket until it has been quiet for quiet_ms.
void drain(plat_socket s, int quiet_ms) {
    char buffer[65536];
    while (plat_wait_readable(s, quiet_ms) && plat_recv(s, buffer, sizeof buffer) > 0) {
    }
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
        int k = seam_send_some(c.peer, bytes.data() + written, n - written);
        if (k < 0) break;
        if (k == 0) {
            stalls++;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        written += (size_t)k;
    }
    if (written == n && seam_wait_readable_count(c.socket, (uint32_t)n, 1000)) {
        take(c.socket, n);
        return 1;
    }
    drain(c.socket, 20);
    return 0;
}

// Streams bytes through the connection, reading as fast as they come, so
// that the receive window grows.
void run_in(const SeamConnection &c, size_t total) {
    std::vector<char> chunk(65536, 'r');
    std::vector<char> sink(65536);
    size_t written = 0;
    while (written < total) {
        int k = seam_send_some(c.peer, chunk.data(), chunk.size());
        if (k < 0) break;
        written += (size_t)k;
        while (plat_readable(c.socket) > 0) plat_recv(c.socket, sink.data(), (int)sink.size());
    }
    drain(c.socket, 20);
}

}  // namespace

int seam_wait_readable_count(plat_socket s, uint32_t n, int wait_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (plat_readable(s) < n) {
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return 1;
}

int seam_run_in(SeamConnection *c, size_t burst) {
    for (int round = 0; round < RUN_IN_ROUNDS; round++) {
        if (burst_arrives_whole(*c, burst)) return 1;
        run_in(*c, RUN_IN_BYTES);
    }
    seam_close_peer(c);
    plat_close_socket(c->socket);
    c->socket = 0;
    return 0;
}
