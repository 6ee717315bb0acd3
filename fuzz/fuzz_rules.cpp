// fuzz_rules.cpp - the site rules, the second-page rules and the header
// readers over arbitrary received text.
//
// Input: a kind byte, a flags byte, a header-name byte, an output-size byte,
// then the received text (bufferFill = its length, at most the page window).
//   kind   0..26 the site kinds, above that a few kinds no site has
//   flags  bit 0: Connecting instead of Analysing; bit 1: the item already
//          has a file name; bit 2: run the second-page rule (kinds 8, 13, 18);
//          bit 3: the stream's length is already known
//
// Every rule runs twice over the same text, once with zeros and once with
// tempting text (quotes, apostrophes, keys, line ends) after the received
// bytes and in the unused part of the address field.  A rule that finds its
// address must find the same address and name both times: what lies beyond
// the received text or an address's end is never part of a result.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const uint32_t TICK = 0x1a2b3c;
// Bytes after the received text that are filled with the run's pattern.
const uint32_t TAIL_BYTES = 8192;

bool initialise() {
    fake_reset();
    fake_set_tick(TICK);
    reset_app_state();
    app_state.now_tick = TICK;
    app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
    unscramble_first_batch();
    unscramble_second_batch();
    if (!allocate_table(1)) abort();
    downloads.items[0].buffer = buffer_alloc();
    if (!downloads.items[0].buffer) abort();
    return true;
}

int32_t kind_from(uint8_t b) {
    static const int32_t odd_kinds[] = {-1, 27, 100, INT32_MIN, INT32_MAX};
    uint32_t k = b % 32;
    return k <= 26 ? (int32_t)k : odd_kinds[(k - 27) % 5];
}

// Byte k of the run's pattern: zeros, or a repeated tempting text with no
// NUL in it.
char pattern_byte(uint32_t k, int pattern) {
    static const char bait[] = "\"'&amp</title>\r\n/http://x.y/a'file':\"key\":\"<";
    return pattern == 0 ? 0 : bait[k % (sizeof bait - 1)];
}

void fill_pattern(char *p, uint32_t n, int pattern) {
    for (uint32_t k = 0; k < n; k++) p[k] = pattern_byte(k, pattern);
}

struct Outcome {
    int found;
    int16_t stage;
    uint32_t fill;
    char address[512];
    char name[128];
};

bool is_terminated(const char *field, size_t size) { return memchr(field, 0, size) != nullptr; }

Outcome run_rule(const uint8_t *page, uint32_t fill, int32_t kind, uint8_t flags, int pattern) {
    DownloadItem &item = downloads.items[0];
    uint32_t buffer = item.buffer;
    memset(&item, 0, sizeof item);
    item.buffer = buffer;
    item.socket = 0;
    item.siteKind = kind;
    bool connecting = flags & 1;
    bool second_page = (flags & 4) && (kind == 8 || kind == 13 || kind == 18);
    item.state = connecting ? Connecting : Analysing;
    item.requestStage = second_page ? 1 : 0;
    strcpy(item.pageAddress, "reelbox.test/watch/fuzz");
    // Stale text in the fields: a result must not depend on it.
    fill_pattern(item.streamAddress, sizeof item.streamAddress - 1, pattern);
    if (pattern == 0) memset(item.streamAddress, 'Z', sizeof item.streamAddress - 1);
    if (flags & 2) strcpy(item.fileName, "kept name 1a2b3c.flv");
    if (flags & 8) item.totalSize = 200000;

    char *data = buffer_data(buffer);
    memcpy(data, page, fill);
    uint32_t tail = RECEIVE_BUFFER_SIZE - fill < TAIL_BYTES ? RECEIVE_BUFFER_SIZE - fill : TAIL_BYTES;
    fill_pattern(data + fill, tail, pattern);
    item.bufferFill = fill;

    Outcome out;
    memset(&out, 0, sizeof out);
    if (second_page) {
        const char *key = kind == 8 ? string_entry(STR_KIND8_KEY)
                          : kind == 13 ? string_entry(STR_KIND13_KEY)
                                       : nullptr;
        extract_second_page(0, key);
        out.found = item.requestStage == 2;
    } else {
        out.found = extract_stream_address(0);
    }

    check(item.socket == 0, "socket stays none");
    check(is_terminated(item.streamAddress, sizeof item.streamAddress), "streamAddress terminated in its field");
    check(is_terminated(item.fileName, sizeof item.fileName), "fileName terminated in its field");
    check(strcmp(item.pageAddress, "reelbox.test/watch/fuzz") == 0, "pageAddress untouched");
    check(item.bufferFill <= fill, "bufferFill within the received text");
    if (out.found && !second_page) {
        check(item.bufferFill == 0, "a found page empties the buffer");
        // A named item keeps its name on a reconnect; kind 0 names by the
        // address, and only while the stream's length is unknown.  A name
        // the rule builds always stays inside the download folder.
        bool named = kind == 0 ? item.totalSize == 0 : !(connecting && (flags & 2));
        if (named)
            check(file_name_is_safe(item.fileName), "the file name stays inside the download folder");
        else
            check(strcmp(item.fileName, (flags & 2) ? "kept name 1a2b3c.flv" : "") == 0, "a kept name stays");
    }
    // A rule may end the text it decoded; nothing after that terminator
    // changes (the request note lives there).
    for (uint32_t k = 1; k < tail; k++)
        check(data[fill + k] == pattern_byte(k, pattern), "nothing written past the received text");

    out.stage = item.requestStage;
    out.fill = item.bufferFill;
    memcpy(out.address, item.streamAddress, sizeof out.address);
    memcpy(out.name, item.fileName, sizeof out.name);
    return out;
}

