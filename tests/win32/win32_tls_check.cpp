// win32_tls_check.cpp - the Windows TLS layer, run as a Windows program
// (under Wine in CI).  Every failed check prints a FAIL line; the exit
// status is 1 when any did.
//
// Usage: win32_tls_check.exe script
//          the security calls replaced by a script: a server stream of
//          handshake messages, records, a post-handshake message and the
//          close notice, cut in two at every byte and also sent a byte at a
//          time over a loopback socket; the decrypted stream must come out
//          byte-exact and the cut-short, left-behind and fed-back paths
//          must all have run
//        win32_tls_check.exe bare GOOD
//          the good server must be untrusted while the test CA is not in
//          the root store (before and after a web run)
//        win32_tls_check.exe web CA_PEM GOOD WRONGNAME UNTRUSTED EXPIRED TLS12 TLS11
//          the system's Schannel against the test web's TLS listeners (the
//          ports, in that order; TLS11, the server of TLS 1.0 and 1.1 only,
//          is 0 where there is none): the private CA goes into this
//          prefix's root store for the run and out again at its end
//        win32_tls_check.exe import-ca CA_PEM
//        win32_tls_check.exe remove-ca CA_PEM
//          the private CA into this prefix's root store, or out of it, for
//          the program's own run in between (tests/win32/test_win32_e2e.sh)
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/download_table.h"
#include "platform/platform.h"
#include "platform/win32/io/win32_tls.h"

namespace {

int failures = 0;

void check(bool ok, const char *what, const std::string &detail = std::string()) {
    if (!ok) failures++;
    printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, ok || detail.empty() ? "" : ": ",
           ok ? "" : detail.c_str());
    fflush(stdout);
}

// The counts of the Schannel paths taken since before, for the log: the
// counts themselves, not just the result, say what a run exercised.
Win32TlsCounts print_paths_taken(const char *by, const Win32TlsCounts &before) {
    Win32TlsCounts after = win32_tls_counts();
    printf("     %s: %u cut short, %u left behind (%u after the handshake), %u fed back, %u close notices\n", by,
           after.incomplete - before.incomplete, after.extra - before.extra,
           after.extra_after_handshake - before.extra_after_handshake, after.renegotiate - before.renegotiate,
           after.close_notify - before.close_notify);
    return after;
}

// A listening loopback socket and a connected pair through it.
bool socket_pair(plat_socket *client, SOCKET *server) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof sa;
    if (listener == INVALID_SOCKET || bind(listener, (struct sockaddr *)&sa, sizeof sa) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, (struct sockaddr *)&sa, &length) != 0)
        return false;
    int connected = 0;
    *client = plat_tcp_connect(sa.sin_addr.s_addr, ntohs(sa.sin_port), 3000, &connected);
    *server = accept(listener, nullptr, nullptr);
    closesocket(listener);
    return connected && *server != INVALID_SOCKET;
}

// ---------------------------------------------------------------- script
//
// The scripted peer speaks records of a kind byte, a two-byte length and
// the payload XORed with 0x5A: H handshake ("hello", then "done" ends it),
// D data, R a post-handshake message, C the close notice.  The scripted
// calls decrypt in place as Schannel does and report what follows a
// record as SECBUFFER_EXTRA.

const int SCRIPT_MAX_MESSAGE = 1000;   // small, so that sends take several records
const int SCRIPT_HEADER = 3, SCRIPT_TRAILER = 2;

struct Script {
    bool renegotiationPending;   // a post-handshake message awaits the context
    int ticketsTaken;
    int decryptsOutOfTurn;       // DecryptMessage while one awaited the context
    std::wstring target;         // the server name of the first call
    bool targetGiven;
    int contexts;                // contexts made and not deleted
    DWORD protocol;              // what the context says it speaks
} script = {false, 0, 0, L"", false, 0, SP_PROT_TLS1_2_CLIENT};

std::string record(char kind, const std::string &payload) {
    std::string r(1, kind);
    r += (char)(payload.size() >> 8);
    r += (char)(payload.size() & 0xFF);
    for (char ch : payload) r += (char)(ch ^ 0x5A);
    return r;
}

