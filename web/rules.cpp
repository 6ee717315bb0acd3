// rules.cpp - the site rules that find a video's stream address in a page.
//
//   [VALUES]   bounded copies into the item's fields, the scheme value
//   [TABLE]    the rules that are a key sequence and one delimited value
//   [SPECIAL]  the rules of kinds 0, 1, 18, 20 and 21
//   [ENDINGS]  finish_page, the own ending of kind 0, safe file names
//   [SECOND]   second-page rules of kinds 8, 13 and 18
//
// Every search runs over the item's received text with the limit bufferFill;
// values are copied straight from the buffer into the item's fields and are
// cut to the field when longer.

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "platform/platform.h"
#include "web/text.h"
#include "web/web.h"

static int finish_kind0(int i);

namespace {

// The site whose player names its playlist relative to the site itself.
const char KIND18_SITE_DOMAIN[] = "playlst.test/";
const char KIND0_KEY_JOIN[] = "/key=";
const char KIND21_KEY_JOIN[] = "?__gda__=";
const char VIDEO_SUFFIX[] = ".flv";
const int VALUE_DECODE_COUNT = 512;   // the size of streamAddress

// ---------------------------------------------------------------- [VALUES]

// Every rule searches the item's received text.
void search_page(const DownloadItem &item) { begin_search(0, (int32_t)item.bufferFill); }

// Copies text[from, to) into field (cap bytes with its NUL), after the
// field's first `at` characters; cut to fit.  A range with to <= from gives
// nothing.
void put_value(char *field, int cap, int at, const char *text, int32_t from, int32_t to) {
    if (at > cap - 1) at = cap - 1;
    size_t n = to > from ? (size_t)(to - from) : 0;
    copy_bytes_cut(field + at, (size_t)(cap - at), n ? text + from : text, n);
}

void set_stream_address(DownloadItem &item, const char *text, int32_t from, int32_t to) {
    put_value(item.streamAddress, (int)sizeof item.streamAddress, 0, text, from, to);
}

void append_stream_address(DownloadItem &item, const char *text, int32_t from, int32_t to) {
    int at = (int)strnlen(item.streamAddress, sizeof item.streamAddress - 1);
    put_value(item.streamAddress, (int)sizeof item.streamAddress, at, text, from, to);
}

void append_literal(DownloadItem &item, const char *literal) {
    append_stream_address(item, literal, 0, (int32_t)strlen(literal));
}

// The value after the scheme prefix up to the delimiter; both must be found.
int scheme_value(const char *text, const char *delimiter, int32_t *from, int32_t *to) {
    if (!find_text(text, string_entry(STR_SCHEME_PREFIX))) return 0;
    *from = search_cursor;
    if (!find_text(text, delimiter)) return 0;
    *to = match_start;
    return 1;
}

// 1 when none of the n characters from position at is the text's end.
int characters_present(const char *text, int32_t at, int n, uint32_t fill) {
    for (int k = 0; k < n; k++)
        if ((uint32_t)(at + k) >= fill || text[at + k] == 0) return 0;
    return 1;
}

// The value from skip characters past the search cursor up to the next
// double quote becomes the stream address.  0, with nothing taken, when the
// text ends within those characters or no closing quote follows.
int take_quoted_address(DownloadItem &item, const char *text, int skip) {
    int32_t from = search_cursor + skip;
    if (!characters_present(text, search_cursor, skip, item.bufferFill)) return 0;
    search_cursor = from;
    if (!find_text(text, "\"")) return 0;
    set_stream_address(item, text, from, match_start);
    return 1;
}

// ----------------------------------------------------------------- [TABLE]

enum Unescape { NONE, PAGE, PAGE_ALT };

struct KeyStep {
    const char *key;
    int back;   // characters the cursor steps back after the match
};

struct SimpleRule {
    int kind;
    Unescape unescape;
    KeyStep keys[3];
    const char *delimiter;
    RequestStage next_stage;
    bool marker_amp;   // "_@?_" in the value stands for "&"
};

const SimpleRule simple_rules[] = {
    {2, PAGE, {{"flv_url=", 0}}, "&amp", STAGE_STREAM, false},
    {3, NONE, {{"encodeURIComponent", 0}}, "\"", STAGE_STREAM, false},
    {4, PAGE, {{"'video_url'", 0}}, "'", STAGE_STREAM, false},
    {5, PAGE, {{"'video_url'", 0}}, "\"", STAGE_STREAM, false},
    {7, PAGE, {{"flv_url=", 0}}, "&amp", STAGE_STREAM, false},
    {8, NONE, {{"flashvars.config", 0}}, "\"", STAGE_STREAM_ADDRESS, false},
    {9, PAGE, {{"flashvars.video_url", 0}}, "\"", STAGE_STREAM, false},
    {10, PAGE, {{"<video id=", 0}, {"<source src=", 0}}, "\"", STAGE_STREAM, false},
    {11, PAGE, {{"video_url=", 1}}, "&amp", STAGE_STREAM, false},
    {13, NONE, {{"flashvars.config", 1}, {"escape", 1}}, "\"", STAGE_STREAM_ADDRESS, false},
    {14, PAGE, {{"flvpathValue:", 0}}, "\"", STAGE_STREAM, true},
    {16, PAGE, {{"streams", 0}, {"file", 0}}, "\"", STAGE_STREAM, false},
    {17, NONE, {{"so.addVariable", 0}, {"file", 0}, {"encodeURIComponent", 0}}, "\"", STAGE_STREAM, false},
    {19, PAGE, {{"flashvars.video_url", 0}}, "'", STAGE_STREAM, false},
    {22, NONE, {{"'file':", 0}}, "'", STAGE_STREAM, false},
    {23, NONE, {{"'<video src=", 0}}, "\"", STAGE_STREAM, false},
    {24, NONE, {{"'file':", 0}}, "\"", STAGE_STREAM_ADDRESS, false},
    {25, NONE, {{"<source src='", 0}}, "'", STAGE_STREAM, false},
};

void unescape(DownloadItem &item, char *text, Unescape form) {
    if (form == PAGE) unescape_page(text, item.bufferFill);
    if (form == PAGE_ALT) unescape_page_alt(text, item.bufferFill);
}

int run_simple_rule(int i, const SimpleRule &rule) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    unescape(item, text, rule.unescape);
    search_page(item);
    for (const KeyStep &step : rule.keys) {
        if (!step.key) break;
        if (!find_text(text, step.key)) return 0;
        search_cursor -= step.back;
    }
    int32_t from, to;
    if (!scheme_value(text, rule.delimiter, &from, &to)) return 0;
    set_stream_address(item, text, from, to);
    if (rule.marker_amp) replace_marker_amp(item.streamAddress, VALUE_DECODE_COUNT);
    return finish_page(i, rule.next_stage);
}

