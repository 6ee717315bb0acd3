// posix_tls.cpp - TLS client connections on POSIX sockets with OpenSSL.
//
// Sections: [CONTEXT] [CONNECTIONS] [FAILURES] [HANDSHAKE] [DATA]
//
// The program polls: each timer tick it asks how many bytes are readable
// and takes exactly those.  OpenSSL reads ahead, so the socket may be empty
// while OpenSSL holds whole records, decrypted or not; a tick that only
// asked the socket would stall until the peer sent more.  So every
// connection decrypts whatever it can reach into a buffer of its own
// (DECRYPTED_CAP), and "readable" is what that buffer holds.  The socket is
// non-blocking from the start of TLS to its end, so no OpenSSL call waits.
// OpenSSL writes to the socket with write(): a write to a closed connection
// raises SIGPIPE, which plat_net_start has the process ignore.
#include "platform/posix/posix_tls.h"
#include "platform/posix/posix_io.h"
#include "platform/tls_failure.h"
#include "platform/tls_hand_out.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <poll.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

// Decrypted bytes a connection holds for its reader: as much as the
// program's receive buffer takes in one tick (1,376,256 bytes), so that at
// one tick every 25 ms a TLS download is bounded where a plain one is,
// about 55 MB/s, not by this buffer.  Allocated at the start, freed at the
// close.
const int DECRYPTED_CAP = 1344 * 1024;
// Open connections at a time (far above the program's parallel downloads).
const int CONNECTIONS_MAX = 64;
// How long plat_tls_send waits for room in all.
const int SEND_WAIT_MS = 10000;

enum Phase { PHASE_HANDSHAKE, PHASE_OPEN, PHASE_PEER_CLOSED, PHASE_FAILED };

struct TlsConnection {
    SSL *ssl;
    int fd;
    Phase phase;
    int failure;                 // a PlatTlsFailure once phase is PHASE_FAILED
    char *decrypted;             // DECRYPTED_CAP bytes
    int start, end;              // the bytes not yet taken: decrypted[start, end)
};

TlsConnection *connections[CONNECTIONS_MAX];

}  // namespace

// -------------------------------------------------------------- [CONTEXT]

// One client context for the process, made at the first start: the
// system's trust store as OpenSSL finds it (SSL_CERT_FILE and SSL_CERT_DIR
// name other ones, which is how tests hand in a private CA), every peer
// verified, TLS 1.2 at least.
static SSL_CTX *client_context(void) {
    static SSL_CTX *context = nullptr;
    if (context) return context;
    SSL_CTX *c = SSL_CTX_new(TLS_client_method());
    if (!c) return nullptr;
    if (SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(c) != 1) {
        SSL_CTX_free(c);
        return nullptr;
    }
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    // Whole records come off the socket in as few reads as it allows.
    SSL_CTX_set_read_ahead(c, 1);
    // Many servers end a response by closing the connection without the
    // close notice; the length the HTTP headers announce tells a cut-off
    // answer, so such an end counts as a close, not as an error.
    SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    context = c;
    return context;
}

// ---------------------------------------------------------- [CONNECTIONS]

static TlsConnection *connection_of(plat_tls t) {
    if (t < 1 || t > (plat_tls)CONNECTIONS_MAX) return nullptr;
    return connections[t - 1];
}

static bool is_address(const char *host) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, host, bytes) == 1 || inet_pton(AF_INET6, host, bytes) == 1;
}

plat_tls posix_tls_start(plat_socket s, const char *host) {
    if (!s || !host || !*host) return 0;
    int slot = 0;
    while (slot < CONNECTIONS_MAX && connections[slot]) slot++;
    if (slot == CONNECTIONS_MAX) return 0;
    SSL_CTX *context = client_context();
    if (!context) return 0;
    TlsConnection *c = new (std::nothrow) TlsConnection();
    if (!c) return 0;
    c->fd = posix_fd_of(s);
    c->decrypted = (char *)malloc(DECRYPTED_CAP);
    c->ssl = SSL_new(context);
    bool named = false;
    if (c->ssl && c->decrypted && SSL_set_fd(c->ssl, c->fd) == 1) {
        if (is_address(host)) {
            named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(c->ssl), host) == 1;
        } else {
            named = SSL_set_tlsext_host_name(c->ssl, host) == 1 &&
                    SSL_set1_host(c->ssl, host) == 1;
        }
    }
    if (!named) {
        SSL_free(c->ssl);
        free(c->decrypted);
        delete c;
        return 0;
    }
    SSL_set_connect_state(c->ssl);
    posix_set_nonblocking(c->fd, true);
    c->phase = PHASE_HANDSHAKE;
    connections[slot] = c;
    return (plat_tls)slot + 1;
}

void posix_tls_close(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c) return;
    // The close notice goes out only on a sound connection, and only as far
    // as the socket takes it now; the peer's answer is not waited for.
    if (c->phase == PHASE_OPEN || c->phase == PHASE_PEER_CLOSED) {
        ERR_clear_error();
        SSL_shutdown(c->ssl);
    }
    ERR_clear_error();
    SSL_free(c->ssl);
    free(c->decrypted);
    posix_set_nonblocking(c->fd, false);
    delete c;
    connections[t - 1] = nullptr;
}

// ------------------------------------------------------------- [FAILURES]

