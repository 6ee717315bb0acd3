// win32_tls.cpp - TLS client connections on Winsock sockets with the
// system's Schannel (SSPI).
//
// Sections: [CALLS] [CREDENTIALS] [CONNECTIONS] [FAILURES] [SOCKET]
//           [HANDSHAKE] [CERTIFICATE] [DATA]
//
// The program polls: each timer tick it asks how many bytes are readable
// and takes exactly those.  Schannel decrypts one record per call, in the
// caller's buffer, and leaves behind what follows the record; bytes on the
// socket are ciphertext.  So every connection keeps two buffers of its own:
// the ciphertext received and not yet decrypted (cipher), and the decrypted
// bytes not yet taken (decrypted).  "Readable" first pulls whatever the
// socket holds and decrypts every whole record it can reach; a tick that
// only asked the socket would stall while whole records wait in cipher.
// The socket is non-blocking from the start of TLS to its end, so nothing
// waits for the peer (but a send, for room, at most SEND_WAIT_MS).
//
// The answers of DecryptMessage and InitializeSecurityContext that need
// care, and what this file does with them:
//   SEC_E_INCOMPLETE_MESSAGE  the record or handshake message is cut short:
//                             keep the bytes, read more, call again
//   SECBUFFER_EXTRA           bytes of the next record (or the first
//                             records after the handshake) behind this one:
//                             they stay at the front of cipher
//   SEC_I_RENEGOTIATE         post-handshake messages (TLS 1.3 session
//                             tickets, key updates): fed back through
//                             InitializeSecurityContext, not a failure
//   SEC_I_CONTEXT_EXPIRED     the peer's close notice: an orderly end
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// SCH_CREDENTIALS (the credentials that can ask for TLS 1.3) and its
// parameters are declared only with this, and need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include "platform/win32/io/win32_tls.h"
#include <schannel.h>
#include <wincrypt.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/tls_failure.h"
#include "platform/tls_hand_out.h"
#include "platform/win32/io/win32_text.h"

namespace {

// Decrypted bytes a connection holds for its reader: what the program's
// receive buffer takes in one tick (1,376,256 bytes) and room for one more
// record, since decrypting stops when a whole record no longer fits (TLS
// records carry at most 16 KiB; 64 KiB is a margin).  So at one tick every 25 ms a TLS download is bounded where
// a plain one is, about 55 MB/s, not by this buffer.  Allocated at the
// start, freed at the close.
const int DECRYPTED_CAP = (1344 + 64) * 1024;
// Ciphertext received and not yet decrypted: several whole records, and
// room for a server's first handshake flight (certificates included).
const int CIPHER_CAP = 64 * 1024;
// Open connections at a time (far above the program's parallel downloads).
const int CONNECTIONS_MAX = 64;
// How long plat_tls_send waits for room in all.
const int SEND_WAIT_MS = 10000;
// Calls of InitializeSecurityContext in one handshake step at most; the
// rest waits for the next tick.
const int STEPS_MAX = 16;

const DWORD CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                            ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                            ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                            ISC_REQ_MANUAL_CRED_VALIDATION;

enum Phase { PHASE_HANDSHAKE, PHASE_OPEN, PHASE_PEER_CLOSED, PHASE_FAILED };

struct TlsConnection {
    SOCKET sock;
    char host[256];              // as given, for the certificate check
    wchar_t target[256];         // the server name sent; empty for an address
    CtxtHandle context;
    bool hasContext;             // context holds a security context
    Phase phase;
    int failure;                 // a PlatTlsFailure once phase is PHASE_FAILED
    bool renegotiating;          // post-handshake messages go to the context
    bool needMore;               // cipher holds a cut-short record: read first
    SecPkgContext_StreamSizes sizes;   // known once open
    char *cipher;                // CIPHER_CAP bytes, cipherLength of them held
    int cipherLength;
    char *decrypted;             // DECRYPTED_CAP bytes
    int start, end;              // the bytes not yet taken: decrypted[start, end)
    char *sealed;                // one encrypted record on its way out
};

TlsConnection *connections[CONNECTIONS_MAX];
Win32TlsCounts counts;

// One buffer of a security call's buffer list.
void set_buffer(SecBuffer *b, unsigned long type, void *data, unsigned long size) {
    b->BufferType = type;
    b->pvBuffer = data;
    b->cbBuffer = size;
}

}  // namespace

