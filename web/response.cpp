// response.cpp - reading what arrives for a download item and the two
// response headers the program acts on.
//
//   [READING]   query_available (TLS-aware), read_page_data (the page window)
//   [HEADERS]   find_header, read_header_value, response_status
//   [REDIRECT]  follow_stream_redirect (stages 1 and 2; a direct link's own)
//   [RANGE]     a partial answer checked against the offset asked for
//   [LENGTH]    take_stream_answer: status, length, probe end, output file;
//               a direct link's refusals

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/platform.h"
#include "web/page_media.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const int LENGTH_TEXT_CAP = 32;

}  // namespace

// --------------------------------------------------------------- [READING]

uint32_t query_available(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    // Over TLS the connection may hold decrypted bytes while the socket is
    // empty: only its own count tells.
    plat_tls tls = downloads.runs[i].tls;
    if (tls) return plat_tls_readable(tls);
    return item.socket ? plat_readable(item.socket) : 0;
}

int read_page_data(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    uint32_t available = query_available(i);
    if (available == 0 || !item.buffer) return 0;
    // A full window is analysed as it stands, then overwritten from the
    // start; the analysis result shows in the item (a success has closed
    // the connection and moved the stage on).
    if ((uint64_t)available + item.bufferFill > PAGE_WINDOW) {
        extract_stream_address(i);
        item.bufferFill = 0;
    }
    if (item.socket) {
        // Page text never passes the window: what does not fit now is read
        // on the next step, into the next window.
        uint32_t room = item.bufferFill < PAGE_WINDOW ? PAGE_WINDOW - item.bufferFill : 0;
        receive_into_buffer(i, available < room ? available : room);
    }
    item.lastActivityTick = app_state.now_tick;
    return 1;
}

// --------------------------------------------------------------- [HEADERS]

int find_header(int i, const char *name) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!text) return 0;
    begin_search(0, (int32_t)item.bufferFill);
    if (!find_text(text, name)) return 0;
    // The rest of the line must have arrived and hold something.
    for (uint32_t k = (uint32_t)search_cursor; k < item.bufferFill; k++)
        if (text[k] == '\r') return k > (uint32_t)search_cursor;
    return 0;
}

int read_header_value(int i, int stop_at_space, char *out, int out_size) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (out_size <= 0) return 0;
    int n = 0;
    if (text) {
        uint32_t k = search_cursor < 0 ? 0 : (uint32_t)search_cursor;
        while (k < item.bufferFill && text[k] == ' ') k++;
        // Values longer than out are cut to fit.
        for (; k < item.bufferFill && n < out_size - 1; k++) {
            char c = text[k];
            if (c == '\r' || c == 0 || (stop_at_space && c == ' ')) break;
            out[n++] = c;
        }
    }
    out[n] = 0;
    return n;
}

uint32_t header_block_length(const char *text, uint32_t fill) {
    for (uint32_t k = 0; k + 4 <= fill; k++)
        if (text[k] == '\r' && text[k + 1] == '\n' && text[k + 2] == '\r' && text[k + 3] == '\n')
            return k + 2;
    return 0;
}

int header_field(const char *text, uint32_t block, const char *name, char *out, int cap) {
    uint32_t name_length = (uint32_t)strlen(name);
    if (cap <= 0) return -1;
    out[0] = 0;
    for (uint32_t k = 0; k + 2 + name_length < block; k++) {
        if (text[k] != '\r' || text[k + 1] != '\n') continue;
        uint32_t at = k + 2;
        uint32_t m = 0;
        while (m < name_length && ascii_lower(text[at + m]) == name[m]) m++;
        if (m != name_length || text[at + m] != ':') continue;
        uint32_t v = at + m + 1;
        while (v < block && (text[v] == ' ' || text[v] == '\t')) v++;
        int n = 0;
        while (v < block && text[v] != '\r' && n < cap - 1) out[n++] = text[v++];
        while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t')) n--;
        out[n] = 0;
        return n;
    }
    return -1;
}

int response_status(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    uint32_t fill = item.bufferFill;
    if (!text || fill < 5 || memcmp(text, "HTTP/", 5) != 0) return 0;
    uint32_t k = 5;
    while (k < fill && text[k] != ' ' && text[k] != '\r') k++;   // version
    while (k < fill && text[k] == ' ') k++;
    int code = 0, digits = 0;
    for (; k < fill && digits < 3 && text[k] >= '0' && text[k] <= '9'; k++, digits++)
        code = code * 10 + (text[k] - '0');
    if (digits != 3) return 0;
    for (; k < fill; k++)
        if (text[k] == '\r') return code;   // the status line is complete
    return 0;
}