// --------------------------------------------------------------- [SPECIAL]

// Kind 0: a server and a file id, joined by "/key=", asked for once.
int rule_kind0(int i) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    search_page(item);
    if (!find_text(text, "'srv':")) {
        search_page(item);
        if (!find_text(text, "'srv' :")) return 0;
    }
    for (int part = 0; part < 2; part++) {
        if (part == 1) {
            append_literal(item, KIND0_KEY_JOIN);
            if (!find_text(text, "'file':") && !find_text(text, "'file' :")) return 0;
        }
        find_text(text, "'");   // unchecked: the value's opening apostrophe
        int32_t opening = match_start;
        search_cursor = opening + 2;
        find_text(text, "'");   // unchecked: its closing apostrophe
        if (part == 0)
            set_stream_address(item, text, opening + 1, match_start);
        else
            append_stream_address(item, text, opening + 1, match_start);
    }
    return finish_kind0(i);
}

// Kind 1's value: after the scheme, up to the "&" that follows "id=" (or up
// to the "=" of "id=" when no "&" follows).
int kind1_value(DownloadItem &item, const char *text) {
    if (!find_text(text, string_entry(STR_SCHEME_PREFIX))) return 0;
    int32_t from = search_cursor;
    if (!find_text(text, "id=")) return 0;
    find_text(text, "&");   // unchecked
    set_stream_address(item, text, from, search_cursor - 1);
    return 1;
}

