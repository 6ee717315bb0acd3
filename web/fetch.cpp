// fetch.cpp - the page fetch driver: one network step of a download item
// from its page to the stream's length.
//
//   [NOTE]     the request in flight and the redirect count of the attempt,
//              kept in the item's run beside the table
//   [OPEN]     opening the connection that requestStage calls for (a direct
//              link's setup is stepped by direct_link.cpp)
//   [PAGE]     the page's answer: analysis, short page redirects; what an
//              answer leads to by the item's stage
//   [DRIVER]   fetch_page

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/platform.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const int ADDRESS_SEARCH_LIMIT = 512;
const int ADDRESS_CAP = 512;   // the size of an address field

uint32_t address_check(const char *address) {
    uint32_t h = 2166136261u;
    for (int n = 0; address[n] && n < REQUEST_ADDRESS_SIZE; n++) h = (h ^ (uint8_t)address[n]) * 16777619u;
    return h;
}

// The address the item's next request asks for, by its stage.
const char *next_address(int i) {
    DownloadItem &item = downloads.items[i];
    if (item.requestStage != STAGE_PAGE) return item.streamAddress;
    char *redirect_target = buffer_data(item.buffer);
    return item.redirectedPage && redirect_target ? redirect_target : item.pageAddress;
}

// A request is about to be opened for address.  The redirect count carries
// on only when this request continues the attempt that a previous step of
// this item moved on (a redirect, a rule, a second page); a request for the
// captured page starts a new attempt.
void begin_request(int i, const char *address, bool new_attempt) {
    ItemRun &run = downloads.runs[i];
    bool continues = run.continues && run.continuation_check == address_check(address);
    if (new_attempt || !continues) run.redirects = 0;
    run.continues = 0;
    copy_text_cut(run.request_address, sizeof run.request_address, address);
}

// The step closed the item's connection to ask for its next address.
void mark_continuation(int i) {
    ItemRun &run = downloads.runs[i];
    run.continues = 1;
    run.continuation_check = address_check(next_address(i));
}

}  // namespace

// ------------------------------------------------------------------ [NOTE]

const char *noted_request(int i) {
    ASSERT_ITEM_INDEX(i);
    return downloads.runs[i].request_address;
}

int count_redirect(int i) {
    ASSERT_ITEM_INDEX(i);
    ItemRun &run = downloads.runs[i];
    if (run.redirects > REDIRECT_LIMIT) run.redirects = REDIRECT_LIMIT;
    run.redirects++;
    return run.redirects <= REDIRECT_LIMIT;
}

void resolve_redirect(int i, const char *target, char *out, int cap) {
    ASSERT_ITEM_INDEX(i);
    if (target[0] == '/' && target[1] == '/') {
        copy_text_cut(out, (size_t)cap, target + 2);
        return;
    }
    if (target[0] != '/') {
        copy_text_cut(out, (size_t)cap, target);
        return;
    }
    // Relative to the host (and port) of the request it answers.
    const char *base = noted_request(i);
    begin_search(0, ADDRESS_SEARCH_LIMIT);
    int32_t host_start = find_text(base, string_entry(STR_SCHEME_PREFIX)) ? search_cursor : 0;
    search_cursor = host_start;
    int32_t host_end = find_text(base, "/") ? match_start : (int32_t)strlen(base);
    int n = host_end - host_start;
    if (n > cap - 1) n = cap - 1;
    // target may lie in the same buffer as out: keep it aside first.
    char tail[ADDRESS_CAP];
    copy_text_cut(tail, sizeof tail, target);
    memmove(out, base + host_start, (size_t)n);
    copy_text_cut(out + n, (size_t)(cap - n), tail);
}

void give_up_item(int i) {
    ASSERT_ITEM_INDEX(i);
    fail_item(i);
    write_item_record(i);
}

// ------------------------------------------------------------------ [OPEN]

