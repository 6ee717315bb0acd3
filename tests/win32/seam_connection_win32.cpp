// seam_connection_win32.cpp - support/seam_connection.h on Windows: the
// program's end is a plat_socket from plat_tcp_connect, the test's end the
// connection a Winsock loopback listener accepted, kept as its SOCKET value
// (SOCKET fits an int on 32-bit Windows; INVALID_SOCKET reads as -1).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/seam_connection.h"
#include "support/seam_run_in.h"

namespace {

const int CONNECT_WAIT_MS = 2000;
const int ARRIVAL_WAIT_MS = 5000;

SOCKET peer_of(const SeamConnection &c) { return (SOCKET)(unsigned)c.peer; }

// A listening socket on a free loopback port, or INVALID_SOCKET.
SOCKET listen_on_loopback(int *port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof sa;
    if (bind(s, (sockaddr *)&sa, sizeof sa) != 0 || listen(s, 1) != 0 ||
        getsockname(s, (sockaddr *)&sa, &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(sa.sin_port);
    return s;
}

}  // namespace

int seam_send_some(int peer, const char *data, size_t n) {
    SeamConnection c;
    c.peer = peer;
    SOCKET s = peer_of(c);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    int k = send(s, data, (int)n, 0);
    int error = k < 0 ? WSAGetLastError() : 0;
    u_long off = 0;
    ioctlsocket(s, FIONBIO, &off);
    if (k < 0) return error == WSAEWOULDBLOCK ? 0 : -1;
    return k;
}

int seam_connect(SeamConnection *c, size_t burst) {
    *c = SeamConnection();
    // The test's own sockets come before any of the program's: Winsock is
    // started here too (starts are counted; one more costs nothing).
    static WSADATA wsa;
    static int started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    if (!started) return 0;
    int port = 0;
    SOCKET listener = listen_on_loopback(&port);
    if (listener == INVALID_SOCKET) return 0;
    int connected = 0;
    c->socket = plat_tcp_connect(htonl(INADDR_LOOPBACK), (uint16_t)port, CONNECT_WAIT_MS, &connected);
    if (c->socket && connected) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval wait = {CONNECT_WAIT_MS / 1000, (CONNECT_WAIT_MS % 1000) * 1000};
        if (select(0, &ready, nullptr, nullptr, &wait) == 1) {
            SOCKET peer = accept(listener, nullptr, nullptr);
            if (peer != INVALID_SOCKET) c->peer = (int)peer;
        }
    }
    closesocket(listener);
    if (c->peer < 0) {
        if (c->socket) plat_close_socket(c->socket);
        c->socket = 0;
        return 0;
    }
    // Every write goes out at once, not held back for an acknowledgement.
    BOOL on = TRUE;
    setsockopt(peer_of(*c), IPPROTO_TCP, TCP_NODELAY, (const char *)&on, sizeof on);
    return seam_run_in(c, burst);
}

int seam_send(const SeamConnection &c, const std::string &bytes) {
    uint32_t before = plat_readable(c.socket);
    size_t written = 0;
    while (written < bytes.size()) {
        int k = send(peer_of(c), bytes.data() + written, (int)(bytes.size() - written), 0);
        if (k <= 0) return 0;
        written += (size_t)k;
    }
    return seam_wait_readable_count(c.socket, before + (uint32_t)bytes.size(), ARRIVAL_WAIT_MS);
}

void seam_close_peer(SeamConnection *c) {
    if (c->peer >= 0) closesocket(peer_of(*c));
    c->peer = -1;
}
