// bench_tls.cpp - the benchmark's TLS: the test backend with the program's
// own OpenSSL connections in place of its scripted stand-in, so that an
// https download is timed through the code the real program runs.
#include "platform/fake/fake_platform.h"
#include "platform/posix/posix_tls.h"

void fake_tls_reset(void) {}

plat_tls plat_tls_start(plat_socket s, const char *host) { return posix_tls_start(s, host); }
int plat_tls_handshake(plat_tls t) { return posix_tls_handshake(t); }
int plat_tls_send(plat_tls t, const void *data, int length) { return posix_tls_send(t, data, length); }
uint32_t plat_tls_readable(plat_tls t) { return posix_tls_readable(t); }
int plat_tls_recv(plat_tls t, void *buffer, int length) { return posix_tls_recv(t, buffer, length); }
int plat_tls_failure(plat_tls t, char *reason, int cap) { return posix_tls_failure(t, reason, cap); }
void plat_tls_close(plat_tls t) { posix_tls_close(t); }
