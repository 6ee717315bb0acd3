// TLS on POSIX with OpenSSL, against the demo web's TLS listeners
// (tests/testweb/testweb.py --tls-dir), whose certificates come from a
// private test CA handed in with SSL_CERT_FILE.  Sockets are opened with
// the plain operations and everything is stepped as the program's timer
// would: one call per tick, a short sleep between ticks.
//
// The suite runs under an OpenSSL configuration of its own that lets every
// client speak TLS 1.0 and 1.1 by default, as an old or loosened system
// configuration may: Debian's defaults (security level 2) refuse them
// already, and a refusal there could not tell the backend's own TLS 1.2
// floor from the system's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "engine/download_table.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_tls.h"
#include "support/testweb.h"

namespace {

const uint32_t LOOPBACK = htonl(0x7F000001);
const int TICK_MS = 10;

void tick() { std::this_thread::sleep_for(std::chrono::milliseconds(TICK_MS)); }

class PosixTlsTest : public testing::Test {
protected:
    static TestWeb web;
    static std::string cert_dir;

    static void SetUpTestSuite() {
        signal(SIGPIPE, SIG_IGN);
        if (system("command -v python3 >/dev/null 2>&1 && command -v openssl >/dev/null 2>&1") != 0)
            return;
        char dir[] = "/tmp/quorvax-tls-XXXXXX";
        if (!mkdtemp(dir)) return;
        cert_dir = dir;
        // Read by OpenSSL when the first connection makes its context.
        setenv("SSL_CERT_FILE", (cert_dir + "/ca.pem").c_str(), 1);
        testweb_start_tls(&web, cert_dir.c_str());
        // Read when OpenSSL first starts in this process (nothing before
        // this suite uses it); set after the web started, which keeps the
        // machine's configuration.
        std::string lenient = cert_dir + "/lenient.cnf";
        FILE *f = fopen(lenient.c_str(), "w");
        if (f) {
            fputs("openssl_conf = lenient_init\n"
                  "[lenient_init]\nssl_conf = lenient_ssl\n"
                  "[lenient_ssl]\nsystem_default = lenient_defaults\n"
                  "[lenient_defaults]\nMinProtocol = TLSv1\n"
                  "CipherString = DEFAULT:@SECLEVEL=0\n",
                  f);
            fclose(f);
            setenv("OPENSSL_CONF", lenient.c_str(), 1);
        }
    }
    static void TearDownTestSuite() {
        unsetenv("OPENSSL_CONF");   // the file goes with the folder
        testweb_stop(&web);
        if (!cert_dir.empty()) system(("rm -rf '" + cert_dir + "'").c_str());
    }
    void SetUp() override {
        if (cert_dir.empty()) GTEST_SKIP() << "python3 or openssl missing";
        ASSERT_TRUE(web.tls_good) << "the demo web's TLS listeners did not start";
    }

    // A socket connected to the loopback port, through the plain operations.
    static plat_socket connected(int port) {
        plat_socket s = posix_tcp_connect_start(LOOPBACK, (uint16_t)port);
        int result = 0;
        for (int k = 0; k < 200 && (result = posix_connect_result(s)) == 0; k++) tick();
        EXPECT_EQ(1, result) << "connect to port " << port;
        return s;
    }

    // Steps the handshake once a tick until it ends (or 10 s pass): its
    // last answer, and in *steps how many calls it took.
    static int handshake(plat_tls t, int *steps) {
        int result = 0;
        for (*steps = 0; *steps < 10000 / TICK_MS; tick()) {
            ++*steps;
            if ((result = posix_tls_handshake(t)) != 0) break;
        }
        return result;
    }

