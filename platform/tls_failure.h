// tls_failure.h - the text of each TLS failure reason (PlatTlsFailure),
// written once for every backend, and its copy into a caller's buffer for
// plat_tls_failure.  Plain code with no system header, so that any backend
// may include it.
#pragma once

#include <cstring>

#include "platform/platform.h"

inline const char *tls_failure_text(int failure) {
    switch (failure) {
    case PLAT_TLS_OK: return "";
    case PLAT_TLS_UNTRUSTED: return "untrusted";
    case PLAT_TLS_EXPIRED: return "expired";
    case PLAT_TLS_WRONG_NAME: return "wrong name";
    case PLAT_TLS_PROTOCOL: return "protocol";
    case PLAT_TLS_CLOSED: return "closed";
    default: return "other";
    }
}

// Puts the text of failure in reason: at most cap - 1 bytes and a NUL;
// nothing when there is no buffer.
inline void tls_failure_reason(int failure, char *reason, int cap) {
    if (!reason || cap <= 0) return;
    const char *text = tls_failure_text(failure);
    size_t n = strlen(text);
    if (n > (size_t)cap - 1) n = (size_t)cap - 1;
    memcpy(reason, text, n);
    reason[n] = '\0';
}