// ---------------------------------------------------------------- [CALLS]

static int system_verify_peer(PCtxtHandle context, const char *host);

static const Win32TlsCalls system_calls = {
    AcquireCredentialsHandleW, FreeCredentialsHandle, InitializeSecurityContextW,
    DeleteSecurityContext,     ApplyControlToken,     QueryContextAttributesW,
    FreeContextBuffer,         EncryptMessage,        DecryptMessage,
    system_verify_peer,
};
static const Win32TlsCalls *calls = &system_calls;

static CredHandle credentials;
static bool have_credentials;

const Win32TlsCalls *win32_tls_system_calls(void) { return &system_calls; }

void win32_tls_set_calls(const Win32TlsCalls *replacement) {
    if (have_credentials) calls->free_credentials(&credentials);
    have_credentials = false;
    calls = replacement ? replacement : &system_calls;
}

Win32TlsCounts win32_tls_counts(void) { return counts; }

// ---------------------------------------------------------- [CREDENTIALS]

// One set of client credentials for the process, made at the first start.
// Schannel checks no certificate itself (manual validation): the check
// after the handshake builds the chain and so can name the reason
// (expired, wrong name, unknown root).  Windows 10 and later take
// SCH_CREDENTIALS, which can offer TLS 1.3; older systems know only
// SCHANNEL_CRED, first asked for TLS 1.2 and 1.3, then, should a system
// refuse the pair, for TLS 1.2 alone.  Nothing older is asked for, and the
// protocol is checked again after each handshake.
static bool acquire_credentials(void) {
    if (have_credentials) return true;
    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    TLS_PARAMETERS parameters;
    memset(&parameters, 0, sizeof parameters);
    parameters.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT |
                                        SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS modern;
    memset(&modern, 0, sizeof modern);
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = flags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    SECURITY_STATUS status = calls->acquire_credentials(
        nullptr, (SEC_WCHAR *)UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
        nullptr, &credentials, &expiry);
    const DWORD protocols[2] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT,
                                SP_PROT_TLS1_2_CLIENT};
    for (int i = 0; status != SEC_E_OK && i < 2; i++) {
        SCHANNEL_CRED older;
        memset(&older, 0, sizeof older);
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = flags;
        older.grbitEnabledProtocols = protocols[i];
        status = calls->acquire_credentials(nullptr, (SEC_WCHAR *)UNISP_NAME_W,
                                            SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                            nullptr, &credentials, &expiry);
    }
    have_credentials = status == SEC_E_OK;
    return have_credentials;
}

// ---------------------------------------------------------- [CONNECTIONS]

static TlsConnection *connection_of(plat_tls t) {
    if (t < 1 || t > (plat_tls)CONNECTIONS_MAX) return nullptr;
    return connections[t - 1];
}

static void set_nonblocking(SOCKET s, bool on) {
    u_long value = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &value);
}

