// tls_hand_out.h - plat_tls_recv's hand-out of the decrypted bytes a TLS
// connection holds in held[*start, end), written once for every backend.
// Plain code with no system header, so that any backend may include it.
#pragma once

#include <cstring>

#include "platform/platform.h"

// Copies up to length held bytes into buffer and moves *start past them:
// their count.  With none held: 0 once the peer has closed, -1 after a
// failure, else PLAT_TLS_WOULD_BLOCK.
inline int tls_hand_out(const char *held, int *start, int end, void *buffer, int length, bool peer_closed,
                        bool failed) {
    int n = end - *start;
    if (n == 0) {
        if (peer_closed) return 0;
        return failed ? -1 : PLAT_TLS_WOULD_BLOCK;
    }
    if (n > length) n = length;
    memcpy(buffer, held + *start, (size_t)n);
    *start += n;
    return n;
}
