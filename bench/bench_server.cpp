// bench_server.cpp - the loopback stream server of the engine benchmark.
// Like the tests' helpers, the benchmark harness talks to sockets itself;
// the program under test goes through the platform layer.  With a
// certificate it also answers CONNECT: the tunnel's far end is this server,
// which speaks TLS on it with OpenSSL and serves the same streams inside.
#include "bench/bench_server.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// The pattern repeats every PATTERN_PERIOD bytes (not a power of two, so a
// block landing at a wrong offset shows).
const uint64_t PATTERN_PERIOD = 1048573;
const size_t SEND_CHUNK = 262144;

std::vector<uint8_t> pattern;
int listen_fd = -1;
int server_port = 0;
std::atomic<bool> stopping{false};
std::thread acceptor;
std::mutex workers_lock;
std::vector<std::thread> workers;
SSL_CTX *server_context = nullptr;   // null: CONNECT is refused

// One client connection: its socket, and TLS on it once a tunnel is open.
struct Peer {
    int fd;
    SSL *ssl;
};

void make_pattern(void) {
    pattern.resize(PATTERN_PERIOD + SEND_CHUNK);
    for (uint64_t k = 0; k < pattern.size(); k++) {
        uint64_t j = k % PATTERN_PERIOD;
        pattern[k] = (uint8_t)(j * 7 + (j >> 8) * 31 + (j >> 16) * 101);
    }
}

uint64_t query_number(const std::string &target, const char *name, uint64_t fallback) {
    std::string key = std::string(name) + "=";
    size_t at = target.find("?" + key);
    if (at == std::string::npos) at = target.find("&" + key);
    if (at == std::string::npos) return fallback;
    return strtoull(target.c_str() + at + 1 + key.size(), nullptr, 10);
}

bool send_all(const Peer &peer, const void *data, size_t n) {
    const char *p = (const char *)data;
    while (n > 0) {
        ssize_t sent;
        if (peer.ssl) {
            size_t written = 0;
            sent = SSL_write_ex(peer.ssl, p, n, &written) == 1 ? (ssize_t)written : -1;
        } else {
            sent = send(peer.fd, p, n, MSG_NOSIGNAL);
        }
        if (sent <= 0) return false;
        p += sent;
        n -= (size_t)sent;
    }
    return true;
}

ssize_t receive(const Peer &peer, char *into, size_t cap) {
    if (!peer.ssl) return recv(peer.fd, into, cap, 0);
    size_t got = 0;
    return SSL_read_ex(peer.ssl, into, cap, &got) == 1 ? (ssize_t)got : -1;
}

std::string read_request(const Peer &peer) {
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = receive(peer, chunk, sizeof chunk);
        if (n <= 0) break;
        request.append(chunk, (size_t)n);
    }
    return request;
}

void end_connection(Peer &peer) {
    if (peer.ssl) {
        SSL_shutdown(peer.ssl);
        SSL_free(peer.ssl);
    }
    close(peer.fd);
}

