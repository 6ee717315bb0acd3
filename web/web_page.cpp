// web_page.cpp - any other web page (site code 27): its first answer decides.
//
//   [HEADERS]  the header block, a header's value in it; chunked bodies
//   [BODY]     reading the page's answer, bounded, and telling it has ended
//   [JUDGE]    web_page_answer: media, manifest, protected or a page to search
//   [STREAM]   link_stream_usable: the declared stream's answer, its name
//
// The page is asked for through the direct link's setup (proxy tunnel, TLS,
// redirects).  Media in the answer make the page its own stream; a page is
// read whole (at most PAGE_BODY_MAX bytes of body) and the media it declares
// becomes the stream of this attempt.  What cannot be saved as one file - a
// streaming manifest, protected media, a page without a video - gives the
// item up before any byte is written, with the reason in the failure log.

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/platform.h"
#include "web/page_media.h"
#include "web/text.h"
#include "web/web.h"

namespace {

// Body bytes enough to tell media, manifests and pages apart by their
// first bytes, when the answer does not end sooner.
const uint32_t JUDGE_BYTES = 512;
// The most of an answer's start that is judged: manifests name their keys
// near the top, and a page still coming is judged again at every step.
const uint32_t JUDGE_BYTES_MAX = 65536;

// --------------------------------------------------------------- [HEADERS]

// Where the body starts: just after the blank line ending the header
// block, or 0 while it has not come.
uint32_t body_start(const char *text, uint32_t fill) {
    uint32_t block = header_block_length(text, fill);
    return block ? block + 2 : 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = ascii_lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Walks a chunked body: data of each chunk is moved down to out (which may
// be in, or null to only count).  1 once the last chunk has come, 0 while
// more is needed, -1 when malformed; *length is the data so far.
int walk_chunks(char *in, uint32_t n, char *out, uint32_t *length) {
    uint32_t k = 0, written = 0;
    *length = 0;
    for (;;) {
        uint64_t size = 0;
        int digits = 0;
        for (; k < n && hex_digit(in[k]) >= 0; k++, digits++) {
            size = size * 16 + (uint64_t)hex_digit(in[k]);
            if (size > 0xFFFFFFFFull) return -1;
        }
        // Extensions after ";" are skipped with the rest of the size line.
        uint32_t line_end = k;
        while (line_end + 1 < n && !(in[line_end] == '\r' && in[line_end + 1] == '\n')) line_end++;
        if (line_end + 1 >= n) return 0;
        if (digits == 0 || (k < line_end && in[k] != ';' && in[k] != ' ' && in[k] != '\t')) return -1;
        k = line_end + 2;
        if (size == 0) return 1;   // trailers, if any, are not needed
        uint32_t take = n - k < size ? n - k : (uint32_t)size;
        if (out) memmove(out + written, in + k, take);
        written += take;
        *length = written;
        if (take < size) return 0;
        k += take;
        if (k + 2 > n) return 0;
        if (in[k] != '\r' || in[k + 1] != '\n') return -1;
        k += 2;
    }
}

// ------------------------------------------------------------------ [BODY]

// 1 when the peer has closed the connection and everything it sent has
// been taken.  With nothing readable, one byte is asked for: a closed
// connection answers 0, and a byte that does come is kept in the buffer.
bool answer_ended(int i) {
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    char *data = buffer_data(item.buffer);
    if (!data || item.bufferFill >= RECEIVE_BUFFER_SIZE) return false;
    int got;
    if (run.tls) {
        got = plat_tls_recv(run.tls, data + item.bufferFill, 1);
    } else {
        if (!plat_wait_readable(item.socket, 0)) return false;
        got = plat_recv(item.socket, data + item.bufferFill, 1);
    }
    if (got > 0) {
        item.bufferFill += (uint32_t)got;
        item.lastActivityTick = app_state.now_tick;
    }
    return got == 0;
}

}  // namespace

// ----------------------------------------------------------------- [JUDGE]

void web_page_answer(int i, uint32_t range_start, int stream_mode) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    char *text = buffer_data(item.buffer);
    if (!text) return;

    uint32_t available = query_available(i);
    bool ended = false;
    uint32_t at = body_start(text, item.bufferFill);
    uint32_t limit = (at ? at : item.bufferFill) + PAGE_BODY_MAX;
    if (limit > RECEIVE_BUFFER_SIZE) limit = RECEIVE_BUFFER_SIZE;
    if (available && item.bufferFill < limit) {
        uint32_t room = limit - item.bufferFill;
        receive_into_buffer(i, available < room ? available : room);
        item.lastActivityTick = app_state.now_tick;
    } else if (!available) {
        ended = answer_ended(i);
    }
    at = body_start(text, item.bufferFill);
    if (!at) return;   // a connection that ends here is left to the time-out
    if (follow_stream_redirect(i)) return;
    int status = response_status(i);
    if (status >= 400 && status <= 599) {
        char reason[16];
        snprintf(reason, sizeof reason, "HTTP %d", status);
        give_up_item_logged(i, reason);
        return;
    }

    char type[128];
    int type_length = header_field(text, at, "content-type", type, (int)sizeof type);
    if (type_length < 0) type_length = 0;
    char value[32];
    bool chunked = header_field(text, at, "transfer-encoding", value, (int)sizeof value) >= 0 &&
                   strstr(value, "chunked") != nullptr;
    int64_t announced = -1;
    if (!chunked && header_field(text, at, "content-length", value, (int)sizeof value) > 0) {
        announced = 0;
        for (int k = 0; value[k] >= '0' && value[k] <= '9' && announced < (int64_t)PAGE_BODY_MAX * 2; k++)
            announced = announced * 10 + (value[k] - '0');
    }
    char *body = text + at;
    uint32_t body_length = item.bufferFill - at;
    uint32_t decoded = 0;
    int chunks = chunked ? walk_chunks(body, body_length, nullptr, &decoded) : 0;
    if (chunks < 0) {
        give_up_item_logged(i, "bad chunked page");
        return;
    }
    bool complete = ended || body_length >= PAGE_BODY_MAX || (chunked && chunks == 1) ||
                    (announced >= 0 && body_length >= (uint64_t)announced);

    // The first bytes, without a chunk's size line before them.
    const char *head = body;
    uint32_t head_length = body_length;
    if (chunked) {
        const char *line = (const char *)memchr(body, '\n', body_length);
        uint32_t skip = line ? (uint32_t)(line - body) + 1 : body_length;
        head += skip;
        head_length -= skip;
    }
    if (!complete && head_length < JUDGE_BYTES) return;
    if (head_length > JUDGE_BYTES_MAX) head_length = JUDGE_BYTES_MAX;
    int kind = media_answer_kind(head, head_length, type, (uint32_t)type_length);
    if (kind == ANSWER_MANIFEST || kind == ANSWER_PROTECTED) {
        give_up_item_logged(i, kind == ANSWER_MANIFEST ? "streaming manifest" : "protected");
        return;
    }
    if (kind == ANSWER_MEDIA) {
        // The page is the stream.  A resumed download asks for it again
        // with its range; otherwise this answer is taken as it stands.
        run.page_phase = PAGE_IS_MEDIA;
        run.page_title[0] = 0;
        if (range_start == 0) {
            take_stream_answer(i, range_start, stream_mode);
        } else {
            close_item_socket(item);
            item.bufferFill = 0;
            item.lastActivityTick = app_state.now_tick;
        }
        return;
    }
    if (!complete) return;

    // A page: searched for the media it declares, at its final address.
    uint32_t page_length = body_length < PAGE_BODY_MAX ? body_length : PAGE_BODY_MAX;
    if (chunked) {
        walk_chunks(body, page_length, body, &decoded);
        page_length = decoded;
    }
    DeclaredMedia media;
    find_declared_media(body, page_length, item.streamAddress,
                        (uint32_t)strnlen(item.streamAddress, sizeof item.streamAddress), &media);
    if (media.chosen < 0) {
        give_up_item_logged(i, media.manifestsDropped ? "streaming manifest" : "no video on the page");
        return;
    }
    if (page_title(body, page_length, run.page_title, sizeof run.page_title) < 0) run.page_title[0] = 0;
    copy_text_cut(item.streamAddress, sizeof item.streamAddress, media.candidates[media.chosen].address);
    run.page_phase = PAGE_STREAM_FOUND;
    close_item_socket(item);
    item.bufferFill = 0;
    item.requestStage = STAGE_STREAM;
    item.lastActivityTick = app_state.now_tick;
}

// ---------------------------------------------------------------- [STREAM]

namespace {

// Cuts a trailing ".ext" (one to five letters or digits) off name.
int without_extension(const char *name, int n) {
    for (int k = n - 1; k > 0 && n - k <= 6; k--) {
        if (name[k] == '.') return n - k >= 2 ? k : n;
        char c = ascii_lower(name[k]);
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return n;
    }
    return n;
}

// Names item i's file: the name the answer gives (Content-Disposition),
// else the page's title, else the last segment of the address the user
// copied (of the stream's, for media a page declares); the extension from
// the media type, else from that name or those addresses, else "mp4".  The
// name ends in a number of its own, so that two links whose addresses end
// alike never share a file.
int name_link_file(int i, const char *text, uint32_t at, const char *type, int type_length) {
    DownloadItem &item = downloads.items[i];
    ItemRun &run = downloads.runs[i];
    bool declared = item.siteKind == SITE_WEB_PAGE && run.page_phase == PAGE_STREAM_FOUND;
    const char *named = declared ? item.streamAddress : item.pageAddress;
    uint32_t named_length = (uint32_t)strnlen(named, sizeof item.pageAddress);
    uint32_t stream_length = (uint32_t)strnlen(item.streamAddress, sizeof item.streamAddress);
    char source[256];
    int n = -1;
    char disposition[512];
    int d = header_field(text, at, "content-disposition", disposition, (int)sizeof disposition);
    if (d > 0) n = name_from_content_disposition(disposition, (uint32_t)d, source, sizeof source);
    const char *extension = media_extension(type, (uint32_t)type_length, nullptr, 0);
    if (n > 0) {
        if (!extension[0]) {
            char as_address[sizeof source + 16];
            int m = snprintf(as_address, sizeof as_address, "http://x/%s", source);
            if (m > 0 && m < (int)sizeof as_address) extension = media_extension(nullptr, 0, as_address, (uint32_t)m);
        }
        n = without_extension(source, n);
    } else if (declared && run.page_title[0]) {
        n = (int)copy_text_cut(source, sizeof source, run.page_title);
    } else {
        n = name_from_address(named, named_length, source, sizeof source);
        if (n > 0) n = without_extension(source, n);
    }
    if (!extension[0]) extension = media_extension(nullptr, 0, named, named_length);
    if (!extension[0]) extension = media_extension(nullptr, 0, item.streamAddress, stream_length);
    if (n <= 0) n = (int)copy_text_cut(source, sizeof source, "video");
    make_media_file_name(item.fileName, source, n, extension);
    return file_name_is_safe(item.fileName) && file_name_openable(item.fileName, (int)sizeof item.fileName);
}

}  // namespace

int link_stream_usable(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!text) return 0;
    uint32_t at = body_start(text, item.bufferFill);
    if (!at) return 0;
    int status = response_status(i);
    if (status < 200 || status > 299) return 1;   // the direct link's refusals
    char type[128];
    int type_length = header_field(text, at, "content-type", type, (int)sizeof type);
    if (type_length < 0) type_length = 0;
    uint32_t head_length = item.bufferFill - at;
    if (head_length > JUDGE_BYTES_MAX) head_length = JUDGE_BYTES_MAX;
    int kind = media_answer_kind(text + at, head_length, type, (uint32_t)type_length);
    const char *reason = nullptr;
    if (kind == ANSWER_MANIFEST) reason = "streaming manifest";
    if (kind == ANSWER_PROTECTED) reason = "protected";
    if (kind == ANSWER_PAGE) reason = "not media";
    if (!reason && !item.fileName[0] && !name_link_file(i, text, at, type, type_length)) {
        item.fileName[0] = 0;
        reason = "bad file name";
    }
    if (!reason) return 1;
    give_up_item_logged(i, reason);
    return 0;
}