// A dotted IPv4 address, or an IPv6 one (the only names with a colon).
static bool is_address(const char *host) {
    if (strchr(host, ':')) return true;
    int dots = 0, digits = 0;
    for (const char *p = host; *p; p++) {
        if (*p == '.') {
            if (digits == 0) return false;
            dots++;
            digits = 0;
        } else if (*p >= '0' && *p <= '9') {
            if (++digits > 3) return false;
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

static void free_connection(TlsConnection *c) {
    free(c->cipher);
    free(c->decrypted);
    free(c->sealed);
    delete c;
}

plat_tls plat_tls_start(plat_socket s, const char *host) {
    if (!s || !host || !*host || strlen(host) >= sizeof ((TlsConnection *)0)->host) return 0;
    int slot = 0;
    while (slot < CONNECTIONS_MAX && connections[slot]) slot++;
    if (slot == CONNECTIONS_MAX) return 0;
    if (!acquire_credentials()) return 0;
    TlsConnection *c = new (std::nothrow) TlsConnection();
    if (!c) return 0;
    c->sock = (SOCKET)s;
    strcpy(c->host, host);
    // The server name goes out for names only: a dotted address is no
    // server name, and is checked against the certificate all the same.
    bool named = is_address(host) || win32_utf8_to_wide(host, c->target, 256) > 0;
    c->cipher = (char *)malloc(CIPHER_CAP);
    c->decrypted = (char *)malloc(DECRYPTED_CAP);
    if (!named || !c->cipher || !c->decrypted) {
        free_connection(c);
        return 0;
    }
    c->phase = PHASE_HANDSHAKE;
    set_nonblocking(c->sock, true);
    connections[slot] = c;
    return (plat_tls)slot + 1;
}

// -------------------------------------------------------------- [SOCKET]

// Reads what the socket holds into cipher, as far as there is room: the
// bytes read, 0 when none are there (or no room), -1 once the peer has
// ended the stream, -2 on a broken connection.
static int pull(TlsConnection *c) {
    int room = CIPHER_CAP - c->cipherLength;
    if (room <= 0) return 0;
    int n = recv(c->sock, c->cipher + c->cipherLength, room, 0);
    if (n > 0) {
        c->cipherLength += n;
        return n;
    }
    if (n == 0) return -1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -2;
}

// Sends all the bytes, waiting for room while *waited stays below
// SEND_WAIT_MS; false when the connection broke or the peer took nothing.
static bool send_all(TlsConnection *c, const char *data, int length, int *waited) {
    while (length > 0) {
        int n = send(c->sock, data, length, 0);
        if (n > 0) {
            data += n;
            length -= n;
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (*waited >= SEND_WAIT_MS) return false;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(c->sock, &writable);
        const int slice = 50;
        struct timeval wait = {0, slice * 1000};
        if (select(0, nullptr, &writable, nullptr, &wait) <= 0) *waited += slice;
    }
    return true;
}

// Keeps the last `left` bytes of cipher (what a call did not consume).
static void keep_tail(TlsConnection *c, int left) {
    if (left < 0 || left > c->cipherLength) left = 0;
    memmove(c->cipher, c->cipher + c->cipherLength - left, (size_t)left);
    c->cipherLength = left;
}

// ------------------------------------------------------------- [FAILURES]

int plat_tls_failure(plat_tls t, char *reason, int cap) {
    TlsConnection *c = connection_of(t);
    int failure = !c ? PLAT_TLS_OTHER : c->phase == PHASE_FAILED ? c->failure : PLAT_TLS_OK;
    tls_failure_reason(failure, reason, cap);
    return failure;
}

// What a failed security call means.  Schannel's own certificate answers
// are kept in the list for systems that check regardless of the flags.
static int failure_of(SECURITY_STATUS status) {
    switch (status) {
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_CERT_UNKNOWN:
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING: return PLAT_TLS_UNTRUSTED;
    case SEC_E_CERT_EXPIRED:
    case CERT_E_EXPIRED: return PLAT_TLS_EXPIRED;
    case SEC_E_WRONG_PRINCIPAL:
    case CERT_E_CN_NO_MATCH: return PLAT_TLS_WRONG_NAME;
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
    case SEC_E_ILLEGAL_MESSAGE:
    case SEC_E_DECRYPT_FAILURE:
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_INVALID_TOKEN:
    case SEC_E_OUT_OF_SEQUENCE: return PLAT_TLS_PROTOCOL;
    case SEC_E_CONTEXT_EXPIRED: return PLAT_TLS_CLOSED;
    default: return PLAT_TLS_OTHER;
    }
}

static void fail(TlsConnection *c, int failure) {
    c->failure = failure;
    c->phase = PHASE_FAILED;
}

// ------------------------------------------------------------ [HANDSHAKE]

// One call of InitializeSecurityContext: the first without input, later
// ones with the ciphertext held.  Its token goes out at once; the input it
// consumed leaves cipher (SECBUFFER_EXTRA says how much it left behind).
// Returns the call's status, or SEC_E_CONTEXT_EXPIRED when the token
// could not be sent.
static SECURITY_STATUS step_context(TlsConnection *c) {
    SecBuffer in[2];
    set_buffer(&in[0], SECBUFFER_TOKEN, c->cipher, (unsigned long)c->cipherLength);
    set_buffer(&in[1], SECBUFFER_EMPTY, nullptr, 0);
    SecBufferDesc input = {SECBUFFER_VERSION, 2, in};
    SecBuffer out[1];
    set_buffer(&out[0], SECBUFFER_TOKEN, nullptr, 0);
    SecBufferDesc output = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    TimeStamp expiry;
    bool first = !c->hasContext;
    SECURITY_STATUS status = calls->initialize_context(
        &credentials, first ? nullptr : &c->context, c->target[0] ? c->target : nullptr,
        CONTEXT_FLAGS, 0, 0, first ? nullptr : &input, 0, first ? &c->context : nullptr,
        &output, &attributes, &expiry);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) c->hasContext = true;
    bool sent = true;
    if (out[0].pvBuffer) {
        // A failure's token is an alert: it goes out if the socket takes it
        // now, without waiting.
        int waited = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ? 0 : SEND_WAIT_MS;
        sent = send_all(c, (const char *)out[0].pvBuffer, (int)out[0].cbBuffer, &waited);
        calls->free_buffer(out[0].pvBuffer);
    }
    if (!first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
        keep_tail(c, in[1].BufferType == SECBUFFER_EXTRA ? (int)in[1].cbBuffer : 0);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        counts.incomplete++;
        c->needMore = true;
    }
    if (!sent && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
        return SEC_E_CONTEXT_EXPIRED;
    return status;
}

// The protocol flags (SP_PROT_...) of what the context speaks in
// *protocol; false when the system does not say.
static bool protocol_of(TlsConnection *c, DWORD *protocol) {
    SecPkgContext_ConnectionInfo info;
    memset(&info, 0, sizeof info);
    if (calls->query_attributes(&c->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) return false;
    *protocol = info.dwProtocol;
    return true;
}

// The context must speak TLS 1.2 or later, whatever the credentials asked
// for (Wine takes SCH_CREDENTIALS but ignores the protocols it disables).
static int finish_handshake(TlsConnection *c) {
    DWORD protocol = 0;
    if (!protocol_of(c, &protocol) || !(protocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT))) {
        fail(c, PLAT_TLS_PROTOCOL);
        return -1;
    }
    int failure = calls->verify_peer(&c->context, c->host);
    if (failure != PLAT_TLS_OK) {
        fail(c, failure);
        return -1;
    }
    if (calls->query_attributes(&c->context, SECPKG_ATTR_STREAM_SIZES, &c->sizes) != SEC_E_OK ||
        c->sizes.cbMaximumMessage == 0 ||
        c->sizes.cbMaximumMessage > (unsigned long)DECRYPTED_CAP / 2) {
        fail(c, PLAT_TLS_OTHER);
        return -1;
    }
    c->sealed = (char *)malloc(c->sizes.cbHeader + c->sizes.cbMaximumMessage + c->sizes.cbTrailer);
    if (!c->sealed) {
        fail(c, PLAT_TLS_OTHER);
        return -1;
    }
    if (c->cipherLength > 0) {
        counts.extra++;
        counts.extra_after_handshake++;
    }
    c->phase = PHASE_OPEN;
    return 1;
}

int plat_tls_handshake(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c || c->phase == PHASE_FAILED) return -1;
    if (c->phase != PHASE_HANDSHAKE) return 1;
    for (int step = 0; step < STEPS_MAX; step++) {
        if (c->hasContext && (c->cipherLength == 0 || c->needMore)) {
            int got = pull(c);
            if (got < 0) {
                fail(c, PLAT_TLS_CLOSED);
                return -1;
            }
            if (got == 0) {
                if (c->cipherLength == CIPHER_CAP) {   // a flight larger than we hold
                    fail(c, PLAT_TLS_PROTOCOL);
                    return -1;
                }
                return 0;
            }
            c->needMore = false;
        }
        SECURITY_STATUS status = step_context(c);
        switch (status) {
        case SEC_E_OK: return finish_handshake(c);
        case SEC_I_CONTINUE_NEEDED:
        case SEC_E_INCOMPLETE_MESSAGE:
        case SEC_I_INCOMPLETE_CREDENTIALS:   // asked for a client certificate: go on without
            continue;
        default:
            fail(c, failure_of(status));
            return -1;
        }
    }
    return 0;
}

// ---------------------------------------------------------- [CERTIFICATE]

// True when the certificate lists the address host (dotted IPv4 or IPv6)
// among its subject's alternative names.
static bool names_address(PCCERT_CONTEXT certificate, const char *host) {
    wchar_t wide[64];
    if (win32_utf8_to_wide(host, wide, 64) <= 0) return false;
    struct sockaddr_storage address;
    int length = sizeof address;
    const BYTE *bytes = nullptr;
    DWORD size = 0;
    if (WSAStringToAddressW(wide, AF_INET, nullptr, (struct sockaddr *)&address, &length) == 0) {
        bytes = (const BYTE *)&((struct sockaddr_in *)&address)->sin_addr;
        size = 4;
    } else if (length = sizeof address,
               WSAStringToAddressW(wide, AF_INET6, nullptr, (struct sockaddr *)&address,
                                   &length) == 0) {
        bytes = (const BYTE *)&((struct sockaddr_in6 *)&address)->sin6_addr;
        size = 16;
    } else {
        return false;
    }
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                          certificate->pCertInfo->rgExtension);
    if (!extension) return false;
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD names_size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &names_size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; i++) {
        const CERT_ALT_NAME_ENTRY &entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == size && memcmp(entry.IPAddress.pbData, bytes, size) == 0;
    }
    LocalFree(names);
    return found;
}

// The server's chain, built from the system's stores and what the server
// sent, must reach a trusted root, be within its dates and be issued for
// host (a name or a dotted address).  Some systems match only DNS names in
// the policy check: an address it finds no match for is looked up among
// the certificate's address entries here (the chain is good by then: the
// policy reports a bad chain before a wrong name).
static int system_verify_peer(PCtxtHandle context, const char *host) {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        !certificate)
        return PLAT_TLS_UNTRUSTED;
    wchar_t name[256];
    if (win32_utf8_to_wide(host, name, 256) <= 0) {
        CertFreeCertificateContext(certificate);
        return PLAT_TLS_WRONG_NAME;
    }
    LPSTR server_use[1] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH};
    CERT_CHAIN_PARA chain_para;
    memset(&chain_para, 0, sizeof chain_para);
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = server_use;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    int failure = PLAT_TLS_UNTRUSTED;
    if (CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                &chain_para, 0, nullptr, &chain) &&
        chain) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
        memset(&ssl, 0, sizeof ssl);
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name;
        CERT_CHAIN_POLICY_PARA policy;
        memset(&policy, 0, sizeof policy);
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS verdict;
        memset(&verdict, 0, sizeof verdict);
        verdict.cbSize = sizeof verdict;
        // The chain's own verdict first: Wine's policy check passes a chain
        // that stops short of any root (its issuer unknown).
        DWORD chain_errors = chain->TrustStatus.dwErrorStatus;
        if (chain_errors & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID)) {
            failure = PLAT_TLS_EXPIRED;
        } else if (chain_errors != CERT_TRUST_NO_ERROR) {
            failure = PLAT_TLS_UNTRUSTED;
        } else if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy,
                                                    &verdict)) {
            switch ((HRESULT)verdict.dwError) {
            case S_OK: failure = PLAT_TLS_OK; break;
            case CERT_E_EXPIRED: failure = PLAT_TLS_EXPIRED; break;
            case CERT_E_CN_NO_MATCH:
                failure = is_address(host) && names_address(certificate, host)
                              ? PLAT_TLS_OK
                              : PLAT_TLS_WRONG_NAME;
                break;
            default: failure = PLAT_TLS_UNTRUSTED; break;   // no path to a root we trust
            }
        }
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(certificate);
    return failure;
}