// -------------------------------------------------------------- [REDIRECT]

namespace {

// A direct link's redirect: only the redirect statuses count, once the
// whole header block is in (the Location line may come after the length).
// The target, resolved against the address asked for, becomes the stream
// address of this attempt; the captured page address stays as it was.  A
// redirect without a usable target gives the item up: its body is not the
// stream.
int follow_direct_redirect(int i) {
    DownloadItem &item = downloads.items[i];
    int status = response_status(i);
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return 0;
    const char *text = buffer_data(item.buffer);
    uint32_t block = text ? header_block_length(text, item.bufferFill) : 0;
    if (!block) return 0;
    char target[sizeof item.streamAddress];
    char resolved[sizeof item.streamAddress];
    if (header_field(text, block, "location", target, (int)sizeof target) <= 0 ||
        resolve_address(item.streamAddress, (uint32_t)strnlen(item.streamAddress, sizeof item.streamAddress),
                        target, (uint32_t)strlen(target), resolved, (uint32_t)sizeof resolved) <= 0) {
        give_up_item_logged(i, "bad redirect");
        return 1;
    }
    if (!count_redirect(i)) {
        give_up_item_logged(i, "too many redirects");
        return 1;
    }
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.requestStage = STAGE_STREAM;
    item.bufferFill = 0;
    memcpy(item.streamAddress, resolved, sizeof resolved);
    return 1;
}
}  // namespace

int follow_stream_redirect(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    if (site_kind_keeps_scheme(item.siteKind)) return follow_direct_redirect(i);
    if (!find_header(i, string_entry(STR_REDIRECT_HEADER))) return 0;
    if (!count_redirect(i)) {
        give_up_item(i);
        return 1;
    }
    char target[sizeof item.streamAddress];
    read_header_value(i, 0, target, (int)sizeof target);
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.requestStage = STAGE_STREAM;
    item.bufferFill = 0;
    // Stored as it came (scheme prefix included): the request skips it.
    resolve_redirect(i, target, item.streamAddress, (int)sizeof item.streamAddress);
    return 1;
}

// ----------------------------------------------------------------- [RANGE]

namespace {

// Room for a Content-Range value: two offsets and a length of 32 bits
// need about 40 characters; a longer value is no single range of ours.
const int RANGE_TEXT_CAP = 96;
// Digits read in one number at most: far more than any offset of 32 bits
// needs, and a bound on the work a long run of digits can cause.
const int RANGE_DIGITS_MAX = 20;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(const char *text, uint32_t end, uint32_t *k) {
    while (*k < end && is_blank(text[*k])) (*k)++;
}

// Reads a decimal number at *k: 1 when there was one (at most
// RANGE_DIGITS_MAX digits; a value of 2^32 and more is kept at 2^32).
int read_range_number(const char *text, uint32_t end, uint32_t *k, uint64_t *value) {
    uint64_t v = 0;
    int digits = 0;
    while (*k < end && text[*k] >= '0' && text[*k] <= '9') {
        if (++digits > RANGE_DIGITS_MAX) return 0;
        v = v * 10 + (uint64_t)(text[*k] - '0');
        if (v > 0xFFFFFFFFull) v = 0x100000000ull;
        (*k)++;
    }
    *value = v;
    return digits > 0;
}

// A Content-Range value "bytes first-last/complete" or "bytes first-last/*"
// between k and end: 1 with its first position and the complete length (0
// for "*").  The unit is read without regard to case; blanks are allowed
// around the value and its signs.
int parse_content_range(const char *text, uint32_t k, uint32_t end, uint64_t *first, uint64_t *complete) {
    skip_blanks(text, end, &k);
    static const char unit[] = "bytes";
    for (int n = 0; unit[n]; n++, k++) {
        if (k >= end) return 0;
        if (ascii_lower(text[k]) != unit[n]) return 0;
    }
    if (k >= end || !is_blank(text[k])) return 0;
    skip_blanks(text, end, &k);
    uint64_t last = 0;
    if (!read_range_number(text, end, &k, first)) return 0;
    skip_blanks(text, end, &k);
    if (k >= end || text[k] != '-') return 0;
    k++;
    skip_blanks(text, end, &k);
    if (!read_range_number(text, end, &k, &last) || last < *first) return 0;
    skip_blanks(text, end, &k);
    if (k >= end || text[k] != '/') return 0;
    k++;
    skip_blanks(text, end, &k);
    *complete = 0;
    if (k < end && text[k] == '*')
        k++;
    else if (!read_range_number(text, end, &k, complete) || *complete <= last)
        return 0;
    skip_blanks(text, end, &k);
    return k == end;
}

// Where a partial answer (206) says its body starts: 1 with the first
// position of its Content-Range and the stream's complete length (0 when
// not given); -1 when the header is missing or not a valid single range; 0
// while the header block has not all arrived (a Content-Range may still
// follow the length header).
int partial_answer_start(int i, uint64_t *first, uint64_t *complete) {
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!text) return 0;
    uint32_t block = header_block_length(text, item.bufferFill);
    if (block == 0) return 0;
    // Searched only inside the header block, at the start of a line, so
    // that a longer header name ending in it or body bytes never stand for it.
    char value[RANGE_TEXT_CAP];
    int n = header_field(text, block, "content-range", value, (int)sizeof value);
    if (n <= 0 || n >= RANGE_TEXT_CAP - 1) return -1;
    return parse_content_range(value, 0, (uint32_t)n, first, complete) ? 1 : -1;
}