void run_headers(const uint8_t *page, uint32_t fill, uint8_t name_pick, uint8_t out_pick) {
    DownloadItem &item = downloads.items[0];
    char *data = buffer_data(item.buffer);
    memcpy(data, page, fill);
    fill_pattern(data + fill, RECEIVE_BUFFER_SIZE - fill < TAIL_BYTES ? RECEIVE_BUFFER_SIZE - fill : TAIL_BYTES,
                 1);
    item.bufferFill = fill;
    static const StringEntry names[] = {STR_REDIRECT_HEADER, STR_LENGTH_HEADER, STR_HOST_LABEL};
    const char *name = string_entry(names[name_pick % 3]);
    if (find_header(0, name)) {
        check(search_cursor > 0 && (uint32_t)search_cursor < fill, "header value starts inside the text");
        int out_size = 1 + out_pick % 64;
        if (out_pick & 0x40) out_size = 512;
        char *out = (char *)malloc((size_t)out_size);
        int n = read_header_value(0, (out_pick & 0x80) != 0, out, out_size);
        check(n >= 0 && n < out_size && (int)strnlen(out, (size_t)out_size) == n, "header value fits its space");
        check(memchr(out, '\r', (size_t)n) == nullptr, "header value ends at its line end");
        free(out);
    }
    int status = response_status(0);
    check(status == 0 || (status >= 0 && status <= 999), "status is three digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = initialise();
    (void)ready;
    if (size < 4) return 0;
    int32_t kind = kind_from(data[0]);
    uint8_t flags = data[1];
    uint8_t name_pick = data[2], out_pick = data[3];
    const uint8_t *page = data + 4;
    uint32_t fill = (uint32_t)(size - 4);
    if (fill > PAGE_WINDOW) fill = PAGE_WINDOW;

    run_headers(page, fill, name_pick, out_pick);

    Outcome a = run_rule(page, fill, kind, flags, 0);
    Outcome b = run_rule(page, fill, kind, flags, 1);
    // QUORVAX_FUZZ_SHOW=1 prints each result (for looking at seeds).
    static const bool show = getenv("QUORVAX_FUZZ_SHOW") != nullptr;
    if (show) printf("kind %d flags %u: found %d stage %d address \"%s\" name \"%s\"\n", kind, flags, a.found,
                     a.stage, a.address, a.name);
    check(a.found == b.found, "finding does not depend on bytes past the text");
    if (a.found) {
        check(a.stage == b.stage && a.fill == b.fill, "same stage either way");
        check(strcmp(a.address, b.address) == 0, "the address does not depend on bytes past the text");
        check(strcmp(a.name, b.name) == 0, "the name does not depend on bytes past the text");
    }
    return 0;
}