namespace {

bool bare_host_kind(int32_t kind) { return kind == 7 || kind == 18 || kind == 22; }

// The connection is opened without waiting for its connect: the step
// starts it, and the request goes out at the first step that finds it made
// (request_sent).  A waiting connect held the window for up to its bound
// for every item behind a dead proxy or a black-holed host.
void open_next_request(int i) {
    DownloadItem &item = downloads.items[i];
    int stage = item.requestStage;
    if (stage < STAGE_PAGE || stage > STAGE_STREAM) return;
    const char *address = next_address(i);
    begin_request(i, address, stage == STAGE_PAGE && !item.redirectedPage);
    ItemRun &run = downloads.runs[i];
    run.request_proxy = app_state.use_proxy;
    item.socket = site_kind_keeps_scheme(item.siteKind) ? start_direct_request(run.request_proxy, address)
                                                     : start_request(run.request_proxy, address);
    run.unsent_socket = item.socket;
    if (!item.socket) {
        item.state = WaitingRetry;
        item.lastActivityTick = app_state.now_tick;
        item.retryCount++;
    } else {
        item.lastActivityTick = app_state.now_tick;
    }
}

// Sends the request of a connection that open_next_request started, once
// its connect is made; until then the item waits in its state, for at most
// CONNECT_TIMEOUT_MS from the opening (lastActivityTick, which nothing else
// moves before the request is out).  1 when the item may read: its request
// is out, or never will be - a connect that failed or passed its bound is
// left to the engine's time-out, as a waiting connect's socket was.
bool request_sent(int i, uint32_t range_start) {
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    if (run.link_phase != LINK_NONE) return direct_link_step(i, range_start);
    if (!run.unsent_socket || run.unsent_socket != item.socket) return true;
    int connect = plat_connect_result(item.socket);
    if (connect == 0 && app_state.now_tick - item.lastActivityTick < (uint32_t)CONNECT_TIMEOUT_MS) return false;
    run.unsent_socket = 0;
    if (connect == 1 && site_kind_keeps_scheme(item.siteKind)) return direct_link_step(i, range_start);
    if (connect == 1) {
        int stage = item.requestStage;
        int bare_host = stage != STAGE_PAGE || bare_host_kind(item.siteKind) ? 1 : 0;
        send_request(item.socket, run.request_proxy, next_address(i), bare_host,
                     stage == STAGE_STREAM ? range_start : 0);
    }
    return true;
}

// ------------------------------------------------------------------ [PAGE]

// The page answered with a short redirect: its target (host and path only)
// goes to the start of the buffer and the next step asks for it.
void follow_page_redirect(int i, const char *target) {
    DownloadItem &item = downloads.items[i];
    if (!count_redirect(i)) {
        give_up_item(i);
        return;
    }
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.bufferFill = 0;
    char resolved[ADDRESS_CAP];
    resolve_redirect(i, target, resolved, (int)sizeof resolved);
    begin_search(0, ADDRESS_CAP);
    int32_t start = 0;
    if (find_text(resolved, string_entry(STR_SCHEME_PREFIX))) start = search_cursor;
    if (find_text(resolved, string_entry(STR_HOST_PREFIX))) start = search_cursor;
    copy_text_cut(buffer_data(item.buffer), ADDRESS_CAP, resolved + start);
    item.redirectedPage = 1;
}

void page_answer(int i) {
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);

    // A short answer naming another address.  Its value is read before any
    // analysis, which may decode the text in place.
    char target[ADDRESS_CAP];
    bool short_redirect = item.bufferFill <= SHORT_REDIRECT_MAX &&
                          find_header(i, string_entry(STR_REDIRECT_HEADER));
    if (short_redirect) read_header_value(i, 0, target, (int)sizeof target);

    begin_search(0, (int32_t)item.bufferFill);
    bool ran = false;
    int found = 0;
    if (find_text(text, string_entry(STR_PAGE_END_1)) || find_text(text, string_entry(STR_PAGE_END_2))) {
        ran = true;
        found = extract_stream_address(i);
    }
    // A complete page without the video fails, unless it is a short
    // redirect: redirect answers carry small pages of their own.
    if (ran && !found && !short_redirect) {
        close_item_socket(item);
        item.state = Failed;
        write_item_record(i);
        buffer_release(&item.buffer);
        item.bufferFill = 0;
        return;
    }
    if (!found && short_redirect) follow_page_redirect(i, target);
}

// What an answer read by read_page_data leads to, by the item's stage.
void fetch_answer(int i, uint32_t range_start, int stream_mode) {
    DownloadItem &item = downloads.items[i];
    // No branch lowers requestStage, so at most one of them acts.
    if (item.requestStage == STAGE_STREAM) {
        if (!follow_stream_redirect(i)) take_stream_answer(i, range_start, stream_mode);
    } else if (item.requestStage == STAGE_STREAM_ADDRESS) {
        follow_stream_redirect(i);
        if (item.state != Failed) {
            if (item.siteKind == 8) extract_second_page(i, string_entry(STR_KIND8_KEY));
            if (item.siteKind == 13) extract_second_page(i, string_entry(STR_KIND13_KEY));
            if (item.siteKind == 18) extract_second_page(i, nullptr);
        }
    } else if (item.requestStage == STAGE_PAGE) {
        page_answer(i);
    }
}

}  // namespace

// ---------------------------------------------------------------- [DRIVER]

void fetch_page(int i, uint32_t range_start, int stream_mode) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    // A direct media link's page is its stream: each attempt starts there.
    // So does any other web page's: its first answer tells whether it is
    // the media itself or a page that declares it (web_page.cpp).
    bool scheme = site_kind_keeps_scheme(item.siteKind);
    if (!item.socket && scheme && item.requestStage == STAGE_PAGE && !begin_direct_link(i)) return;
    if (!item.socket) {
        // A connect that is made at once (as on loopback) sends at once.
        open_next_request(i);
        if (item.socket) request_sent(i, range_start);
        return;
    }
    if (!request_sent(i, range_start)) return;
    if (item.siteKind == SITE_WEB_PAGE && downloads.runs[i].page_phase == PAGE_UNREAD) {
        web_page_answer(i, range_start, stream_mode);
    } else {
        if (!read_page_data(i)) return;
        fetch_answer(i, range_start, stream_mode);
    }
    // A connection closed to ask for the next address continues the attempt.
    if (!item.socket && item.buffer &&
        (item.state == Analysing || item.state == Connecting || item.state == RestartFromZero))
        mark_continuation(i);
}