// The length of the whole record at p (n bytes held), 0 while cut short.
int whole_record(const unsigned char *p, int n) {
    if (n < 3) return 0;
    int length = 3 + (p[1] << 8 | p[2]);
    return n >= length ? length : 0;
}

std::string payload_of(const unsigned char *p) {
    std::string s;
    int n = p[1] << 8 | p[2];
    for (int i = 0; i < n; i++) s += (char)(p[3 + i] ^ 0x5A);
    return s;
}

void *token(const char *text) {
    void *p = LocalAlloc(LMEM_FIXED, strlen(text));
    memcpy(p, text, strlen(text));
    return p;
}

SECURITY_STATUS SEC_ENTRY script_acquire(SEC_WCHAR *, SEC_WCHAR *, unsigned long, void *, void *,
                                         SEC_GET_KEY_FN, void *, PCredHandle credentials,
                                         PTimeStamp) {
    credentials->dwLower = credentials->dwUpper = 7;
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY script_free_credentials(PCredHandle) { return SEC_E_OK; }

SECURITY_STATUS SEC_ENTRY script_initialize(PCredHandle, PCtxtHandle context, SEC_WCHAR *target,
                                            unsigned long, unsigned long, unsigned long,
                                            PSecBufferDesc input, unsigned long,
                                            PCtxtHandle new_context, PSecBufferDesc output,
                                            unsigned long *, PTimeStamp) {
    output->pBuffers[0].pvBuffer = nullptr;
    output->pBuffers[0].cbBuffer = 0;
    if (!context) {   // the first call: the client's hello
        script.targetGiven = target != nullptr;
        script.target = target ? target : L"";
        new_context->dwLower = new_context->dwUpper = 9;
        script.contexts++;
        output->pBuffers[0].pvBuffer = token("CLIENT-HELLO");
        output->pBuffers[0].cbBuffer = 12;
        return SEC_I_CONTINUE_NEEDED;
    }
    if (!input) {   // after the shutdown token: the close notice
        output->pBuffers[0].pvBuffer = token("CLOSE");
        output->pBuffers[0].cbBuffer = 5;
        return SEC_E_OK;
    }
    if (input->cBuffers != 2 || input->pBuffers[0].BufferType != SECBUFFER_TOKEN)
        return SEC_E_INVALID_TOKEN;
    const unsigned char *p = (const unsigned char *)input->pBuffers[0].pvBuffer;
    int n = (int)input->pBuffers[0].cbBuffer;
    int length = whole_record(p, n);
    if (!length) return SEC_E_INCOMPLETE_MESSAGE;
    SECURITY_STATUS status;
    if (script.renegotiationPending) {
        if (p[0] != 'R') return SEC_E_INVALID_TOKEN;
        script.renegotiationPending = false;
        script.ticketsTaken++;
        status = SEC_E_OK;
    } else if (p[0] == 'H' && payload_of(p) == "hello") {
        output->pBuffers[0].pvBuffer = token("KEY");
        output->pBuffers[0].cbBuffer = 3;
        status = SEC_I_CONTINUE_NEEDED;
    } else if (p[0] == 'H' && payload_of(p) == "done") {
        status = SEC_E_OK;
    } else {
        return SEC_E_ILLEGAL_MESSAGE;
    }
    if (n > length) {
        input->pBuffers[1].BufferType = SECBUFFER_EXTRA;
        input->pBuffers[1].cbBuffer = (unsigned long)(n - length);
    }
    return status;
}

SECURITY_STATUS SEC_ENTRY script_delete(PCtxtHandle) {
    script.contexts--;
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY script_apply(PCtxtHandle, PSecBufferDesc input) {
    return input->pBuffers[0].cbBuffer == 4 && *(DWORD *)input->pBuffers[0].pvBuffer ==
                                                   SCHANNEL_SHUTDOWN
               ? SEC_E_OK
               : SEC_E_INVALID_TOKEN;
}

SECURITY_STATUS SEC_ENTRY script_query(PCtxtHandle, unsigned long attribute, void *buffer) {
    if (attribute == SECPKG_ATTR_CONNECTION_INFO) {
        SecPkgContext_ConnectionInfo *info = (SecPkgContext_ConnectionInfo *)buffer;
        memset(info, 0, sizeof *info);
        info->dwProtocol = script.protocol;
        return SEC_E_OK;
    }
    if (attribute != SECPKG_ATTR_STREAM_SIZES) return SEC_E_UNSUPPORTED_FUNCTION;
    SecPkgContext_StreamSizes *sizes = (SecPkgContext_StreamSizes *)buffer;
    memset(sizes, 0, sizeof *sizes);
    sizes->cbHeader = SCRIPT_HEADER;
    sizes->cbTrailer = SCRIPT_TRAILER;
    sizes->cbMaximumMessage = SCRIPT_MAX_MESSAGE;
    sizes->cBuffers = 4;
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY script_free_buffer(void *p) {
    LocalFree(p);
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY script_encrypt(PCtxtHandle, unsigned long, PSecBufferDesc message,
                                         unsigned long) {
    SecBuffer *b = message->pBuffers;
    if (message->cBuffers != 4 || b[0].BufferType != SECBUFFER_STREAM_HEADER ||
        b[0].cbBuffer != SCRIPT_HEADER || b[1].BufferType != SECBUFFER_DATA ||
        b[1].cbBuffer > (unsigned long)SCRIPT_MAX_MESSAGE ||
        b[2].BufferType != SECBUFFER_STREAM_TRAILER || b[2].cbBuffer < SCRIPT_TRAILER)
        return SEC_E_INVALID_TOKEN;
    unsigned char *h = (unsigned char *)b[0].pvBuffer;
    h[0] = 'D';
    h[1] = (unsigned char)(b[1].cbBuffer >> 8);
    h[2] = (unsigned char)(b[1].cbBuffer & 0xFF);
    for (unsigned long i = 0; i < b[1].cbBuffer; i++) ((char *)b[1].pvBuffer)[i] ^= 0x5A;
    memcpy(b[2].pvBuffer, "zz", SCRIPT_TRAILER);
    b[2].cbBuffer = SCRIPT_TRAILER;
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY script_decrypt(PCtxtHandle, PSecBufferDesc message, unsigned long,
                                         unsigned long *) {
    SecBuffer *b = message->pBuffers;
    if (message->cBuffers != 4 || b[0].BufferType != SECBUFFER_DATA ||
        b[1].BufferType != SECBUFFER_EMPTY || b[2].BufferType != SECBUFFER_EMPTY ||
        b[3].BufferType != SECBUFFER_EMPTY)
        return SEC_E_INVALID_TOKEN;
    if (script.renegotiationPending) {
        script.decryptsOutOfTurn++;
        return SEC_E_OUT_OF_SEQUENCE;
    }
    unsigned char *p = (unsigned char *)b[0].pvBuffer;
    int n = (int)b[0].cbBuffer;
    int length = whole_record(p, n);
    if (!length) {
        b[0].BufferType = SECBUFFER_MISSING;
        b[0].cbBuffer = n < 3 ? 3 - n : (unsigned long)(3 + (p[1] << 8 | p[2]) - n);
        return SEC_E_INCOMPLETE_MESSAGE;
    }
    SECURITY_STATUS status = SEC_E_OK;
    int left = n - length;
    int data = length - 3;
    if (p[0] == 'D') {
        for (int i = 0; i < data; i++) p[3 + i] ^= 0x5A;   // in place, as Schannel does
    } else if (p[0] == 'R') {
        // The message goes to the context as it stands, with what follows.
        script.renegotiationPending = true;
        status = SEC_I_RENEGOTIATE;
        data = 0;
        left = n;
    } else if (p[0] == 'C') {
        status = SEC_I_CONTEXT_EXPIRED;
        data = 0;
    } else {
        return SEC_E_DECRYPT_FAILURE;
    }
    b[0].BufferType = SECBUFFER_STREAM_HEADER;
    b[0].cbBuffer = 3;
    b[1].BufferType = SECBUFFER_DATA;
    b[1].pvBuffer = p + 3;
    b[1].cbBuffer = (unsigned long)data;
    b[2].BufferType = SECBUFFER_STREAM_TRAILER;
    b[2].pvBuffer = p + 3 + data;
    b[2].cbBuffer = 0;
    if (left > 0) {
        b[3].BufferType = SECBUFFER_EXTRA;
        b[3].pvBuffer = p + n - left;
        b[3].cbBuffer = (unsigned long)left;
    }
    return status;
}

int script_verify(PCtxtHandle, const char *host) {
    return strcmp(host, "scripted.test") == 0 || strcmp(host, "127.0.0.1") == 0
               ? PLAT_TLS_OK
               : PLAT_TLS_WRONG_NAME;
}

const Win32TlsCalls script_calls = {
    script_acquire, script_free_credentials, script_initialize, script_delete, script_apply,
    script_query,   script_free_buffer,      script_encrypt,    script_decrypt, script_verify,
};

// Everything the scripted server sends, and the bytes it carries.
std::string server_stream(std::string *plain) {
    std::string p1 = "first record ", p2(700, 'x'), p3 = "after the ticket ", p4;
    for (int i = 0; i < 300; i++) p4 += (char)i;
    for (size_t i = 0; i < p2.size(); i++) p2[i] = (char)('a' + i % 26);
    *plain = p1 + p2 + p3 + p4;
    return record('H', "hello") + record('H', "done") + record('D', p1) + record('D', p2) +
           record('R', "ticket") + record('D', p3) + record('D', "") + record('D', p4) +
           record('C', "");
}

// Lets the layer take what the socket holds: the handshake while it runs,
// then every decrypted byte.  Returns false once the connection failed.
uint32_t first_readable;   // the first readable count of a run that was not 0

bool drive(plat_tls t, bool *open, bool *ended, std::string *got) {
    if (!*open) {
        int h = plat_tls_handshake(t);
        if (h < 0) return false;
        if (h == 0) return true;
        *open = true;
    }
    for (;;) {
        uint32_t ready = plat_tls_readable(t);
        if (!first_readable) first_readable = ready;
        char buffer[4096];
        int n = plat_tls_recv(t, buffer, ready > 0 && ready < sizeof buffer ? (int)ready
                                                                             : (int)sizeof buffer);
        if (n == PLAT_TLS_WOULD_BLOCK) return true;
        if (n == 0) {
            *ended = true;
            return true;
        }
        if (n < 0) return false;
        got->append(buffer, (size_t)n);
    }
}

// One scripted connection: the server stream goes out in the pieces that
// start at the offsets in cuts, the client taking in what arrived after
// each; then the client sends request and closes.  Returns "" when all
// went as it should, else what went wrong.
std::string scripted_run(const std::string &stream, const std::string &plain, const int *cuts,
                         int cut_count, const char *host, const std::string &request) {
    plat_socket client;
    SOCKET server;
    if (!socket_pair(&client, &server)) return "no loopback connection";
    plat_tls t = plat_tls_start(client, host);
    if (!t) return "no TLS start";
    first_readable = 0;
    bool open = false, ended = false, sound = true;
    std::string got;
    sound = drive(t, &open, &ended, &got);   // the client's hello goes out
    for (int i = 0; sound && i < cut_count; i++) {
        int from = cuts[i];
        int to = i + 1 < cut_count ? cuts[i + 1] : (int)stream.size();
        send(server, stream.data() + from, to - from, 0);
        plat_wait_readable(client, 2000);
        sound = drive(t, &open, &ended, &got);
    }
    // What a short read left; once the socket stays empty nothing more
    // can come (all was sent), and a stuck connection fails at once.
    for (int spins = 0; sound && !ended && spins < 200 && plat_wait_readable(client, 50); spins++)
        sound = drive(t, &open, &ended, &got);
    std::string problem;
    char reason[32];
    plat_tls_failure(t, reason, sizeof reason);
    if (!sound) problem = std::string("failed: ") + reason;
    else if (!ended) problem = "the close notice was not seen";
    else if (got != plain) problem = "the decrypted bytes differ";
    else if (plat_tls_send(t, request.data(), (int)request.size()) != (int)request.size())
        problem = "the send failed";
    plat_tls_close(t);
    plat_close_socket(client);
    // What the client sent: its hello, its key, the request in records,
    // the close notice.
    std::string sent;
    char buffer[4096];
    int n;
    while ((n = recv(server, buffer, sizeof buffer, 0)) > 0) sent.append(buffer, (size_t)n);
    closesocket(server);
    if (!problem.empty()) return problem;
    if (sent.compare(0, 15, "CLIENT-HELLOKEY") != 0) return "the handshake tokens were not sent";
    std::string request_seen;
    size_t at = 15;
    while (at < sent.size() && sent[at] == 'D') {
        int length = whole_record((const unsigned char *)sent.data() + at, (int)(sent.size() - at));
        if (!length || sent.compare(at + length, 2, "zz") != 0) return "a sent record is malformed";
        request_seen += payload_of((const unsigned char *)sent.data() + at);
        at += length + 2;
    }
    if (request_seen != request) return "the sent bytes differ";
    if (sent.substr(at) != "CLOSE") return "no close notice was sent";
    return "";
}

void check_scripted(void) {
    win32_tls_set_calls(&script_calls);
    std::string plain;
    std::string stream = server_stream(&plain);
    std::string request;
    for (int i = 0; i < 2500; i++) request += (char)(i * 7);
    Win32TlsCounts before = win32_tls_counts();

    // Cut in two at every byte.
    std::string first_problem;
    int bad_cuts = 0;
    for (int k = 1; k < (int)stream.size() && bad_cuts < 5; k++) {
        int cuts[2] = {0, k};
        std::string problem = scripted_run(stream, plain, cuts, 2, "scripted.test", request);
        if (!problem.empty() && bad_cuts++ == 0)
            first_problem = "cut at " + std::to_string(k) + ": " + problem;
    }
    check(bad_cuts == 0, "the server stream cut in two at every byte decrypts byte-exact",
          std::to_string(bad_cuts) + " cuts failed (the run stops at 5), first " + first_problem);
    check(script.target == L"scripted.test", "the server name goes to the context");

    // A byte at a time: every cut at once.
    int *each = new int[stream.size()];
    for (size_t i = 0; i < stream.size(); i++) each[i] = (int)i;
    std::string problem = scripted_run(stream, plain, each, (int)stream.size(), "scripted.test",
                                       request);
    check(problem.empty(), "the server stream a byte at a time decrypts byte-exact", problem);

    // All at once, to a dotted address: no server name.
    problem = scripted_run(stream, plain, each, 1, "127.0.0.1", request);
    check(problem.empty(), "the server stream in one piece decrypts byte-exact", problem);
    check(!script.targetGiven, "no server name goes out for a dotted address");
    check(first_readable == plain.size(),
          "readable counts every record that has arrived, not just the first",
          std::to_string(first_readable) + " of " + std::to_string(plain.size()));

    Win32TlsCounts after = print_paths_taken("scripted paths", before);
    check(after.incomplete > before.incomplete, "cut-short records were read on");
    check(after.extra_after_handshake > before.extra_after_handshake,
          "records behind the handshake were kept");
    check(after.extra - after.extra_after_handshake > before.extra - before.extra_after_handshake,
          "records behind a record were kept");
    check(after.renegotiate > before.renegotiate && script.ticketsTaken > 0 &&
              script.decryptsOutOfTurn == 0,
          "post-handshake messages went back to the context before the next record");
    check(script.contexts == 0, "every context was deleted");

    // A context that settled on TLS 1.1 is refused after its handshake.
    script.protocol = SP_PROT_TLS1_1_CLIENT;
    problem = scripted_run(stream, plain, each, 1, "scripted.test", request);
    check(problem == "failed: protocol", "a connection below TLS 1.2 fails", problem);
    script.protocol = SP_PROT_TLS1_2_CLIENT;
    delete[] each;
    win32_tls_set_calls(nullptr);
}

// ------------------------------------------------------------------- web

uint8_t stream_byte(const std::string &name, uint32_t k) {
    uint32_t seed = 0;
    for (unsigned char ch : name) seed += ch;
    return (uint8_t)((k + 31 * ((k >> 8) & 0xFF) + 101 * (k >> 16) + seed) & 0xFF);
}

struct Fetch {
    int handshake;          // 1 done, -1 failed, 0 timed out
    std::string reason;     // the failure's text
    std::string answer;     // head and body
    std::string version;
    bool ended;             // the answer ended in an orderly way
    std::string request;    // what was sent
    uint32_t full;          // with fill_first: readable once it stopped growing
};

// One GET over TLS from 127.0.0.1:port, the host given to the TLS layer.
// The answer is taken as the program takes it: readable, then exactly that.
// With fill_first nothing is taken until readable has stopped growing (the
// connection's buffer is full), then a small piece, then the rest.
Fetch fetch(uint16_t port, const char *host, const std::string &path,
            const std::string &extra_head = std::string(), bool fill_first = false) {
    Fetch f = {0, "", "", "", false, "", 0};
    int connected = 0;
    plat_socket s = plat_tcp_connect(htonl(INADDR_LOOPBACK), port, 3000, &connected);
    if (!connected) {
        f.reason = "no connection";
        return f;
    }
    plat_tls t = plat_tls_start(s, host);
    DWORD deadline = GetTickCount() + 10000;
    while (t && (f.handshake = plat_tls_handshake(t)) == 0 && GetTickCount() - deadline > 0x80000000u)
        plat_wait_readable(s, 50);
    char reason[32] = "no start";
    if (t) plat_tls_failure(t, reason, sizeof reason);
    f.reason = reason;
    if (f.handshake == 1) {
        f.version = win32_tls_version(t);
        std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\n" + extra_head +
                              "\r\n";
        f.request = request;
        if (plat_tls_send(t, request.data(), (int)request.size()) != (int)request.size()) {
            f.reason = "send failed";
        } else {
            if (fill_first) {
                deadline = GetTickCount() + 5000;
                for (int still = 0; still < 20 && GetTickCount() - deadline > 0x80000000u; Sleep(25)) {
                    uint32_t now = plat_tls_readable(t);
                    still = now == f.full && now > 0 ? still + 1 : 0;
                    f.full = now;
                }
                char piece[1000];
                int n = plat_tls_recv(t, piece, (int)sizeof piece);
                if (n > 0) f.answer.append(piece, (size_t)n);
            }
            deadline = GetTickCount() + 20000;
            while (GetTickCount() - deadline > 0x80000000u) {
                uint32_t ready = plat_tls_readable(t);
                if (ready == 0) {
                    char probe[1];
                    int n = plat_tls_recv(t, probe, 1);
                    if (n == 0) {
                        f.ended = true;
                        break;
                    }
                    if (n == 1) f.answer += probe[0];
                    if (n == -1) break;
                    plat_wait_readable(s, 25);
                    continue;
                }
                std::string chunk(ready, '\0');
                int n = plat_tls_recv(t, &chunk[0], (int)ready);
                if (n != (int)ready) break;
                f.answer += chunk;
            }
            plat_tls_failure(t, reason, sizeof reason);
            f.reason = reason;
        }
    }
    if (t) plat_tls_close(t);
    plat_close_socket(s);
    return f;
}

std::string body_of(const std::string &answer) {
    size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

std::string header(const std::string &answer, const char *name) {
    std::string key = std::string("\r\n") + name + ":";
    size_t at = answer.find(key);
    if (at == std::string::npos) return "<none>";
    size_t from = answer.find_first_not_of(' ', at + key.size());
    return answer.substr(from, answer.find("\r\n", at + 2) - from);
}

// The stream's bytes must be exactly those of testweb's function.
void check_stream(const Fetch &f, const char *name, uint32_t size, const char *what) {
    std::string body = body_of(f.answer);
    uint32_t first_bad = 0;
    bool same = body.size() == size;
    for (uint32_t k = 0; same && k < size; k++) {
        if ((uint8_t)body[k] != stream_byte(name, k)) {
            same = false;
            first_bad = k;
        }
    }
    check(f.handshake == 1 && same && f.ended, what,
          "handshake " + std::to_string(f.handshake) + " (" + f.reason + "), " +
              std::to_string(body.size()) + " body bytes, first difference at " +
              std::to_string(first_bad) + (f.ended ? "" : ", no orderly end"));
}

// The machine's root store of this (Wine) prefix: the one the chain
// engine reads.
HCERTSTORE open_root_store(void) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

// The certificate of a PEM file as a context of its own, in no store.
PCCERT_CONTEXT read_certificate(const char *pem_path) {
    FILE *file = fopen(pem_path, "rb");
    if (!file) return nullptr;
    std::string pem;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) pem.append(buffer, n);
    fclose(file);
    BYTE der[8192];
    DWORD der_length = sizeof der;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der, &der_length, nullptr,
                              nullptr))
        return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, der, der_length);
}

PCCERT_CONTEXT import_ca(const char *pem_path) {
    PCCERT_CONTEXT certificate = read_certificate(pem_path);
    if (!certificate) return nullptr;
    HCERTSTORE root = open_root_store();
    PCCERT_CONTEXT added = nullptr;
    if (root) {
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, certificate->pbCertEncoded,
                                         certificate->cbCertEncoded,
                                         CERT_STORE_ADD_REPLACE_EXISTING, &added);
        // Wine writes a system store to its registry only when told to (or at
        // the end of the process): a chain built before then would not see it.
        CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(root, 0);
    }
    CertFreeCertificateContext(certificate);
    return added;
}

// True while the root store holds the certificate.
bool in_root_store(PCCERT_CONTEXT certificate) {
    HCERTSTORE root = open_root_store();
    if (!root) return false;
    PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                      certificate, nullptr);
    if (found) CertFreeCertificateContext(found);
    CertCloseStore(root, 0);
    return found != nullptr;
}