// A partial answer that does not start at the offset asked for.  Its body
// belongs somewhere else in the stream: written at doneSize, or at 0 as the
// answer to a ranged request that comes whole is, it would corrupt the file.
// So none of it is written: the connection is closed with the answer unread,
// the file cut to nothing and doneSize set to 0, and the next step asks for
// the stream again without a range, which a server answers from byte 0.
// When no range was asked for, asking again would bring the same answer:
// the item is given up instead, so such a server cannot keep it looping.
void drop_misplaced_answer(int i, uint32_t range_start) {
    DownloadItem &item = downloads.items[i];
    char path[OUTPUT_PATH_CAP];
    if (range_start == 0 || !file_name_is_safe(item.fileName) ||
        !build_output_path(path, (int)sizeof path, item.fileName)) {
        give_up_item(i);
        return;
    }
    close_item_socket(item);
    item.bufferFill = 0;
    plat_file file = open_existing_rw(path);
    if (file_is_open(file)) {
        // Cut now, so that the file and the record saved below agree even
        // when the program ends before the stream is asked for again.
        plat_truncate(file, 0);
        close_file(file);
    }
    item.doneSize = 0;
    item.requestStage = STAGE_STREAM;
    item.lastActivityTick = app_state.now_tick;
    write_item_record(i);
}

}  // namespace

// ---------------------------------------------------------------- [LENGTH]

