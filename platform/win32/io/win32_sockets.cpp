// win32_sockets.cpp - TCP sockets and name look-up on Windows (Winsock 2.2).
//
// Sockets are used in the ordinary blocking mode; reads ask only for the
// bytes already waiting (FIONREAD), so they never block.  Only a connect
// that must not hold the window runs in non-blocking mode, and the socket
// goes back to blocking mode once the connect has been answered.
//
// Sections: [HANDLES] [START] [LOOK-UP] [CONNECT] [TRANSFER]
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/win32/io/win32_io.h"

// ---------------------------------------------------------------- [HANDLES]

// plat_socket carries the SOCKET itself (32 bits wide on 32-bit Windows);
// a socket Windows hands out is never 0, so 0 can stand for none.
static_assert(sizeof(void *) == 4, "the Windows backend is built for 32-bit Windows only");
static_assert(sizeof(SOCKET) == sizeof(plat_socket), "a SOCKET fits the 32-bit plat_socket");

static SOCKET socket_of(plat_socket s) { return (SOCKET)s; }

// ------------------------------------------------------------------ [START]

int plat_net_start(void) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return 0;
    }
    return 1;
}

void plat_net_stop(void) { WSACleanup(); }

// ---------------------------------------------------------------- [LOOK-UP]

// getaddrinfo has no time limit of its own: a name server that does not
// answer holds it for as long as the resolver's retries take.  So each
// look-up of a name runs on a worker thread, and the caller stops waiting
// after timeout_ms; an abandoned worker finishes on its own and frees its
// job.  At most LOOKUP_WORKERS_MAX workers exist at a time: a call that
// finds them all busy (the name server is hanging) fails at once instead of
// starting more.  A dotted address needs no worker.

namespace {

const int LOOKUP_WORKERS_MAX = 4;

struct LookupJob {
    char host[256];
    Win32Lookup lookup;
    HANDLE finished;   // set by the worker when it is done
    uint32_t address;
    int found;
    bool done;         // guarded by lookup_lock
    bool abandoned;    // the caller stopped waiting: the worker frees the job
};

// The lock is made on first use, by whichever thread comes first; the
// others wait until it is ready.
CRITICAL_SECTION lookup_lock;
volatile LONG lookup_lock_state = 0;   // 0 not made, 1 being made, 2 ready
int lookup_workers = 0;

void lookup_lock_ready(void) {
    if (InterlockedCompareExchange(&lookup_lock_state, 1, 0) == 0) {
        InitializeCriticalSection(&lookup_lock);
        InterlockedExchange(&lookup_lock_state, 2);
    }
    while (lookup_lock_state != 2) Sleep(0);
}

void free_job(LookupJob *job) {
    CloseHandle(job->finished);
    delete job;
}

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

Win32Lookup lookup_function = system_lookup;   // guarded by lookup_lock

DWORD WINAPI lookup_worker(void *arg) {
    LookupJob *job = (LookupJob *)arg;
    uint32_t address = 0;
    int found = job->lookup(job->host, &address);
    EnterCriticalSection(&lookup_lock);
    lookup_workers--;
    if (job->abandoned) {
        free_job(job);
    } else {
        job->address = address;
        job->found = found;
        job->done = true;
        SetEvent(job->finished);
    }
    LeaveCriticalSection(&lookup_lock);
    return 0;
}

// Four decimal numbers of 0..255 joined by dots, nothing else: the strict
// form (no shortened, octal or hexadecimal forms that inet_addr would also
// take, no leading zeros).  1 and the address in network order.
int parse_dotted(const char *text, uint32_t *address) {
    uint8_t octets[4];
    const char *p = text;
    for (int k = 0; k < 4; k++) {
        if (k > 0 && *p++ != '.') return 0;
        if (*p < '0' || *p > '9') return 0;
        if (*p == '0' && p[1] >= '0' && p[1] <= '9') return 0;
        int value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p++ - '0');
            if (value > 255) return 0;
        }
        octets[k] = (uint8_t)value;
    }
    if (*p) return 0;
    memcpy(address, octets, 4);
    return 1;
}

}  // namespace

void win32_set_lookup(Win32Lookup lookup) {
    lookup_lock_ready();
    EnterCriticalSection(&lookup_lock);
    lookup_function = lookup ? lookup : system_lookup;
    LeaveCriticalSection(&lookup_lock);
}

int win32_lookups_running(void) {
    lookup_lock_ready();
    EnterCriticalSection(&lookup_lock);
    int running = lookup_workers;
    LeaveCriticalSection(&lookup_lock);
    return running;
}