int rule_kind1(int i) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    unescape_page(text, item.bufferFill);
    search_page(item);
    if (!find_text(text, "url_encoded_fmt_stream_map=")) return 0;
    int32_t first_map_end = search_cursor;
    if (!find_text(text, "url=") || !kind1_value(item, text)) return 0;
    if (strchr(item.streamAddress, '\r')) {
        // The first value ran over a line end: try the next map.
        search_cursor = first_map_end + 10;
        if (!find_text(text, "url_encoded_fmt_stream_map") || !find_text(text, "url=") ||
            !kind1_value(item, text))
            return 0;
    }
    return finish_page(i, STAGE_STREAM);
}

// Kind 18: a playlist path between apostrophes, relative to the site.
int rule_kind18(int i) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    search_page(item);
    if (!find_text(text, "playlist:")) return 0;
    find_text(text, "'");   // unchecked
    int32_t from = search_cursor;
    search_cursor += 2;
    find_text(text, "'");   // unchecked
    int32_t to = search_cursor - 1;
    // Without a closing apostrophe the step forward can pass the received
    // text: the value never takes a byte from beyond it.
    if ((int64_t)to > (int64_t)item.bufferFill) to = (int32_t)item.bufferFill;
    if (to >= 0 && (uint32_t)to < item.bufferFill) text[to] = 0;
    put_value(item.streamAddress, (int)sizeof item.streamAddress, 0, KIND18_SITE_DOMAIN, 0,
              (int32_t)strlen(KIND18_SITE_DOMAIN));
    append_stream_address(item, text, from, to);
    return finish_page(i, STAGE_STREAM_ADDRESS);
}

// Kind 20: the high-quality address if there is one, else the standard one,
// with its escaped slashes.
int rule_kind20(int i) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    unescape_page(text, item.bufferFill);
    search_page(item);
    if (!find_text(text, "hqURL")) {
        search_page(item);
        if (!find_text(text, "sdURL")) return 0;
    }
    if (!find_text(text, "http:") || !take_quoted_address(item, text, 4)) return 0;
    drop_backslashes(item.streamAddress, VALUE_DECODE_COUNT);
    return finish_page(i, STAGE_STREAM_ADDRESS);
}

// Kind 21: the media address, then "?__gda__=" and the page's key.
int rule_kind21(int i) {
    DownloadItem &item = downloads.items[i];
    char *text = buffer_data(item.buffer);
    unescape_page_alt(text, item.bufferFill);
    search_page(item);
    if (!find_text(text, "mediaURL") || !find_text(text, "http:") || !take_quoted_address(item, text, 2))
        return 0;
    append_literal(item, KIND21_KEY_JOIN);
    if (!find_text(text, "key") || !find_text(text, ":") || !find_text(text, "\"")) return 0;
    int32_t key_from = search_cursor;
    if (!find_text(text, "\"")) return 0;
    text[match_start] = 0;   // the page is cut at the key's closing quote
    append_stream_address(item, text, key_from, match_start);
    return finish_page(i, STAGE_STREAM);
}

}  // namespace

// --------------------------------------------------------------- [ENDINGS]

int file_name_is_safe(const char *name) {
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    char separator = plat_path_separator();
    for (const char *c = name; *c; c++)
        if (*c == '/' || *c == '\\' || *c == separator) return 0;
    return 1;
}

int finish_page(int i, int next_stage) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!(item.state == Connecting && item.fileName[0])) {
        search_page(item);
        int32_t name_start = 0;
        int length = 0;
        if (find_text(text, string_entry(STR_NAME_OPEN))) name_start = search_cursor;
        if (find_text(text, string_entry(STR_NAME_CLOSE))) length = match_start - name_start;
        make_file_name(item.fileName, text + name_start, length);
    }
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.bufferFill = 0;
    item.requestStage = (int16_t)next_stage;
    return 1;
}

