// bench_server.cpp - the loopback stream server of the engine benchmark.
// Like the tests' helpers, the benchmark harness talks to sockets itself;
// the program under test goes through the platform layer.
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
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

bool send_all(int fd, const void *data, size_t n) {
    const char *p = (const char *)data;
    while (n > 0) {
        ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        p += sent;
        n -= (size_t)sent;
    }
    return true;
}

void serve(int fd) {
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.append(chunk, (size_t)n);
    }
    size_t space = request.find(' ');
    size_t end = request.find(' ', space + 1);
    std::string target =
        space == std::string::npos || end == std::string::npos ? "" : request.substr(space + 1, end - space - 1);
    if (target.find("/stream/") == std::string::npos) {
        const char answer[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send_all(fd, answer, sizeof answer - 1);
        close(fd);
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
    if (!send_all(fd, head, strlen(head))) {
        close(fd);
        return;
    }
    auto begin = std::chrono::steady_clock::now();
    uint64_t offset = start, sent = 0;
    size_t piece_max = rate ? (size_t)(rate / 50 > 0 ? rate / 50 : 1) : SEND_CHUNK;
    if (piece_max > SEND_CHUNK) piece_max = SEND_CHUNK;
    while (offset < size && !stopping) {
        size_t piece = (size_t)(size - offset < piece_max ? size - offset : piece_max);
        if (!send_all(fd, &pattern[offset % PATTERN_PERIOD], piece)) break;
        offset += piece;
        sent += piece;
        if (rate) {
            // Paced: never ahead of rate bytes per second since the start.
            auto due = begin + std::chrono::microseconds((int64_t)(sent * 1000000 / rate));
            std::this_thread::sleep_until(due);
        }
    }
    shutdown(fd, SHUT_WR);
    // Lets the client read everything before the close.
    while (recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
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

int bench_server_start(void) {
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