    // Reads tick by tick, exactly what plat_tls_readable reports, until the
    // peer closes (which must come within 10 s).  Each tick's total goes
    // into totals; any tick on which readable said 0 while OpenSSL still
    // held decrypted bytes counts as a stall.
    static std::string read_to_close(plat_tls t, std::set<size_t> *totals, int *stalls) {
        std::string data;
        *stalls = 0;
        for (int k = 0; k < 10000 / TICK_MS; k++, tick()) {
            uint32_t ready = posix_tls_readable(t);
            if (ready == 0 && posix_tls_library_pending(t) > 0) ++*stalls;
            if (ready == 0) {
                char probe[1];
                int r = posix_tls_recv(t, probe, 1);
                if (r == 0) return data;   // closed, all taken
                EXPECT_EQ(PLAT_TLS_WOULD_BLOCK, r) << "nothing ready, connection open";
                if (r != PLAT_TLS_WOULD_BLOCK) return data;
                continue;
            }
            std::string chunk(ready, '\0');
            EXPECT_EQ((int)ready, posix_tls_recv(t, &chunk[0], (int)ready)) << "all it reported";
            data += chunk;
            if (totals) totals->insert(data.size());
        }
        ADD_FAILURE() << "the close was not seen within 10 s, after " << data.size() << " bytes";
        return data;
    }

    static std::string exchange(plat_tls t, const std::string &request, int *stalls,
                                std::set<size_t> *totals = nullptr) {
        EXPECT_EQ((int)request.size(), posix_tls_send(t, request.data(), (int)request.size()));
        return read_to_close(t, totals, stalls);
    }

