#include "support/testweb.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef QUORVAX_SOURCE_DIR
#define QUORVAX_SOURCE_DIR "."
#endif

// ------------------------------------------------------------ the server

// Starts testweb.py with extra options and reads what it prints at start:
// "TLS <kind> <port>" lines, then "PORT <n>".
static int start_with(TestWeb *web, const char *option, const char *value) {
    int out_pipe[2], in_pipe[2];
    if (pipe(out_pipe) != 0) return 0;
    if (pipe(in_pipe) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return 0;
    }
    std::string script = std::string(QUORVAX_SOURCE_DIR) + "/tests/testweb/testweb.py";
    pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        if (option)
            execlp("python3", "python3", script.c_str(), "--port", "0", "--exit-on-stdin-eof",
                   option, value, (char *)nullptr);
        else
            execlp("python3", "python3", script.c_str(), "--port", "0", "--exit-on-stdin-eof",
                   (char *)nullptr);
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    fcntl(in_pipe[1], F_SETFD, FD_CLOEXEC);
    web->pid = pid;
    web->stdin_fd = in_pipe[1];
    web->port = 0;
    // Reads up to the PORT line, waiting at most 20 s for the interpreter.
    std::string text;
    struct pollfd p = {out_pipe[0], POLLIN, 0};
    while ((text.compare(0, 5, "PORT ") != 0 && text.find("\nPORT ") == std::string::npos) ||
           text.back() != '\n') {
        if (poll(&p, 1, 20000) != 1) break;
        char c[64];
        ssize_t n = read(out_pipe[0], c, sizeof c);
        if (n <= 0) break;
        text.append(c, (size_t)n);
    }
    close(out_pipe[0]);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        char kind[32];
        int port = 0;
        if (sscanf(line.c_str(), "TLS %31s %d", kind, &port) == 2) {
            std::string k = kind;
            if (k == "good") web->tls_good = port;
            if (k == "wrongname") web->tls_wrong_name = port;
            if (k == "untrusted") web->tls_untrusted = port;
            if (k == "expired") web->tls_expired = port;
            if (k == "tls12") web->tls_12 = port;
            if (k == "tls11") web->tls_11 = port;
        }
        sscanf(line.c_str(), "PORT %d", &web->port);
    }
    if (web->port <= 0) {
        testweb_stop(web);
        return 0;
    }
    return 1;
}

int testweb_start(TestWeb *web, const char *log_path) {
    return start_with(web, log_path ? "--log" : nullptr, log_path);
}

int testweb_start_tls(TestWeb *web, const char *cert_dir) {
    return start_with(web, "--tls-dir", cert_dir) && web->tls_good && web->tls_wrong_name &&
           web->tls_untrusted && web->tls_expired && web->tls_12;
}

void testweb_stop(TestWeb *web) {
    if (web->stdin_fd >= 0) close(web->stdin_fd);
    web->stdin_fd = -1;
    if (web->pid > 0) {
        kill(web->pid, SIGTERM);
        int status;
        waitpid(web->pid, &status, 0);
    }
    web->pid = -1;
    web->port = 0;
    web->tls_good = web->tls_wrong_name = web->tls_untrusted = web->tls_expired = web->tls_12 =
        web->tls_11 = 0;
}

static TestWeb shared_web;
static void stop_shared_web(void) { testweb_stop(&shared_web); }

TestWeb &shared_testweb(void) {
    static bool tried = false;
    if (!tried) {
        tried = true;
        signal(SIGPIPE, SIG_IGN);
        if (testweb_start(&shared_web)) atexit(stop_shared_web);
    }
    return shared_web;
}

// ------------------------------------------------------------ the streams

uint8_t testweb_stream_byte(const std::string &name, uint64_t k) {
    unsigned seed = 0;
    for (unsigned char c : name) seed += c;
    return (uint8_t)(k + 31 * ((k >> 8) & 0xFF) + 101 * (k >> 16) + seed);
}

std::string testweb_stream_bytes(const std::string &name, uint64_t start, uint64_t count) {
    std::string s;
    s.resize((size_t)count);
    for (uint64_t i = 0; i < count; i++) s[(size_t)i] = (char)testweb_stream_byte(name, start + i);
    return s;
}

