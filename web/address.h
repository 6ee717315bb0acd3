// address.h - a stored page or stream address taken apart for a request:
// scheme, host, port, and the path with its query.
#pragma once

#include <cstdint>

// Longest host name taken (a DNS name is at most 253 characters).
static const int ADDRESS_HOST_MAX = 255;
// Room for the path and query: an address field is 512 bytes.
static const int ADDRESS_TARGET_CAP = 512;

struct AddressParts {
    int tls;                              // 1: "https://", else plain HTTP
    int has_scheme;                       // 1: the address began with its scheme
    uint16_t port;                        // as given, else 443 (tls) or 80
    char host[ADDRESS_HOST_MAX + 1];      // without port, NUL-terminated
    char target[ADDRESS_TARGET_CAP];      // "/" path and query; never empty
};

// Splits the address held in a field of field_size bytes.  "https://" (any
// case) means TLS, "http://" or no scheme plain HTTP.  The host runs to the
// first "/", "?" or "#"; a ":port" after it must be 1 to 65535.  The target
// is everything from the first "/" or "?" up to a "#" (the fragment is the
// browser's, never sent), "/" when there is none.  Returns 1 when split; 0
// (parts not to be used) for a text without its NUL in the field, an empty or
// over-long host, a user name ("@" in the host part), a bracketed IPv6
// literal (endpoints are IPv4), a host character that is not printable
// ASCII, or a malformed port.
int split_stored_address(const char *address, int field_size, AddressParts *parts);