namespace {

// The announced length: 1 and the value when the text starts with digits
// that make a length from 1 to 4 GiB - 1.  Anything else cannot be a
// stream this program can hold in its 32-bit sizes.
int parse_length(const char *text, uint32_t *length) {
    uint64_t value = 0;
    int digits = 0;
    for (; text[digits] >= '0' && text[digits] <= '9'; digits++) {
        value = value * 10 + (uint64_t)(text[digits] - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    if (digits == 0 || value == 0) return 0;
    *length = (uint32_t)value;
    return 1;
}

// Opens the output file for a transfer that is starting.  Returns 1 when
// the item may go on to its headers, 0 when it has been given up or sent
// back to ask for the stream again.
int open_output_file(int i, uint32_t announced, uint32_t range_start, int status) {
    DownloadItem &item = downloads.items[i];
    // The body starts at byte 0 when no range was asked for, or when the
    // server ignored the range (200 instead of 206).  The file is then
    // written from its start, cut to nothing first.  A 206 gets here only
    // when its range starts at range_start (checked by the caller).
    bool from_zero = range_start == 0 || status == 200;
    char path[OUTPUT_PATH_CAP];
    if (!file_name_is_safe(item.fileName) || !build_output_path(path, (int)sizeof path, item.fileName)) {
        give_up_item(i);
        return 0;
    }
    plat_file file = open_existing_rw(path);
    if (file_is_open(file)) {
        if (from_zero) {
            // Written anew: the whole stream's length is the one to reach.
            item.doneSize = 0;
            item.totalSize = announced;
            plat_truncate(file, 0);
        }
        seek_from_start(file, (int64_t)item.doneSize);
    } else if (!from_zero && !plat_file_exists(path)) {
        // The file vanished while a ranged answer is on its way: that answer
        // would leave a file with a hole at its start.  Ask again from byte 0.
        close_item_socket(item);
        item.bufferFill = 0;
        item.doneSize = 0;
        item.requestStage = STAGE_STREAM;
        item.lastActivityTick = app_state.now_tick;
        write_item_record(i);
        return 0;
    } else {
        item.totalSize = announced;
        item.doneSize = 0;
        file = create_new_rw(path);
        if (!file_is_open(file)) {
            // Neither opened nor created (held by another program, or no
            // such folder): writing on with no file would lose the stream.
            give_up_item(i);
            return 0;
        }
    }
    item.file = file;
    return 1;
}

// The announced length's text into out: 1 when the answer has one.  A demo
// site's answer is searched as its server writes it; a link's header is
// found by name in any case, once its header block is in.
int length_header_text(int i, char *out, int cap) {
    DownloadItem &item = downloads.items[i];
    if (site_kind_keeps_scheme(item.siteKind)) {
        const char *text = buffer_data(item.buffer);
        uint32_t block = text ? header_block_length(text, item.bufferFill) : 0;
        return block && header_field(text, block, "content-length", out, cap) > 0;
    }
    if (!find_header(i, string_entry(STR_LENGTH_HEADER))) return 0;
    read_header_value(i, 1, out, cap);
    return 1;
}

// A direct link's answer is judged once its header block is complete: a
// status other than success, no length (a chunked or closing stream) or a
// length of 4 GiB and more gives the item up before a byte is saved, with
// the reason in the failure log.  1 when the answer may be taken as a demo
// stream's.
int direct_answer_usable(int i) {
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!text || !header_block_length(text, item.bufferFill)) return 0;
    int status = response_status(i);
    const char *reason = nullptr;
    char status_text[16];
    char digits[LENGTH_TEXT_CAP];
    uint32_t length = 0;
    if (status < 200 || status > 299) {
        // Informational, redirect without a target, error: none is the file.
        memcpy(status_text, "HTTP ", 5);
        status_text[5] = (char)('0' + status / 100 % 10);
        status_text[6] = (char)('0' + status / 10 % 10);
        status_text[7] = (char)('0' + status % 10);
        status_text[8] = 0;
        reason = status ? status_text : "not an HTTP answer";
    } else if (!length_header_text(i, digits, (int)sizeof digits)) {
        reason = "no length";
    } else if (!parse_length(digits, &length)) {
        reason = digits[0] >= '1' && digits[0] <= '9' ? "too large" : "no length";
    }
    if (!reason) return 1;
    give_up_item_logged(i, reason);
    return 0;
}

}  // namespace

void take_stream_answer(int i, uint32_t range_start, int stream_mode) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    // A link's stream is judged first: a manifest refused as such rather
    // than for the length it lacks.
    if (site_kind_keeps_scheme(item.siteKind) && !link_stream_usable(i)) return;
    if (site_kind_keeps_scheme(item.siteKind) && !direct_answer_usable(i)) return;
    // An error answer is not the stream, whatever length it announces.
    int status = response_status(i);
    if (status >= 400 && status <= 599) {
        give_up_item(i);
        return;
    }
    char text[LENGTH_TEXT_CAP];
    if (!length_header_text(i, text, (int)sizeof text)) return;
    item.lastActivityTick = app_state.now_tick;
    uint32_t announced = 0;
    if (!parse_length(text, &announced)) {
        // No digits, 0, or 4 GiB and more: not a video this program can save.
        give_up_item(i);
        return;
    }
    if (stream_mode && status == 206) {
        // Checked before the answer's length is taken: a misplaced answer
        // says nothing about the stream's length.
        uint64_t first = 0, complete = 0;
        int found = partial_answer_start(i, &first, &complete);
        if (found == 0) return;   // the rest of the headers comes later
        // A link whose stream now has another length is another file (a
        // page may name a new one, an address may be reused): its bytes
        // would not continue the ones saved.  It is saved again from 0.
        bool other_file = site_kind_keeps_scheme(item.siteKind) && complete && item.totalSize &&
                          complete != item.totalSize;
        if (found < 0 || first != range_start || other_file) {
            drop_misplaced_answer(i, range_start);
            return;
        }
    }
    if (item.totalSize < announced) item.totalSize = announced;
    write_item_record(i);

    if (!stream_mode) {
        // The length probe of a new item ends here.
        close_item_socket(item);
        buffer_release(&item.buffer);
        item.bufferFill = 0;
        item.state = Queued;
        item.totalSize = announced;
        write_item_record(i);
        return;
    }
    if (!open_output_file(i, announced, range_start, status)) return;
    item.state = ReceivingHeaders;
}
