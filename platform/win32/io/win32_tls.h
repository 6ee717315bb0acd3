// win32_tls.h - what the Windows TLS layer (win32_tls.cpp, Schannel)
// offers beyond platform.h: the security calls it makes, replaceable as one
// table so that a check can script the answers Schannel gives only now and
// then (a record cut short, bytes of the next record behind this one,
// post-handshake messages), and counters of how often each path ran.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <sspi.h>

#include <cstdint>

// The security calls, the system's by default.  verify_peer stands for the
// certificate check after the handshake: it returns a PlatTlsFailure
// (PLAT_TLS_OK when the server's chain and name are good); host is the name
// or dotted address the connection was started for.
struct Win32TlsCalls {
    ACQUIRE_CREDENTIALS_HANDLE_FN_W acquire_credentials;
    FREE_CREDENTIALS_HANDLE_FN free_credentials;
    INITIALIZE_SECURITY_CONTEXT_FN_W initialize_context;
    DELETE_SECURITY_CONTEXT_FN delete_context;
    APPLY_CONTROL_TOKEN_FN apply_control_token;
    QUERY_CONTEXT_ATTRIBUTES_FN_W query_attributes;
    FREE_CONTEXT_BUFFER_FN free_buffer;
    ENCRYPT_MESSAGE_FN encrypt;
    DECRYPT_MESSAGE_FN decrypt;
    int (*verify_peer)(PCtxtHandle context, const char *host);
};

// Puts calls in place of the system's for connections started from now on
// (null puts the system's back).  The credentials acquired with the
// previous table are freed with it.  Only while no connection is open.
void win32_tls_set_calls(const Win32TlsCalls *calls);
// The system's calls, for a script that passes some of them through.
const Win32TlsCalls *win32_tls_system_calls(void);

// How often each of the rarer paths ran since the start of the process.
struct Win32TlsCounts {
    uint32_t incomplete;      // a record or handshake message cut short: read more
    uint32_t extra;           // bytes of the next record left behind one
    uint32_t extra_after_handshake;   // of those, right after the handshake
    uint32_t renegotiate;     // post-handshake messages fed back to the context
    uint32_t close_notify;    // the peer's orderly close
};
Win32TlsCounts win32_tls_counts(void);

// The protocol a connection speaks ("TLS 1.2", "TLS 1.3"), "" before its
// handshake is done.
const char *win32_tls_version(uint32_t t);