// ------------------------------------------------------ raw exchanges

// 127.0.0.1:port (port 0: any free port, for a bind).
static struct sockaddr_in loopback_address(int port) {
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

int loopback_connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    struct sockaddr_in sa = loopback_address(port);
    if (connect(fd, (struct sockaddr *)&sa, sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string http_exchange(int port, const std::string &request, ExchangeEnd *end, int idle_ms,
                          size_t max_bytes) {
    std::string data;
    ExchangeEnd how = END_TIMEOUT;
    int fd = loopback_connect(port);
    if (fd < 0) {
        if (end) *end = END_NO_CONNECTION;
        return data;
    }
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != (ssize_t)request.size()) {
        close(fd);
        if (end) *end = END_NO_CONNECTION;
        return data;
    }
    for (;;) {
        if (data.size() >= max_bytes) break;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, idle_ms) != 1) break;
        char buf[65536];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0) {
            how = END_CLOSED;
            break;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            how = errno == ECONNRESET ? END_RESET : END_CLOSED;
            break;
        }
        data.append(buf, (size_t)n);
    }
    close(fd);
    if (end) *end = how;
    return data;
}

void split_answer(const std::string &answer, std::string *head, std::string *body) {
    size_t blank = answer.find("\r\n\r\n");
    if (blank == std::string::npos) {
        *head = answer;
        body->clear();
        return;
    }
    *head = answer.substr(0, blank + 2);
    *body = answer.substr(blank + 4);
}

std::string header_value(const std::string &head, const std::string &name) {
    std::string lower_head;
    for (char c : head) lower_head += (char)tolower((unsigned char)c);
    std::string key = "\r\n";
    for (char c : name) key += (char)tolower((unsigned char)c);
    key += ":";
    size_t at = lower_head.find(key);
    if (at == std::string::npos) return "";
    size_t from = at + key.size();
    while (from < head.size() && head[from] == ' ') from++;
    size_t to = head.find("\r\n", from);
    return head.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

int status_code(const std::string &answer) {
    int code = 0;
    if (sscanf(answer.c_str(), "HTTP/%*d.%*d %d", &code) != 1) return 0;
    return code;
}

// ------------------------------------------------------ listeners

// A socket bound to a free loopback port, or -1; the port in *port.
static int bound_loopback_socket(int *port) {
    *port = 0;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    struct sockaddr_in sa = loopback_address(0);
    socklen_t len = sizeof sa;
    if (bind(fd, (struct sockaddr *)&sa, sizeof sa) != 0 ||
        getsockname(fd, (struct sockaddr *)&sa, &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

int loopback_listen(int backlog, int *port) {
    int fd = bound_loopback_socket(port);
    if (fd < 0) return -1;
    if (listen(fd, backlog) != 0) {
        close(fd);
        *port = 0;
        return -1;
    }
    return fd;
}

// ------------------------------------------------------ silent hosts

static int connect_nonblocking(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    struct sockaddr_in sa = loopback_address(port);
    connect(fd, (struct sockaddr *)&sa, sizeof sa);
    return fd;
}

int open_silent_listener(SilentListener *l) {
    l->listen_fd = loopback_listen(0, &l->port);
    if (l->listen_fd < 0) return 0;
    // Fills the accept queue: fillers connect until one is left hanging.
    for (int i = 0; i < 8; i++) {
        l->fillers[i] = connect_nonblocking(l->port);
        struct pollfd p = {l->fillers[i], POLLOUT, 0};
        if (poll(&p, 1, 300) != 1) return 1;   // this one hangs: queue full
    }
    return 1;
}

void close_silent_listener(SilentListener *l) {
    for (int &fd : l->fillers) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (l->listen_fd >= 0) close(l->listen_fd);
    l->listen_fd = -1;
}

int closed_loopback_port(void) {
    int port = 0;
    int fd = bound_loopback_socket(&port);
    if (fd >= 0) close(fd);   // bound but never listened to, and now free: connects are refused
    return port;
}