void serve(int fd) {
    Peer peer = {fd, nullptr};
    std::string request = read_request(peer);
    char chunk[4096];
    // CONNECT opens a tunnel: TLS on this socket, then the request inside.
    if (server_context && request.compare(0, 8, "CONNECT ") == 0) {
        const char open[] = "HTTP/1.1 200 Connection established\r\n\r\n";
        if (!send_all(peer, open, sizeof open - 1)) {
            end_connection(peer);
            return;
        }
        peer.ssl = SSL_new(server_context);
        if (!peer.ssl || SSL_set_fd(peer.ssl, fd) != 1 || SSL_accept(peer.ssl) != 1) {
            ERR_clear_error();
            end_connection(peer);
            return;
        }
        request = read_request(peer);
    }
    size_t space = request.find(' ');
    size_t end = request.find(' ', space + 1);
    std::string target =
        space == std::string::npos || end == std::string::npos ? "" : request.substr(space + 1, end - space - 1);
    if (target.find("/stream/") == std::string::npos) {
        const char answer[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send_all(peer, answer, sizeof answer - 1);
        end_connection(peer);
        return;
    }
    uint64_t size = query_number(target, "size", 1000000);
    uint64_t rate = query_number(target, "rate", 0);
    uint64_t start = 0;
    size_t range = request.find("\r\nRange: bytes=");
    if (range != std::string::npos) start = strtoull(request.c_str() + range + 15, nullptr, 10);
    if (start > size) start = size;
    char head[256];
    snprintf(head, sizeof head,
             "HTTP/1.1 %s\r\nContent-Type: video/x-flv\r\nContent-Length: %llu\r\n"
             "Connection: close\r\n\r\n",
             start ? "206 Partial Content" : "200 OK", (unsigned long long)(size - start));
    if (!send_all(peer, head, strlen(head))) {
        end_connection(peer);
        return;
    }
    auto begin = std::chrono::steady_clock::now();
    uint64_t offset = start, sent = 0;
    size_t piece_max = rate ? (size_t)(rate / 50 > 0 ? rate / 50 : 1) : SEND_CHUNK;
    if (piece_max > SEND_CHUNK) piece_max = SEND_CHUNK;
    while (offset < size && !stopping) {
        size_t piece = (size_t)(size - offset < piece_max ? size - offset : piece_max);
        if (!send_all(peer, &pattern[offset % PATTERN_PERIOD], piece)) break;
        offset += piece;
        sent += piece;
        if (rate) {
            // Paced: never ahead of rate bytes per second since the start.
            auto due = begin + std::chrono::microseconds((int64_t)(sent * 1000000 / rate));
            std::this_thread::sleep_until(due);
        }
    }
    // The close notice (TLS) or the end of the stream (plain) goes out
    // first; then the client reads everything before the close.
    if (peer.ssl) SSL_shutdown(peer.ssl);
    shutdown(fd, SHUT_WR);
    while (recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
    if (peer.ssl) SSL_free(peer.ssl);
    close(fd);
}

void accept_loop(void) {
    while (!stopping) {
        int fd = accept(listen_fd, nullptr, nullptr);
        if (fd < 0) continue;
        if (stopping) {
            close(fd);
            break;
        }
        std::lock_guard<std::mutex> hold(workers_lock);
        workers.emplace_back(serve, fd);
    }
}

}  // namespace

uint8_t bench_stream_byte(uint64_t k) {
    uint64_t j = k % PATTERN_PERIOD;
    return (uint8_t)(j * 7 + (j >> 8) * 31 + (j >> 16) * 101);
}

int bench_make_certificates(const char *host) {
    FILE *f = fopen("server.ext", "w");
    if (!f) return 0;
    fprintf(f,
            "basicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature\n"
            "extendedKeyUsage = serverAuth\nsubjectAltName = DNS:%s\n",
            host);
    if (fclose(f) != 0) return 0;
    // EC P-256 keys: quick to make.  Errors go to the terminal, the rest nowhere.
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
    const std::string commands[] = {
        "openssl req -x509 -days 2" + key + " -keyout ca.key -out ca.pem -subj /CN=bench-ca" +
            " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign",
        "openssl req -new" + key + " -keyout server.key -out server.csr -subj /CN=" + host,
        "openssl x509 -req -days 2 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
        " -extfile server.ext -out server.pem",
    };
    for (const std::string &c : commands)
        if (system((c + " >/dev/null 2>&1").c_str()) != 0) {
            fprintf(stderr, "failed: %s\n", c.c_str());
            return 0;
        }
    return 1;
}

int bench_server_use_tls(void) {
    SSL_CTX *c = SSL_CTX_new(TLS_server_method());
    if (!c || SSL_CTX_use_certificate_chain_file(c, "server.pem") != 1 ||
        SSL_CTX_use_PrivateKey_file(c, "server.key", SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(c);
        return 0;
    }
    SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    server_context = c;
    return 1;
}

int bench_server_start(void) {
    // A client that hangs up mid-stream fails the write; no signal.
    signal(SIGPIPE, SIG_IGN);
    make_pattern();
    listen_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (listen_fd < 0) return 0;
    int on = 1;
    setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listen_fd, (sockaddr *)&addr, sizeof addr) != 0 || listen(listen_fd, 128) != 0) return 0;
    socklen_t len = sizeof addr;
    getsockname(listen_fd, (sockaddr *)&addr, &len);
    server_port = ntohs(addr.sin_port);
    stopping = false;
    acceptor = std::thread(accept_loop);
    return server_port;
}

void bench_server_stop(void) {
    stopping = true;
    // Wakes the acceptor with one last connection.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)server_port);
    connect(fd, (sockaddr *)&addr, sizeof addr);
    close(fd);
    if (acceptor.joinable()) acceptor.join();
    close(listen_fd);
    std::lock_guard<std::mutex> hold(workers_lock);
    for (std::thread &t : workers)
        if (t.joinable()) t.join();
    workers.clear();
    SSL_CTX_free(server_context);
    server_context = nullptr;
}

int bench_file_is_stream(const std::string &path, uint64_t size) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    uint64_t k = 0;
    while (in) {
        in.read(block.data(), (std::streamsize)block.size());
        std::streamsize got = in.gcount();
        for (std::streamsize b = 0; b < got; b++, k++)
            if ((uint8_t)block[(size_t)b] != bench_stream_byte(k)) return 0;
    }
    return k == size;
}
