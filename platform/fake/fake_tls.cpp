// fake_tls.cpp - the test backend's TLS: no cryptography, a handshake that
// takes as many steps as the test says and ends as it says, and bytes held
// inside the connection while the socket is empty (fake_platform.h says how
// to drive it).  Sending and receiving go through the fake's own socket
// operations, so its injected receive faults hit TLS reads too.
#include <cstring>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "platform/posix/posix_io.h"
#include "platform/tls_failure.h"

namespace {

struct FakeTlsState {
    FakeTlsScript script;
    std::vector<FakeTls> connections;
    std::vector<FakeTlsScript> scripts;   // the script each connection started with
};

FakeTlsState &tls() {
    static FakeTlsState s;
    return s;
}

// The open connection of a handle, or null (unknown or closed).
FakeTls *open_connection(plat_tls t) {
    std::vector<FakeTls> &all = tls().connections;
    if (t < 1 || t > all.size() || all[t - 1].closed) return nullptr;
    return &all[t - 1];
}

bool handshake_done(plat_tls t) {
    FakeTls *c = open_connection(t);
    return c && c->failure == PLAT_TLS_OK &&
           c->handshake_calls >= tls().scripts[t - 1].handshake_steps;
}

// Moves the socket's waiting bytes inside the connection (hold_arrivals).
void pull_arrivals(plat_tls t, FakeTls *c) {
    if (!tls().scripts[t - 1].hold_arrivals) return;
    char chunk[65536];
    uint32_t waiting;
    while ((waiting = posix_readable(c->socket)) > 0) {
        int n = posix_recv(c->socket, chunk, waiting < sizeof chunk ? (int)waiting : (int)sizeof chunk);
        if (n <= 0) break;
        c->held.append(chunk, (size_t)n);
    }
}

}  // namespace

void fake_tls_reset(void) { tls() = FakeTlsState(); }
void fake_tls_script(const FakeTlsScript &script) { tls().script = script; }
std::vector<FakeTls> &fake_tls_connections(void) { return tls().connections; }

void fake_tls_hold(plat_tls t, const std::string &bytes) {
    if (FakeTls *c = open_connection(t)) c->held += bytes;
}

plat_tls plat_tls_start(plat_socket s, const char *host) {
    FakeTlsState &state = tls();
    if (!s || !host || state.script.start_fails) return 0;
    state.connections.push_back(FakeTls{s, host, 0, PLAT_TLS_OK, std::string(), false});
    state.scripts.push_back(state.script);
    return (plat_tls)state.connections.size();
}

int plat_tls_handshake(plat_tls t) {
    FakeTls *c = open_connection(t);
    if (!c || c->failure != PLAT_TLS_OK) return -1;
    const FakeTlsScript &script = tls().scripts[t - 1];
    if (c->handshake_calls < script.handshake_steps) c->handshake_calls++;
    if (c->handshake_calls < script.handshake_steps) return 0;
    if (script.failure != PLAT_TLS_OK) {
        c->failure = script.failure;
        return -1;
    }
    return 1;
}

int plat_tls_send(plat_tls t, const void *data, int length) {
    if (!handshake_done(t)) return -1;
    return posix_send(open_connection(t)->socket, data, length);
}

uint32_t plat_tls_readable(plat_tls t) {
    if (!handshake_done(t)) return 0;
    FakeTls *c = open_connection(t);
    pull_arrivals(t, c);
    return (uint32_t)c->held.size() + posix_readable(c->socket);
}

int plat_tls_recv(plat_tls t, void *buffer, int length) {
    if (!handshake_done(t) || length <= 0) return -1;
    FakeTls *c = open_connection(t);
    pull_arrivals(t, c);
    // Held bytes first, then what waits on the socket, as one read.
    int n = (int)c->held.size() < length ? (int)c->held.size() : length;
    memcpy(buffer, c->held.data(), (size_t)n);
    c->held.erase(0, (size_t)n);
    if (n == length || (n > 0 && posix_readable(c->socket) == 0)) return n;
    if (n == 0 && !posix_wait_readable(c->socket, 0)) return PLAT_TLS_WOULD_BLOCK;
    int got = plat_recv(c->socket, (char *)buffer + n, length - n);
    if (got <= 0) return n > 0 ? n : got;
    return n + got;
}

int plat_tls_failure(plat_tls t, char *reason, int cap) {
    std::vector<FakeTls> &all = tls().connections;
    int failure = t >= 1 && t <= all.size() ? all[t - 1].failure : PLAT_TLS_OTHER;
    tls_failure_reason(failure, reason, cap);
    return failure;
}

void plat_tls_close(plat_tls t) {
    if (FakeTls *c = open_connection(t)) c->closed = true;
}