int posix_tls_failure(plat_tls t, char *reason, int cap) {
    TlsConnection *c = connection_of(t);
    int failure = !c ? PLAT_TLS_OTHER : c->phase == PHASE_FAILED ? c->failure : PLAT_TLS_OK;
    tls_failure_reason(failure, reason, cap);
    return failure;
}

// What a failed OpenSSL call (its SSL_get_error code) means.  A refused
// certificate shows in the verification result, whatever the call said.
static int failure_of(TlsConnection *c, int ssl_error) {
    long verified = SSL_get_verify_result(c->ssl);
    switch (verified) {
    case X509_V_OK: break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: return PLAT_TLS_EXPIRED;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return PLAT_TLS_WRONG_NAME;
    default: return PLAT_TLS_UNTRUSTED;   // no path to a root we trust
    }
    switch (ssl_error) {
    case SSL_ERROR_SSL: return PLAT_TLS_PROTOCOL;
    case SSL_ERROR_ZERO_RETURN:
    case SSL_ERROR_SYSCALL: return PLAT_TLS_CLOSED;   // end of stream or a reset
    default: return PLAT_TLS_OTHER;
    }
}

static void fail(TlsConnection *c, int ssl_error) {
    c->failure = failure_of(c, ssl_error);
    c->phase = PHASE_FAILED;
    ERR_clear_error();
}

// ------------------------------------------------------------ [HANDSHAKE]

int posix_tls_handshake(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c || c->phase == PHASE_FAILED) return -1;
    if (c->phase != PHASE_HANDSHAKE) return 1;
    ERR_clear_error();
    int rc = SSL_do_handshake(c->ssl);
    if (rc == 1) {
        c->phase = PHASE_OPEN;
        return 1;
    }
    int error = SSL_get_error(c->ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return 0;
    // A handshake that ends in a clean close is the peer hanging up, even
    // when OpenSSL files it under the protocol.
    if (error == SSL_ERROR_SSL &&
        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        error = SSL_ERROR_SYSCALL;
    fail(c, error);
    return -1;
}

// ----------------------------------------------------------------- [DATA]

int posix_tls_send(plat_tls t, const void *data, int length) {
    TlsConnection *c = connection_of(t);
    if (!c || length < 0 || (c->phase != PHASE_OPEN && c->phase != PHASE_PEER_CLOSED))
        return -1;
    if (length == 0) return 0;
    int waited = 0;
    for (;;) {
        ERR_clear_error();
        size_t written = 0;
        int rc = SSL_write_ex(c->ssl, data, (size_t)length, &written);
        if (rc == 1) return (int)written;   // all of it: partial writes are off
        int error = SSL_get_error(c->ssl, rc);
        short wanted = error == SSL_ERROR_WANT_WRITE ? POLLOUT
                       : error == SSL_ERROR_WANT_READ ? POLLIN : 0;
        if (!wanted) {
            fail(c, error);
            return -1;
        }
        if (waited >= SEND_WAIT_MS) {   // the peer takes nothing in
            c->failure = PLAT_TLS_OTHER;
            c->phase = PHASE_FAILED;
            return -1;
        }
        struct pollfd p = {c->fd, wanted, 0};
        const int slice = 50;
        if (poll(&p, 1, slice) <= 0) waited += slice;
    }
}

// Decrypts into the connection's buffer whatever has arrived, stopping when
// OpenSSL wants more from an empty socket or the buffer is full.  Messages
// that carry no data (TLS 1.3 session tickets, key updates) are taken in
// by OpenSSL on the way and show as "wants more".
static void take_in(TlsConnection *c) {
    if (c->phase != PHASE_OPEN) return;
    if (c->start == c->end) c->start = c->end = 0;
    if (c->start > 0 && c->end == DECRYPTED_CAP) {
        memmove(c->decrypted, c->decrypted + c->start, (size_t)(c->end - c->start));
        c->end -= c->start;
        c->start = 0;
    }
    while (c->end < DECRYPTED_CAP) {
        ERR_clear_error();
        size_t got = 0;
        int rc = SSL_read_ex(c->ssl, c->decrypted + c->end, (size_t)(DECRYPTED_CAP - c->end),
                             &got);
        if (rc == 1) {
            c->end += (int)got;
            continue;
        }
        int error = SSL_get_error(c->ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return;
        if (error == SSL_ERROR_ZERO_RETURN) {
            c->phase = PHASE_PEER_CLOSED;
            return;
        }
        fail(c, error);
        return;
    }
}

uint32_t posix_tls_readable(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c) return 0;
    take_in(c);
    return (uint32_t)(c->end - c->start);
}

int posix_tls_recv(plat_tls t, void *buffer, int length) {
    TlsConnection *c = connection_of(t);
    if (!c || length <= 0 || c->phase == PHASE_HANDSHAKE) return -1;
    if (c->start == c->end) take_in(c);
    return tls_hand_out(c->decrypted, &c->start, c->end, buffer, length, c->phase == PHASE_PEER_CLOSED,
                        c->phase == PHASE_FAILED);
}

int posix_tls_library_pending(plat_tls t) {
    TlsConnection *c = connection_of(t);
    return c ? SSL_pending(c->ssl) : 0;
}

const char *posix_tls_version(plat_tls t) {
    TlsConnection *c = connection_of(t);
    return c ? SSL_get_version(c->ssl) : "";
}