    // Starts TLS on s for host and steps the handshake: the failure text
    // when it fails, "" when it succeeds.
    static std::string outcome(plat_socket s, const char *host) {
        plat_tls t = posix_tls_start(s, host);
        EXPECT_NE(0u, t);
        int steps = 0;
        int result = handshake(t, &steps);
        char reason[32] = "?";
        int failure = posix_tls_failure(t, reason, sizeof reason);
        EXPECT_EQ(result == 1, failure == PLAT_TLS_OK) << reason;
        EXPECT_NE(0, result) << "the handshake neither ended nor failed in 10 s";
        if (result == -1) {
            char byte;
            EXPECT_EQ(-1, posix_tls_send(t, "x", 1)) << "no data on a failed connection";
            EXPECT_EQ(-1, posix_tls_recv(t, &byte, 1));
        }
        posix_tls_close(t);
        posix_close_socket(s);
        return reason;
    }
};

// What a client of OpenSSL's own, outside the backend, makes of the server
// at port: the version agreed on ("TLSv1.1"...), or OpenSSL's error.  With
// only_old it asks for TLS 1.0 and 1.1 at security level 0; else it keeps
// the defaults the process's configuration gives, as the backend's context
// does until it sets its floor.  Certificates are not checked.
std::string openssl_client_version(int port, bool only_old) {
    int fd = loopback_connect(port);
    if (fd < 0) return "no connection";
    struct timeval limit = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL *ssl = context ? SSL_new(context) : nullptr;
    std::string result = "no OpenSSL client";
    if (ssl && SSL_set_fd(ssl, fd) == 1 && SSL_set_tlsext_host_name(ssl, "localhost") == 1) {
        if (only_old) {
            SSL_set_min_proto_version(ssl, TLS1_VERSION);
            SSL_set_max_proto_version(ssl, TLS1_1_VERSION);
            SSL_set_security_level(ssl, 0);
        }
        ERR_clear_error();
        if (SSL_connect(ssl) == 1) {
            result = SSL_get_version(ssl);
        } else {
            char text[256] = "no error queued";
            unsigned long error = ERR_get_error();
            if (error) ERR_error_string_n(error, text, sizeof text);
            result = text;
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    close(fd);
    return result;
}

TestWeb PosixTlsTest::web;
std::string PosixTlsTest::cert_dir;

TEST_F(PosixTlsTest, a_stepped_handshake_then_requests_and_downloads_arrive_byte_exact) {
    // A server that never answers the hello: each step comes back at once,
    // under way.
    int silent_port = 0;
    int silent = loopback_listen(4, &silent_port);
    ASSERT_GE(silent, 0);
    plat_socket s = connected(silent_port);
    plat_tls t = posix_tls_start(s, "localhost");
    ASSERT_NE(0u, t);
    auto begin = std::chrono::steady_clock::now();
    for (int k = 0; k < 5; k++) EXPECT_EQ(0, posix_tls_handshake(t));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 0.5);
    posix_tls_close(t);
    posix_close_socket(s);
    close(silent);

    // By name, stepped once a tick.
    s = connected(web.tls_good);
    t = posix_tls_start(s, "localhost");
    ASSERT_NE(0u, t);
    int steps = 0;
    ASSERT_EQ(1, handshake(t, &steps));
    EXPECT_STREQ("TLSv1.3", posix_tls_version(t));

    // 4,000,000 bytes, left unread at first: the connection decrypts until
    // its own buffer is full.  That must hold at least what the engine's
    // receive buffer takes in one tick, or a TLS download is slower than a
    // plain one, and stay within a few MiB however much waits on the
    // socket.  A small piece taken from the full buffer makes room at its
    // end; the rest is read tick by tick as the program does.  The session
    // tickets a TLS 1.3 server sends after the handshake come before the
    // answer and must neither show as data nor as an error.
    const std::string big = "GET /stream/big?size=4000000 HTTP/1.1\r\nHost: localhost\r\n\r\n";
    ASSERT_EQ((int)big.size(), posix_tls_send(t, big.data(), (int)big.size()));
    uint32_t held = 0;
    for (int k = 0, still = 0; k < 5000 / TICK_MS && still < 20; k++, tick()) {
        uint32_t now = posix_tls_readable(t);
        still = now == held && now > 0 ? still + 1 : 0;
        held = now;
    }
    EXPECT_GE(held, RECEIVE_BUFFER_SIZE) << "a full connection holds less than one receive buffer";
    EXPECT_LE(held, 4u << 20) << "the connection's buffer grows with what the peer sends";
    std::string answer(1000, '\0');
    ASSERT_EQ(1000, posix_tls_recv(t, &answer[0], 1000));
    int stalls = 0;
    answer += read_to_close(t, nullptr, &stalls);
    std::string head, body;
    split_answer(answer, &head, &body);
    EXPECT_EQ(200, status_code(answer));
    EXPECT_EQ("localhost", header_value(head, "X-Server-Name"));
    ASSERT_EQ(4000000u, body.size());
    EXPECT_TRUE(body == testweb_stream_bytes("big", 0, 4000000)) << "bytes differ";
    EXPECT_EQ(0, stalls);
    posix_tls_close(t);
    posix_close_socket(s);

    // By address, to a server that stops at TLS 1.2: the certificate's
    // address entry is checked; the request goes out whole and comes back
    // as the server read it.
    s = connected(web.tls_12);
    t = posix_tls_start(s, "127.0.0.1");
    ASSERT_EQ(1, handshake(t, &steps));
    EXPECT_STREQ("TLSv1.2", posix_tls_version(t));
    std::string request = "GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Fill: " +
                          std::string(30000, 'q') + "\r\n\r\n";
    answer = exchange(t, request, &stalls);
    split_answer(answer, &head, &body);
    EXPECT_EQ(request, body);
    EXPECT_EQ("", header_value(head, "X-Server-Name")) << "no server name for an address";
    posix_tls_close(t);
    posix_close_socket(s);
}

TEST_F(PosixTlsTest, records_held_inside_the_library_are_reported_on_the_tick_they_arrive) {
    // Bursts of records, each burst followed by 150 ms of silence: four
    // full 16 KiB records, then forty small ones.  Read-ahead pulls several
    // records off the socket at once; a count taken from the socket, or one
    // record taken per tick, would leave the end of a burst inside the
    // library during the pause, and the total would not rest on each
    // burst's end before the next burst came.
    struct Shape { int records, record; } shapes[] = {{4, 16384}, {40, 300}};
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.records) + " records of " + std::to_string(shape.record));
        plat_socket s = connected(web.tls_good);
        plat_tls t = posix_tls_start(s, "localhost");
        int steps = 0;
        ASSERT_EQ(1, handshake(t, &steps));
        const size_t burst = (size_t)shape.records * shape.record, bursts = 5;
        std::set<size_t> totals;
        int stalls = 0;
        std::string answer = exchange(
            t,
            "GET /stream/held?size=" + std::to_string(burst * bursts) +
                "&records=" + std::to_string(shape.records) + "&record=" +
                std::to_string(shape.record) + "&pause=150 HTTP/1.1\r\nHost: localhost\r\n\r\n",
            &stalls, &totals);
        size_t head_end = answer.find("\r\n\r\n");
        ASSERT_NE(std::string::npos, head_end);
        size_t body_start = head_end + 4;
        ASSERT_EQ(body_start + burst * bursts, answer.size());
        EXPECT_TRUE(answer.substr(body_start) == testweb_stream_bytes("held", 0, burst * bursts));
        for (size_t k = 1; k <= bursts; k++)
            EXPECT_TRUE(totals.count(body_start + k * burst))
                << "burst " << k << " was not all reported before the next one arrived";
        EXPECT_EQ(0, stalls) << "ticks that reported nothing while decrypted bytes waited";
        posix_tls_close(t);
        posix_close_socket(s);
    }
}

