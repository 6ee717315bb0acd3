// posix_tls.h - TLS client connections on POSIX sockets with OpenSSL.  The
// [TLS] operations of the Qt program forward to them
// (posix_plat_direct.cpp); the test backend has a scripted stand-in of its
// own, and the tests of this code call these directly.
#pragma once

#include <cstdint>

#include "platform/platform.h"

plat_tls posix_tls_start(plat_socket s, const char *host);
int posix_tls_handshake(plat_tls t);
int posix_tls_send(plat_tls t, const void *data, int length);
uint32_t posix_tls_readable(plat_tls t);
int posix_tls_recv(plat_tls t, void *buffer, int length);
int posix_tls_failure(plat_tls t, char *reason, int cap);
void posix_tls_close(plat_tls t);

// For tests: decrypted bytes OpenSSL itself still holds for the connection
// (SSL_pending), which plat_tls_readable must already have taken in.
int posix_tls_library_pending(plat_tls t);
// For tests: the protocol version the handshake agreed on ("TLSv1.3"...).
const char *posix_tls_version(plat_tls t);