// Without the test CA in the root store the good server is not trusted:
// its issuer is unknown.  A process of its own, since a process may keep
// the root store it saw at its first chain.
void check_bare(const char *port) {
    Fetch f = fetch((uint16_t)atoi(port), "localhost", "/stream/x?size=10");
    check(f.handshake == -1 && f.reason == "untrusted",
          "without the test CA the good server is untrusted",
          std::to_string(f.handshake) + " " + f.reason);
}

void remove_from_root_store(PCCERT_CONTEXT certificate) {
    HCERTSTORE root = open_root_store();
    if (!root) return;
    PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                      certificate, nullptr);
    if (found) CertDeleteCertificateFromStore(found);   // frees found
    CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(root, 0);
}

void check_web(char **argv) {
    uint16_t good = (uint16_t)atoi(argv[3]);
    PCCERT_CONTEXT ca = import_ca(argv[2]);
    check(ca != nullptr, "the test CA goes into this prefix's root store");
    uint16_t wrongname = (uint16_t)atoi(argv[4]),
             untrusted = (uint16_t)atoi(argv[5]), expired = (uint16_t)atoi(argv[6]),
             tls12 = (uint16_t)atoi(argv[7]), tls11 = (uint16_t)atoi(argv[8]);
    Win32TlsCounts before = win32_tls_counts();

    // Left unread at first, the connection fills its buffer: at least what
    // the engine takes in one tick, within a few MiB.
    Fetch f = fetch(good, "localhost", "/stream/wide?size=4000000", std::string(), true);
    check_stream(f, "wide", 4000000, "4000000 bytes over TLS by name arrive byte-exact");
    check(f.full >= RECEIVE_BUFFER_SIZE && f.full <= (4u << 20),
          "a full connection holds one receive buffer and no more than a few MiB",
          std::to_string(f.full) + " bytes held");
    check(header(f.answer, "X-Server-Name") == "localhost", "the server name is sent",
          header(f.answer, "X-Server-Name"));
    printf("     by name: %s\n", f.version.c_str());
    f = fetch(good, "localhost", "/stream/slow?size=200000&records=2&record=5000&pause=5");
    check_stream(f, "slow", 200000, "200000 bytes in short bursts arrive byte-exact");
    // A request of several records (sends are cut at the largest record).
    std::string pad(40000, 'p');
    for (size_t i = 0; i < pad.size(); i++) pad[i] = (char)('a' + (i * 7) % 26);
    f = fetch(good, "localhost", "/echo", "X-Pad: " + pad + "\r\n");
    check(f.handshake == 1 && body_of(f.answer) == f.request,
          "a 40000-byte request goes out byte-exact",
          std::to_string(body_of(f.answer).size()) + " bytes echoed of " +
              std::to_string(f.request.size()));
    f = fetch(good, "127.0.0.1", "/stream/dotted?size=30000");
    check_stream(f, "dotted", 30000, "a dotted address is checked against the certificate");
    check(header(f.answer, "X-Server-Name") == "", "no server name goes out for a dotted address",
          header(f.answer, "X-Server-Name"));
    f = fetch(tls12, "localhost", "/stream/older?size=50000");
    check_stream(f, "older", 50000, "a TLS 1.2 server is served");
    check(f.version == "TLS 1.2", "the TLS 1.2 server speaks TLS 1.2", f.version);

    f = fetch(wrongname, "localhost", "/stream/x?size=10");
    check(f.handshake == -1 && f.reason == "wrong name", "a certificate for another name fails",
          std::to_string(f.handshake) + " " + f.reason);
    f = fetch(untrusted, "localhost", "/stream/x?size=10");
    check(f.handshake == -1 && f.reason == "untrusted", "a self-signed certificate fails",
          std::to_string(f.handshake) + " " + f.reason);
    f = fetch(expired, "localhost", "/stream/x?size=10");
    check(f.handshake == -1 && f.reason == "expired", "an expired certificate fails",
          std::to_string(f.handshake) + " " + f.reason);
    // Wine takes the credentials' disabled protocols without heeding them:
    // the check after the handshake is what refuses an older server here.
    if (tls11) {
        f = fetch(tls11, "localhost", "/stream/x?size=10");
        check(f.handshake == -1 && f.reason == "protocol", "a server below TLS 1.2 is refused",
              f.handshake == 1 ? "the handshake agreed on " + f.version
                               : std::to_string(f.handshake) + " " + f.reason);
    } else {
        printf("skip a server below TLS 1.2 is refused: no server speaks TLS 1.1 here\n");
    }

    print_paths_taken("Wine's Schannel", before);
    if (ca) {
        remove_from_root_store(ca);
        check(!in_root_store(ca), "the test CA leaves the root store");
        CertFreeCertificateContext(ca);
    }
}