TEST_F(PosixTlsTest, through_the_proxy_connect_then_tls_checks_the_real_host) {
    // The CONNECT exchange is plain bytes on the socket; TLS starts after.
    auto tunnel = [](const char *target) {
        plat_socket s = connected(web.port);
        std::string connect = std::string("CONNECT ") + target + " HTTP/1.1\r\nHost: " + target +
                              "\r\n\r\n";
        EXPECT_EQ((int)connect.size(), posix_send(s, connect.data(), (int)connect.size()));
        std::string answer;
        char c;
        while (answer.find("\r\n\r\n") == std::string::npos && posix_recv(s, &c, 1) == 1)
            answer += c;
        EXPECT_EQ(200, status_code(answer)) << answer;
        return s;
    };
    plat_socket s = tunnel("www.reelbox.test:443");
    plat_tls t = posix_tls_start(s, "www.reelbox.test");
    int steps = 0;
    ASSERT_EQ(1, handshake(t, &steps));
    int stalls = 0;
    std::string answer = exchange(
        t, "GET /stream/viaproxy?size=200000 HTTP/1.1\r\nHost: www.reelbox.test\r\n\r\n", &stalls);
    std::string head, body;
    split_answer(answer, &head, &body);
    EXPECT_EQ("www.reelbox.test", header_value(head, "X-Server-Name"));
    EXPECT_TRUE(body == testweb_stream_bytes("viaproxy", 0, 200000)) << body.size() << " bytes";
    posix_tls_close(t);
    posix_close_socket(s);

    // The tunnel leads to a server whose certificate is not for this host.
    EXPECT_EQ("wrong name", outcome(tunnel("intruder.example:443"), "intruder.example"));
}

TEST_F(PosixTlsTest, refused_servers_fail_with_the_reason_as_text) {
    EXPECT_EQ("wrong name", outcome(connected(web.tls_wrong_name), "localhost"));
    EXPECT_EQ("untrusted", outcome(connected(web.tls_untrusted), "localhost"));
    EXPECT_EQ("expired", outcome(connected(web.tls_expired), "localhost"));
    // A good certificate, but for other names and addresses than asked.
    EXPECT_EQ("wrong name", outcome(connected(web.tls_good), "elsewhere.example"));
    EXPECT_EQ("wrong name", outcome(connected(web.tls_good), "127.0.0.2"));
    // A plain web server answers the hello with plain text.
    EXPECT_EQ("protocol", outcome(connected(web.port), "localhost"));
    // A server that hangs up at once.
    int port = 0;
    int listener = loopback_listen(4, &port);
    ASSERT_GE(listener, 0);
    plat_socket s = connected(port);
    close(accept(listener, nullptr, nullptr));
    EXPECT_EQ("closed", outcome(s, "localhost"));
    close(listener);
}

TEST_F(PosixTlsTest, a_server_that_stops_below_tls_1_2_is_refused_by_the_backend_itself) {
    if (!web.tls_11) GTEST_SKIP() << "the demo web has no TLS 1.1 listener here";
    // The listener really speaks TLS 1.1 to a client that allows it, else
    // a refusal would prove nothing.
    std::string spoken = openssl_client_version(web.tls_11, true);
    if (spoken != "TLSv1.1")
        GTEST_SKIP() << "this machine's OpenSSL does not speak TLS 1.1 even when asked to: "
                     << spoken;
    // Nothing but the backend's floor stands in the way: a client with the
    // process's defaults agrees on TLS 1.1.
    ASSERT_EQ("TLSv1.1", openssl_client_version(web.tls_11, false))
        << "the OpenSSL configuration in force refuses TLS 1.1 by itself";
    EXPECT_EQ("protocol", outcome(connected(web.tls_11), "localhost"));
    EXPECT_EQ("protocol", outcome(connected(web.tls_11), "127.0.0.1"));
}

}  // namespace
