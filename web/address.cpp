// address.cpp - taking a stored address apart (see address.h).
#include "web/address.h"

#include <cstring>

#include "listfile/address_text.h"

namespace {

const uint16_t HTTP_PORT = 80;
const uint16_t TLS_PORT = 443;

// The port digits of "host:port": 1 to 5 digits making 1 to 65535.
int parse_port_digits(const char *digits, int n, uint16_t *port) {
    if (n < 1 || n > 5) return 0;
    uint32_t value = 0;
    for (int k = 0; k < n; k++) {
        if (digits[k] < '0' || digits[k] > '9') return 0;
        value = value * 10 + (uint32_t)(digits[k] - '0');
    }
    if (value == 0 || value > 65535) return 0;
    *port = (uint16_t)value;
    return 1;
}

}  // namespace

int split_stored_address(const char *address, int field_size, AddressParts *parts) {
    if (!address || field_size <= 0 || !parts) return 0;
    const char *nul = (const char *)memchr(address, 0, (size_t)field_size);
    if (!nul) return 0;
    const int length = (int)(nul - address);

    const int scheme = address_scheme_length(address);
    parts->has_scheme = scheme != 0;
    parts->tls = address_scheme_is_tls(address);
    parts->port = parts->tls ? TLS_PORT : HTTP_PORT;

    // The host part: up to the path, the query or the fragment.
    int end = scheme;
    while (end < length && address[end] != '/' && address[end] != '?' && address[end] != '#') end++;
    const char *authority = address + scheme;
    int host_length = end - scheme;
    if (host_length == 0 || authority[0] == '[') return 0;
    const char *colon = nullptr;
    for (int k = 0; k < host_length; k++) {
        unsigned char c = (unsigned char)authority[k];
        if (c <= ' ' || c >= 0x7F || c == '@') return 0;
        if (c == ':') {
            if (colon) return 0;   // a second colon: no host:port of ours
            colon = authority + k;
        }
    }
    if (colon) {
        const char *digits = colon + 1;
        if (!parse_port_digits(digits, (int)(authority + host_length - digits), &parts->port)) return 0;
        host_length = (int)(colon - authority);
    }
    if (host_length == 0 || host_length > ADDRESS_HOST_MAX) return 0;
    memcpy(parts->host, authority, (size_t)host_length);
    parts->host[host_length] = 0;

    // The target: "/" for none; a query straight after the host gets its
    // slash; the fragment stays behind.
    int target_end = end;
    while (target_end < length && address[target_end] != '#') target_end++;
    int at = 0;
    if (end == target_end || address[end] != '/') parts->target[at++] = '/';
    int n = target_end - end;
    if (at + n > ADDRESS_TARGET_CAP - 1) return 0;
    memcpy(parts->target + at, address + end, (size_t)n);
    parts->target[at + n] = 0;
    return 1;
}
