// direct_link.cpp - a link straight to a media file, over http or https.
//
//   [START]    the attempt's address, the file's name, the connect
//   [REQUEST]  the request text: Host and target from the address
//   [SETUP]    proxy tunnel, TLS handshake and the request, one step a tick
//
// Such a link has no page to read: its address is the stream, asked for
// with the same length probe and ranged requests as a demo site's stream
// (response.cpp and the transfer do the rest).  Nothing here waits: every
// phase is stepped by the item's ticks.

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/address_text.h"
#include "platform/platform.h"
#include "web/address.h"
#include "web/web.h"

namespace {

const int REQUEST_CAP = 2048;
const int REASON_CAP = 48;

bool default_port(int tls, uint16_t port) { return port == (tls ? 443 : 80); }

}  // namespace

// ----------------------------------------------------------------- [START]

int begin_direct_link(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    AddressParts parts;
    if (!split_stored_address(item.pageAddress, (int)sizeof item.pageAddress, &parts)) {
        give_up_item_logged(i, "bad address");
        return 0;
    }
    copy_text_cut(item.streamAddress, sizeof item.streamAddress, item.pageAddress);
    downloads.runs[i].page_phase = PAGE_UNREAD;
    item.requestStage = STAGE_STREAM;
    downloads.runs[i].continues = 0;
    return 1;
}

plat_socket start_direct_request(int proxy_mode, const char *address) {
    AddressParts parts;
    if (!split_stored_address(address, REQUEST_ADDRESS_SIZE, &parts)) return 0;
    uint32_t endpoint = 0;
    uint16_t port = parts.port;
    if (proxy_mode) {
        // o1.o2.o3.o4 in network byte order, whatever the machine's order.
        uint8_t octets[4];
        for (int k = 0; k < 4; k++) octets[k] = (uint8_t)app_state.proxy_address[k];
        memcpy(&endpoint, octets, 4);
        port = (uint16_t)(app_state.proxy_port & 0xFFFF);
    } else if (!plat_resolve(parts.host, &endpoint, RESOLVE_TIMEOUT_MS)) {
        return 0;
    }
    return plat_tcp_connect_start(endpoint, port);
}

// --------------------------------------------------------------- [REQUEST]

int build_direct_request(char *out, int cap, const char *host, uint16_t port, int tls,
                         const char *target, uint32_t range_start, int absolute_form,
                         const char *referer) {
    char authority[ADDRESS_HOST_MAX + 8];
    if (default_port(tls, port))
        snprintf(authority, sizeof authority, "%s", host);
    else
        snprintf(authority, sizeof authority, "%s:%u", host, (unsigned)port);
    char range[40] = "";
    if (range_start) snprintf(range, sizeof range, "Range: bytes=%u-\r\n", (unsigned)range_start);
    // identity: the length and the ranges count the file's own bytes.  The
    // program names itself: many servers refuse a request that names no agent.
    int n = snprintf(out, (size_t)cap,
                     "GET %s%s%s HTTP/1.1\r\nHost: %s\r\nUser-Agent: Quorvax/1.0\r\nAccept: */*\r\n"
                     "Accept-Encoding: identity\r\nConnection: close\r\n%s%s%s%s\r\n",
                     absolute_form ? "http://" : "", absolute_form ? authority : "", target,
                     authority, referer ? "Referer: " : "", referer ? referer : "", referer ? "\r\n" : "",
                     range);
    return n > 0 && n < cap ? n : 0;
}

// ----------------------------------------------------------------- [SETUP]