// ----------------------------------------------------------------- [DATA]

int plat_tls_send(plat_tls t, const void *data, int length) {
    TlsConnection *c = connection_of(t);
    if (!c || length < 0 || (c->phase != PHASE_OPEN && c->phase != PHASE_PEER_CLOSED))
        return -1;
    int waited = 0;
    const char *from = (const char *)data;
    for (int done = 0; done < length;) {
        int n = length - done;
        if (n > (int)c->sizes.cbMaximumMessage) n = (int)c->sizes.cbMaximumMessage;
        char *header = c->sealed;
        char *body = header + c->sizes.cbHeader;
        memcpy(body, from + done, (size_t)n);
        SecBuffer b[4];
        set_buffer(&b[0], SECBUFFER_STREAM_HEADER, header, c->sizes.cbHeader);
        set_buffer(&b[1], SECBUFFER_DATA, body, (unsigned long)n);
        set_buffer(&b[2], SECBUFFER_STREAM_TRAILER, body + n, c->sizes.cbTrailer);
        set_buffer(&b[3], SECBUFFER_EMPTY, nullptr, 0);
        SecBufferDesc message = {SECBUFFER_VERSION, 4, b};
        SECURITY_STATUS status = calls->encrypt(&c->context, 0, &message, 0);
        if (status != SEC_E_OK) {
            fail(c, failure_of(status));
            return -1;
        }
        // The header may come out shorter than its room (never on the
        // systems seen, but allowed): the record is sent piece by piece.
        if (!send_all(c, (const char *)b[0].pvBuffer, (int)b[0].cbBuffer, &waited) ||
            !send_all(c, (const char *)b[1].pvBuffer, (int)b[1].cbBuffer, &waited) ||
            !send_all(c, (const char *)b[2].pvBuffer, (int)b[2].cbBuffer, &waited)) {
            fail(c, waited >= SEND_WAIT_MS ? PLAT_TLS_OTHER : PLAT_TLS_CLOSED);
            return -1;
        }
        done += n;
    }
    return length;
}