// A character that may not stand in a file name on any platform we run on.
static bool forbidden_in_name(unsigned char c) {
    return c < 32 || c == 127 || strchr("/\\:*?\"<>|", c) != nullptr ||
           c == (unsigned char)plat_path_separator();
}

static int finish_kind0(int i) {
    DownloadItem &item = downloads.items[i];
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.bufferFill = 0;
    item.requestStage = STAGE_STREAM_ADDRESS;
    if (item.totalSize != 0) return 1;

    // Named after the address's last path segment.
    const char *address = item.streamAddress;
    // Each scan starts one character after the previous match, so after a
    // slash that ends the address it would start past the address's NUL,
    // in what an earlier, longer address left in the field: the search
    // stops at the address's end.
    begin_search(1, (int32_t)strnlen(address, sizeof item.streamAddress));
    int32_t segment = 0;
    while (address[0] && find_text(address, "/")) {
        segment = search_cursor;
        search_cursor += 1;
    }
    // Cut so that the suffix fits, with every character a file name cannot
    // hold replaced: the name never leads out of the download folder.
    const int cap = (int)sizeof item.fileName;
    const int suffix = (int)strlen(VIDEO_SUFFIX);
    int n = 0;
    for (const char *c = address + segment; *c && n < cap - 1 - suffix; c++, n++)
        item.fileName[n] = forbidden_in_name((unsigned char)*c) ? '_' : *c;
    if (n == 0) {
        static const char fallback[] = "video";
        memcpy(item.fileName, fallback, sizeof fallback - 1);
        n = (int)sizeof fallback - 1;
    }
    memcpy(item.fileName + n, VIDEO_SUFFIX, (size_t)suffix + 1);
    return 1;
}

int extract_stream_address(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    if (!buffer_data(item.buffer)) return 0;
    switch (item.siteKind) {
    case 0: return rule_kind0(i);
    case 1: return rule_kind1(i);
    case 18: return rule_kind18(i);
    case 20: return rule_kind20(i);
    case 21: return rule_kind21(i);
    default: break;
    }
    for (const SimpleRule &rule : simple_rules)
        if (rule.kind == item.siteKind) return run_simple_rule(i, rule);
    return 0;   // kinds 6, 12, 15 and any unknown kind have no rule
}

// ---------------------------------------------------------------- [SECOND]

namespace {

// The second page of kind 8 or 13: the value after the kind's key, up to the
// line end or the next tag.
void second_page_by_key(int i, const char *key) {
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    search_page(item);
    if (!find_text(text, key)) return;
    uint32_t fill = item.bufferFill;
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.requestStage = STAGE_STREAM;
    item.bufferFill = 0;
    uint32_t k = (uint32_t)search_cursor;
    while (k < fill && text[k] == ' ') k++;
    uint32_t end = k;
    while (end < fill && text[end] != '\r' && text[end] != 0 && text[end] != '<') end++;
    set_stream_address(item, text, (int32_t)k, (int32_t)end);
}

// The second page of kind 18: the address in the media group's url.
void second_page_kind18(int i) {
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    search_page(item);
    if (!find_text(text, string_entry(STR_KIND18_KEY1)) ||
        !find_text(text, string_entry(STR_KIND18_KEY2)) ||
        !find_text(text, string_entry(STR_SCHEME_PREFIX)))
        return;
    // Without its closing quote the value is not complete yet: wait.
    if (!take_quoted_address(item, text, 0)) return;
    drop_amp_entity(item.streamAddress, VALUE_DECODE_COUNT);
    close_item_socket(item);
    item.lastActivityTick = app_state.now_tick;
    item.requestStage = STAGE_STREAM;
    item.bufferFill = 0;
}

}  // namespace

void extract_second_page(int i, const char *key) {
    ASSERT_ITEM_INDEX(i);
    if (!buffer_data(downloads.items[i].buffer)) return;
    if (key)
        second_page_by_key(i, key);
    else
        second_page_kind18(i);
}
