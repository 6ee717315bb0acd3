// scripted_connect.h - the test's end of a connect scripted on the test
// backend (fake_connects()[k].peer): what the program has sent on it.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <string>

// What the program's end has sent so far, without waiting; *closed (when
// given) is set once the program's end has been closed.
inline std::string peer_bytes(int peer, bool *closed = nullptr) {
    std::string got;
    char buffer[4096];
    if (closed) *closed = false;
    for (;;) {
        struct pollfd p = {peer, POLLIN, 0};
        if (poll(&p, 1, 0) != 1) return got;
        ssize_t n = recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            return got;
        }
        got.append(buffer, (size_t)n);
    }
}
