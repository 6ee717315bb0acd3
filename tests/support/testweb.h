// testweb.h - the demo web (tests/testweb/testweb.py) as a subprocess on a
// loopback port, and raw-socket helpers for talking to it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

struct TestWeb {
    pid_t pid = -1;
    int port = 0;
    int stdin_fd = -1;   // closing it makes the server exit
    // TLS listeners (testweb_start_tls), by certificate: 0 when none.
    int tls_good = 0, tls_wrong_name = 0, tls_untrusted = 0, tls_expired = 0;
    int tls_12 = 0;   // the good certificate, TLS 1.2 at most
    // The good certificate, TLS 1.0 and 1.1 only; 0 also where the server's
    // OpenSSL cannot speak them (the one listener a start may lack).
    int tls_11 = 0;
};

// Starts the server on a free port and waits for its "PORT n" line.
// log_path, when given, receives every raw request.  1 on success.
int testweb_start(TestWeb *web, const char *log_path = nullptr);
// The same, serving over TLS too, with certificates made in cert_dir (the
// test CA is cert_dir/ca.pem).  1 when every listener came up (tls_11
// aside).
int testweb_start_tls(TestWeb *web, const char *cert_dir);
// Stops the server and waits for it.
void testweb_stop(TestWeb *web);
// One server for the whole test run, started on first use and stopped when
// the test program exits.  Its port is 0 when it could not be started.
TestWeb &shared_testweb(void);

// Byte k of the demo stream called name, as the server sends it.
uint8_t testweb_stream_byte(const std::string &name, uint64_t k);
std::string testweb_stream_bytes(const std::string &name, uint64_t start, uint64_t count);

// How a raw exchange ended.
enum ExchangeEnd { END_CLOSED, END_RESET, END_TIMEOUT, END_NO_CONNECTION };

// Connects to 127.0.0.1:port (blocking); the socket, or -1.
int loopback_connect(int port);
// Sends request and reads until the server closes, the connection resets,
// max_bytes have arrived, or nothing arrives for idle_ms.
std::string http_exchange(int port, const std::string &request, ExchangeEnd *end = nullptr,
                          int idle_ms = 5000, size_t max_bytes = (size_t)-1);
// Splits an answer into its head (up to the blank line) and body.
void split_answer(const std::string &answer, std::string *head, std::string *body);
// Value of a header line in a head ("" when absent), name without colon.
std::string header_value(const std::string &head, const std::string &name);
// Status code of an answer's first line, 0 when there is none.
int status_code(const std::string &answer);

// A socket listening on a free loopback port with the given backlog, or -1;
// its port in *port (0 on failure).  Nothing accepts unless the caller does.
int loopback_listen(int backlog, int *port);

// A listening loopback socket whose accept queue is full: connects to it
// are left unanswered, as with a silent or black-holed host.  The fillers
// hold the queue; release both with close_silent_listener.
struct SilentListener {
    int listen_fd = -1;
    int port = 0;
    int fillers[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};
int open_silent_listener(SilentListener *l);
void close_silent_listener(SilentListener *l);
// A loopback port on which nothing listens (connects are refused).
int closed_loopback_port(void);