// Feeds the post-handshake messages held in cipher back to the context;
// false when it failed (the connection is then failed).
static bool renegotiate(TlsConnection *c) {
    SECURITY_STATUS status = step_context(c);
    if (status == SEC_E_OK) {
        c->renegotiating = false;
        return true;
    }
    if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) return true;
    fail(c, failure_of(status));
    return false;
}

// Decrypts into the connection's buffer every whole record that has
// arrived, stopping when the socket is empty and only a cut-short record
// (or nothing) is left, or when the buffer has no room for one more record.
static void take_in(TlsConnection *c) {
    if (c->phase != PHASE_OPEN) return;
    if (c->start == c->end) c->start = c->end = 0;
    int record = (int)c->sizes.cbMaximumMessage;
    if (c->start > 0 && DECRYPTED_CAP - c->end < record) {
        memmove(c->decrypted, c->decrypted + c->start, (size_t)(c->end - c->start));
        c->end -= c->start;
        c->start = 0;
    }
    while (DECRYPTED_CAP - c->end >= record) {
        if (c->cipherLength == 0 || c->needMore) {
            int got = pull(c);
            if (got == -1) {   // the stream ended without the close notice
                c->phase = PHASE_PEER_CLOSED;
                return;
            }
            if (got == -2) {
                fail(c, PLAT_TLS_CLOSED);
                return;
            }
            if (got == 0) {
                if (c->cipherLength == CIPHER_CAP) fail(c, PLAT_TLS_PROTOCOL);
                return;
            }
            c->needMore = false;
        }
        if (c->renegotiating) {
            if (!renegotiate(c)) return;
            continue;
        }
        SecBuffer b[4];
        set_buffer(&b[0], SECBUFFER_DATA, c->cipher, (unsigned long)c->cipherLength);
        for (int i = 1; i < 4; i++) set_buffer(&b[i], SECBUFFER_EMPTY, nullptr, 0);
        SecBufferDesc message = {SECBUFFER_VERSION, 4, b};
        SECURITY_STATUS status = calls->decrypt(&c->context, &message, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            counts.incomplete++;
            c->needMore = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            fail(c, failure_of(status));
            return;
        }
        // The record is decrypted in place; what follows it is the extra
        // buffer, always the tail of the input.
        int left = 0;
        for (int i = 0; i < 4; i++) {
            if (b[i].BufferType == SECBUFFER_DATA && b[i].cbBuffer > 0) {
                int n = (int)b[i].cbBuffer;
                if (n > DECRYPTED_CAP - c->end) {   // never more than a record
                    fail(c, PLAT_TLS_OTHER);
                    return;
                }
                memcpy(c->decrypted + c->end, b[i].pvBuffer, (size_t)n);
                c->end += n;
            }
            if (b[i].BufferType == SECBUFFER_EXTRA) left = (int)b[i].cbBuffer;
        }
        keep_tail(c, left);
        if (status == SEC_I_CONTEXT_EXPIRED) {
            counts.close_notify++;
            c->phase = PHASE_PEER_CLOSED;
            return;
        }
        if (status == SEC_I_RENEGOTIATE) {
            counts.renegotiate++;
            c->renegotiating = true;
            if (!renegotiate(c)) return;
            continue;
        }
        if (left > 0) counts.extra++;
    }
}

