// bench_server.h - a loopback stream server for the engine benchmark.
//
// Answers "GET http://<host>/stream/<name>?size=N[&rate=B]" (proxy form) or
// the same path with a Host line: N bytes of a fixed pattern, from the
// requested range start when a Range header asks for one (206), at most B
// bytes per second per connection when rate is given.  One thread per
// connection; the connection is closed after the answer.  With TLS on, a
// CONNECT is answered 200 and the same streams are served over TLS inside
// the tunnel, with the certificate bench_make_certificates made.
#pragma once

#include <cstdint>
#include <string>

// Starts the server on a free loopback port; returns the port, 0 on failure.
int bench_server_start(void);
void bench_server_stop(void);
// Makes, with the openssl command, in the current folder: ca.pem (a private
// CA; hand it to the client with SSL_CERT_FILE or curl's --cacert) and
// server.pem / server.key (from that CA, for host).  1 on success.
int bench_make_certificates(const char *host);
// Has the server answer CONNECT with TLS from server.pem and server.key in
// the current folder; 1 on success.
int bench_server_use_tls(void);
// Byte k of every stream.
uint8_t bench_stream_byte(uint64_t k);
// 1 when the file at path holds exactly the first size stream bytes.
int bench_file_is_stream(const std::string &path, uint64_t size);