int plat_resolve(const char *host, uint32_t *address, int timeout_ms) {
    if (!host || !*host || strlen(host) >= sizeof(LookupJob::host)) return 0;
    if (parse_dotted(host, address)) return 1;
    lookup_lock_ready();
    LookupJob *job = new (std::nothrow) LookupJob();
    if (!job) return 0;
    strcpy(job->host, host);
    job->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!job->finished) {
        delete job;
        return 0;
    }

    EnterCriticalSection(&lookup_lock);
    job->lookup = lookup_function;
    HANDLE thread = nullptr;
    if (lookup_workers < LOOKUP_WORKERS_MAX)
        thread = CreateThread(nullptr, 0, lookup_worker, job, 0, nullptr);
    if (!thread) {
        LeaveCriticalSection(&lookup_lock);
        free_job(job);
        return 0;
    }
    CloseHandle(thread);
    lookup_workers++;
    LeaveCriticalSection(&lookup_lock);

    WaitForSingleObject(job->finished, timeout_ms < 0 ? 0 : (DWORD)timeout_ms);
    int found = 0;
    EnterCriticalSection(&lookup_lock);
    if (job->done) {
        found = job->found;
        if (found) *address = job->address;
        free_job(job);
    } else {
        job->abandoned = true;
    }
    LeaveCriticalSection(&lookup_lock);
    return found;
}

// ---------------------------------------------------------------- [CONNECT]

static void set_blocking(SOCKET s) {
    u_long non_blocking = 0;
    ioctlsocket(s, FIONBIO, &non_blocking);
}

plat_socket plat_tcp_connect_start(uint32_t address, uint16_t port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    u_long non_blocking = 1;
    if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
        closesocket(s);
        return 0;
    }
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    // WSAEWOULDBLOCK is the usual answer: the handshake goes on by itself.
    // A connect that ended at once, made or refused, is told apart by
    // plat_connect_result like any other.
    connect(s, (struct sockaddr *)&sa, sizeof sa);
    return (plat_socket)s;
}

// Waits at most timeout_ms for the connect under way on sock to be answered;
// select's count, and in *writable whether the socket came out writable and
// not in the except set.
static int wait_for_connect(SOCKET sock, int timeout_ms, bool *writable) {
    fd_set write_set, failed_set;
    FD_ZERO(&write_set);
    FD_ZERO(&failed_set);
    FD_SET(sock, &write_set);
    FD_SET(sock, &failed_set);
    struct timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int rc = select(0, nullptr, &write_set, &failed_set, &wait);
    *writable = rc > 0 && FD_ISSET(sock, &write_set) && !FD_ISSET(sock, &failed_set);
    return rc;
}

// Writable means connected; the except set holds a socket whose
// non-blocking connect failed.  A socket in neither is still connecting.
// A socket that reports writable is checked once more for a peer, so that
// a failure is never taken for a connection.
int plat_connect_result(plat_socket s) {
    if (!s) return -1;
    SOCKET sock = socket_of(s);
    bool writable = false;
    int rc = wait_for_connect(sock, 0, &writable);
    if (rc == 0) return 0;
    int result = 1;
    struct sockaddr_in peer;
    int peer_length = sizeof peer;
    if (rc == SOCKET_ERROR || !writable || getpeername(sock, (struct sockaddr *)&peer, &peer_length) != 0)
        result = -1;
    set_blocking(sock);
    return result;
}

// Connects without blocking for longer than timeout_ms: a silent or
// black-holed host would otherwise freeze the window for a long time.
plat_socket plat_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    *connected = 0;
    plat_socket s = plat_tcp_connect_start(address, port);
    if (!s) return 0;
    SOCKET sock = socket_of(s);
    bool writable = false;
    wait_for_connect(sock, timeout_ms < 0 ? 0 : timeout_ms, &writable);
    *connected = plat_connect_result(s) == 1;
    set_blocking(sock);   // also after a connect still under way
    return s;
}

// --------------------------------------------------------------- [TRANSFER]

// A blocking send hands over all the bytes in one call, or fails.
int plat_send(plat_socket s, const void *data, int length) {
    if (!s || length < 0) return -1;
    int sent = send(socket_of(s), (const char *)data, length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

uint32_t plat_readable(plat_socket s) {
    if (!s) return 0;
    u_long count = 0;
    if (ioctlsocket(socket_of(s), FIONREAD, &count) != 0) return 0;
    return (uint32_t)count;
}

// A negative timeout_ms waits for as long as it takes.
int plat_wait_readable(plat_socket s, int timeout_ms) {
    if (!s) return 0;
    SOCKET sock = socket_of(s);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    struct timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int rc = select(0, &readable, nullptr, nullptr, timeout_ms < 0 ? nullptr : &wait);
    return rc == 1;
}

int plat_recv(plat_socket s, void *buffer, int length) {
    if (!s || length <= 0) return -1;
    int n = recv(socket_of(s), (char *)buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void plat_close_socket(plat_socket s) {
    if (s) closesocket(socket_of(s));
}