// For a run of the program itself: the test CA goes into this prefix's
// root store and stays there until a later "remove-ca" (a process of its
// own each, so that the program in between reads the store as saved).
void check_import(const char *pem_path) {
    PCCERT_CONTEXT ca = import_ca(pem_path);
    check(ca != nullptr && in_root_store(ca), "the test CA goes into this prefix's root store");
    if (ca) CertFreeCertificateContext(ca);
}

void check_remove(const char *pem_path) {
    PCCERT_CONTEXT ca = read_certificate(pem_path);
    check(ca != nullptr, "the test CA is read", pem_path);
    if (!ca) return;
    remove_from_root_store(ca);
    check(!in_root_store(ca), "the test CA leaves the root store");
    CertFreeCertificateContext(ca);
}

}  // namespace

int main(int argc, char **argv) {
    bool scripted = argc == 2 && strcmp(argv[1], "script") == 0;
    bool bare = argc == 3 && strcmp(argv[1], "bare") == 0;
    bool web = argc == 9 && strcmp(argv[1], "web") == 0;
    bool import = argc == 3 && strcmp(argv[1], "import-ca") == 0;
    bool remove = argc == 3 && strcmp(argv[1], "remove-ca") == 0;
    if (import || remove) {
        if (import) check_import(argv[2]);
        else check_remove(argv[2]);
        printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
        return failures ? 1 : 0;
    }
    if (!scripted && !bare && !web) {
        fprintf(stderr, "usage: win32_tls_check script\n"
                        "       win32_tls_check bare GOOD\n"
                        "       win32_tls_check web CA_PEM GOOD WRONGNAME UNTRUSTED EXPIRED TLS12 TLS11\n"
                        "       win32_tls_check import-ca|remove-ca CA_PEM\n");
        return 2;
    }
    check(plat_net_start() == 1, "Winsock 2.2 starts");
    if (scripted) check_scripted();
    if (bare) check_bare(argv[2]);
    if (web) check_web(argv);
    plat_net_stop();
    printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
    return failures ? 1 : 0;
}