namespace {

// Sends the request on the item's connection (TLS when it has one).
int send_direct_request(int i, const AddressParts &parts, uint32_t range_start) {
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    char request[REQUEST_CAP];
    // A web page is asked for whole; the media it declares is asked for as
    // the page's own player would, naming the page.
    const char *referer = nullptr;
    if (item.siteKind == SITE_WEB_PAGE && run.page_phase == PAGE_UNREAD) range_start = 0;
    if (item.siteKind == SITE_WEB_PAGE && run.page_phase == PAGE_STREAM_FOUND) referer = item.pageAddress;
    int n = build_direct_request(request, (int)sizeof request, parts.host, parts.port, parts.tls,
                                 parts.target, range_start, run.request_proxy && !parts.tls, referer);
    if (n == 0) return 0;
    return (run.tls ? plat_tls_send(run.tls, request, n) : plat_send(item.socket, request, n)) == n;
}

// The proxy's answer to CONNECT, read into the item's buffer: 1 when it
// came with 200, -1 with any other status, 0 while its header block is
// incomplete.  Only what the socket holds is read: the proxy says nothing
// more before the TLS client speaks.
int tunnel_answer(int i) {
    DownloadItem &item = downloads.items[i];
    uint32_t available = plat_readable(item.socket);
    if (available) {
        item.lastActivityTick = app_state.now_tick;
        receive_into_buffer(i, available);
    }
    const char *text = buffer_data(item.buffer);
    if (!text) return -1;
    uint32_t fill = item.bufferFill;
    bool complete = false;
    for (uint32_t k = 0; k + 4 <= fill && !complete; k++)
        complete = memcmp(text + k, "\r\n\r\n", 4) == 0;
    if (!complete) return 0;
    int status = response_status(i);
    item.bufferFill = 0;
    return status == 200 ? 1 : -1;
}

}  // namespace

int direct_link_step(int i, uint32_t range_start) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    if (run.link_phase == LINK_READY) return 1;
    AddressParts parts;
    if (!split_stored_address(item.streamAddress, (int)sizeof item.streamAddress, &parts)) {
        give_up_item_logged(i, "bad address");
        return 0;
    }
    uint32_t now = app_state.now_tick;
    if (run.link_phase == LINK_NONE && parts.tls && run.request_proxy) {
        char request[ADDRESS_HOST_MAX * 2 + 64];
        int n = snprintf(request, sizeof request, "CONNECT %s:%u HTTP/1.1\r\nHost: %s:%u\r\n\r\n",
                         parts.host, (unsigned)parts.port, parts.host, (unsigned)parts.port);
        item.bufferFill = 0;
        run.link_phase = LINK_TUNNEL;
        run.phase_tick = now;
        // A send that fails leaves the tunnel unanswered: the engine's
        // time-out retries the item as it does a silent connection.
        plat_send(item.socket, request, n);
        return 0;
    }
    if (run.link_phase == LINK_TUNNEL) {
        int answer = tunnel_answer(i);
        if (answer == 0) {
            // A proxy that took the connection but never answers is given
            // up as a handshake that never ends is, with its own reason.
            if (now - run.phase_tick >= TUNNEL_TIMEOUT_MS) give_up_item_logged(i, "proxy timed out");
            return 0;
        }
        if (answer < 0) {
            give_up_item_logged(i, "proxy refused");
            return 0;
        }
    }
    if (parts.tls && !run.tls) {
        run.tls = plat_tls_start(item.socket, parts.host);
        if (!run.tls) {
            give_up_item_logged(i, "other");
            return 0;
        }
        run.link_phase = LINK_HANDSHAKE;
        run.phase_tick = now;
    }
    if (run.link_phase == LINK_HANDSHAKE) {
        int done = plat_tls_handshake(run.tls);
        if (done < 0) {
            char reason[REASON_CAP];
            plat_tls_failure(run.tls, reason, (int)sizeof reason);
            give_up_item_logged(i, reason[0] ? reason : "other");
            return 0;
        }
        if (done == 0) {
            if (now - run.phase_tick >= TLS_HANDSHAKE_TIMEOUT_MS)
                give_up_item_logged(i, "handshake timed out");
            return 0;
        }
    }
    run.link_phase = LINK_READY;
    item.lastActivityTick = now;
    send_direct_request(i, parts, range_start);
    return 1;
}
