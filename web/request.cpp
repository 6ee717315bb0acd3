// request.cpp - the HTTP request text and its connection.
//
//   [TEXT]     bounded appending into the request
//   [BUILD]    build_request: request line, header blocks, proxy form, range
//   [CONNECT]  address split and endpoint; the connect started and the
//              request sent once it is made (start_request, send_request),
//              or both at once, waiting for the connect (open_request)
//
// The request is assembled at the start of the text scratch buffer, the host
// name is held at character 10,000 of it and the range digits are formed at
// character 11,111.  Nothing here survives the call but the bytes sent.

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "listfile/address_text.h"
#include "platform/platform.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const int HOST_AT = 10000;                  // host name in the scratch
const int DIGITS_AT = 11111;                // range digits in the scratch
const int HOST_CAP = DIGITS_AT - HOST_AT;   // host text with its NUL
const int ADDRESS_SEARCH_LIMIT = 512;       // the split looks this far
const char PROXY_LINE[] = "Proxy-Connection: Keep-Alive\r\n\r\n";
const char RANGE_OPEN[] = "Range: bytes=";
const char RANGE_CLOSE[] = "-\r\n\r\n";
const char LINE_END[] = "\r\n";
const uint16_t HTTP_PORT = 80;

// ------------------------------------------------------------------ [TEXT]

struct RequestText {
    char *out;
    int length;
};

// Appends n bytes, cut so that the text and its NUL stay inside the request
// area (a longer request could only come from an address no caller makes).
void append(RequestText *r, const char *text, int n) {
    if (n <= 0) return;
    r->length += (int)copy_bytes_cut(r->out + r->length, (size_t)(BUILD_REQUEST_CAP - r->length), text,
                                     (size_t)n);
}

void append_text(RequestText *r, const char *text) { append(r, text, (int)strlen(text)); }

// Position of the last "\r\n" that starts at or after from and before end,
// or -1.
int last_line_break(const char *text, int from, int end) {
    for (int k = end - 2; k >= from; k--)
        if (text[k] == '\r' && text[k + 1] == '\n') return k;
    return -1;
}