uint32_t plat_tls_readable(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c) return 0;
    take_in(c);
    return (uint32_t)(c->end - c->start);
}

int plat_tls_recv(plat_tls t, void *buffer, int length) {
    TlsConnection *c = connection_of(t);
    if (!c || length <= 0 || c->phase == PHASE_HANDSHAKE) return -1;
    if (c->start == c->end) take_in(c);
    return tls_hand_out(c->decrypted, &c->start, c->end, buffer, length, c->phase == PHASE_PEER_CLOSED,
                        c->phase == PHASE_FAILED);
}

// The close notice goes out only on a sound connection, and only as far as
// the socket takes it now; the peer's answer is not waited for.
void plat_tls_close(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c) return;
    if (c->hasContext && (c->phase == PHASE_OPEN || c->phase == PHASE_PEER_CLOSED)) {
        DWORD kind = SCHANNEL_SHUTDOWN;
        SecBuffer b[1];
        set_buffer(&b[0], SECBUFFER_TOKEN, &kind, sizeof kind);
        SecBufferDesc token = {SECBUFFER_VERSION, 1, b};
        if (calls->apply_control_token(&c->context, &token) == SEC_E_OK) {
            SecBuffer out[1];
            set_buffer(&out[0], SECBUFFER_TOKEN, nullptr, 0);
            SecBufferDesc output = {SECBUFFER_VERSION, 1, out};
            unsigned long attributes = 0;
            TimeStamp expiry;
            calls->initialize_context(&credentials, &c->context,
                                      c->target[0] ? c->target : nullptr, CONTEXT_FLAGS, 0, 0,
                                      nullptr, 0, nullptr, &output, &attributes, &expiry);
            if (out[0].pvBuffer) {
                send(c->sock, (const char *)out[0].pvBuffer, (int)out[0].cbBuffer, 0);
                calls->free_buffer(out[0].pvBuffer);
            }
        }
    }
    if (c->hasContext) calls->delete_context(&c->context);
    set_nonblocking(c->sock, false);
    free_connection(c);
    connections[t - 1] = nullptr;
}

// The protocol the connection speaks ("TLS 1.2", "TLS 1.3"), "" before the
// handshake is done or when the system does not say.  Older ones are named
// too, so that a check that sees one get through can say which.
const char *win32_tls_version(plat_tls t) {
    TlsConnection *c = connection_of(t);
    if (!c || !c->hasContext || c->phase == PHASE_HANDSHAKE) return "";
    DWORD protocol = 0;
    if (!protocol_of(c, &protocol)) return "";
    if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
    if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLS 1.1";
    if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLS 1.0";
    return "older";
}