// Unsigned decimal digits of value at the range-digit place of the scratch.
const char *range_digits(uint32_t value) {
    static char fallback[16];
    char *digits = app_state.text_scratch ? app_state.text_scratch + DIGITS_AT : fallback;
    char reversed[12];
    int n = 0;
    do {
        reversed[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (int k = 0; k < n; k++) digits[k] = reversed[n - 1 - k];
    digits[n] = 0;
    return digits;
}

// Port of a "host:port" text: 1 and the port when the digits after the
// colon make a number from 1 to 65535, else 0.
int parse_port(const char *digits, uint16_t *port) {
    uint32_t value = 0;
    int n = 0;
    for (; digits[n]; n++) {
        if (digits[n] < '0' || digits[n] > '9' || n >= 5) return 0;
        value = value * 10 + (uint32_t)(digits[n] - '0');
    }
    if (n == 0 || value == 0 || value > 65535) return 0;
    *port = (uint16_t)value;
    return 1;
}

}  // namespace

// ----------------------------------------------------------------- [BUILD]

int build_request(char *out, const char *host, const char *path, int bare_host,
                  uint32_t range_start, int proxy_mode) {
    RequestText r = {out, 0};
    out[0] = 0;
    const char *head = string_entry(STR_REQUEST_HEAD);
    const char *host_prefix = bare_host ? "" : string_entry(STR_HOST_PREFIX);

    // 1. Request line.  A proxy needs the absolute form: the head without
    // its slash, the scheme, the host as the host line gives it, "/" and
    // the path.  (A bare path through a proxy is refused by real proxies.)
    if (proxy_mode) {
        append(&r, head, string_length(STR_REQUEST_HEAD) - 1);
        append_text(&r, string_entry(STR_SCHEME_PREFIX));
        append_text(&r, host_prefix);
        append_text(&r, host);
        append(&r, "/", 1);
    } else {
        append_text(&r, head);
    }
    if (path) append_text(&r, path);
    append_text(&r, string_entry(STR_REQUEST_TAIL));

    // 2.-4. Header blocks around the host line.
    append_text(&r, string_entry(STR_HEADER_BLOCK_1));
    append_text(&r, string_entry(STR_HOST_LABEL));
    append_text(&r, host_prefix);
    append_text(&r, host);
    append_text(&r, LINE_END);
    int block_start = r.length;
    append(&r, string_entry(STR_HEADER_BLOCK_2), string_length(STR_HEADER_BLOCK_2));

    // 5. Proxy form: the block's last two header lines give way to the
    // proxy's keep-alive line.
    if (proxy_mode && r.length - block_start >= 4) {
        r.length -= 4;   // the last line's break and the empty line
        int before_last = last_line_break(out, block_start, r.length);
        int before_second_last = before_last < 0 ? -1 : last_line_break(out, block_start, before_last);
        r.length = before_second_last < 0 ? block_start : before_second_last + 2;
        out[r.length] = 0;
        append_text(&r, PROXY_LINE);
    }

    // 6. Range: always the last header line.
    if (range_start != 0 && r.length >= 2) {
        r.length -= 2;
        out[r.length] = 0;
        append_text(&r, RANGE_OPEN);
        append_text(&r, range_digits(range_start));
        append_text(&r, RANGE_CLOSE);
    }
    return r.length;
}

// --------------------------------------------------------------- [CONNECT]

namespace {

// Splits address: the host starts after the scheme prefix, if any, and
// ends at the first slash within the first 512 characters; the path
// follows it (null when there is no slash).  The host is copied to its
// place in the scratch, which is returned (null without a scratch).  An
// address beginning with "https://" starts its host after that; any other
// is split as the demo sites' addresses always were (after the first
// "http://" found, or from its start).
char *split_address(const char *address, const char **path) {
    *path = nullptr;
    char *scratch = app_state.text_scratch;
    if (!scratch || !address) return nullptr;
    begin_search(0, ADDRESS_SEARCH_LIMIT);
    int32_t host_start = 0;
    if (address_scheme_is_tls(address))
        host_start = address_scheme_length(address);
    else if (find_text(address, string_entry(STR_SCHEME_PREFIX)))
        host_start = search_cursor;
    search_cursor = host_start;
    size_t host_length;
    if (find_text(address, "/")) {
        host_length = (size_t)(match_start - host_start);
        *path = address + search_cursor;
    } else {
        host_length = strlen(address + host_start);
    }
    if (host_length > (size_t)HOST_CAP - 1) host_length = (size_t)HOST_CAP - 1;
    char *host = scratch + HOST_AT;
    memcpy(host, address + host_start, host_length);
    host[host_length] = 0;
    return host;
}

// Where a request for address connects: the host itself (looked up; port
// 80 unless the address names one) or, in proxy mode, the proxy, with no
// look-up.  0 when the host cannot be found.  These are the demo sites'
// plain requests: an "https://" address, which only a link's own setup
// (direct_link.cpp) takes over TLS, gets no connection here, direct or
// through the proxy; sent in plain text to a TLS port it could only fail.
int request_endpoint(int proxy_mode, const char *address, uint32_t *endpoint, uint16_t *port) {
    if (address && address_scheme_is_tls(address)) return 0;
    const char *path;
    char *host = split_address(address, &path);
    if (!host) return 0;
    *endpoint = 0;
    *port = HTTP_PORT;
    if (!proxy_mode) {
        // "host:port" connects to that port; the lookup takes the host alone.
        // A port that is not 1..65535 counts as a host that cannot be found.
        char *colon = strchr(host, ':');
        if (colon) {
            if (!parse_port(colon + 1, port)) return 0;
            *colon = 0;
        }
        return plat_resolve(host, endpoint, RESOLVE_TIMEOUT_MS);
    }
    // o1.o2.o3.o4 in network byte order, whatever the machine's order.
    uint8_t octets[4];
    for (int k = 0; k < 4; k++) octets[k] = (uint8_t)app_state.proxy_address[k];
    memcpy(endpoint, octets, 4);
    *port = (uint16_t)(app_state.proxy_port & 0xFFFF);
    return 1;
}

}  // namespace

plat_socket start_request(int proxy_mode, const char *address) {
    uint32_t endpoint;
    uint16_t port;
    if (!request_endpoint(proxy_mode, address, &endpoint, &port)) return 0;
    return plat_tcp_connect_start(endpoint, port);
}

int send_request(plat_socket s, int proxy_mode, const char *address, int bare_host,
                 uint32_t range_start) {
    const char *path;
    const char *host = split_address(address, &path);
    if (!host || !s) return 0;
    char *scratch = app_state.text_scratch;
    int length = build_request(scratch, host, path, bare_host, range_start, proxy_mode);
    return plat_send(s, scratch, length) == length;
}

int open_request(uint32_t *socket_slot, int proxy_mode, const char *address, int bare_host,
                 uint32_t range_start) {
    *socket_slot = 0;
    uint32_t endpoint;
    uint16_t port;
    if (!request_endpoint(proxy_mode, address, &endpoint, &port)) return 0;

    // A silent host must not hold the window for long: the connect gives up
    // after CONNECT_TIMEOUT_MS.  A socket whose connect failed is still
    // handed over; it yields no data and the engine's time-out retries it.
    int connected = 0;
    plat_socket s = plat_tcp_connect(endpoint, port, CONNECT_TIMEOUT_MS, &connected);
    *socket_slot = s;
    return s && connected && send_request(s, proxy_mode, address, bare_host, range_start);
}
