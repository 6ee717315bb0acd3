// fuzz_clipboard.cpp - clipboard capture with arbitrary bytes as the
// clipboard's text, on a program started once on the fake platform.
//
// Each run copies the input's text to the fake clipboard and runs the
// heartbeat's poll (poll_clipboard, then check_clipboard_address on the
// poll's bounded copy).  The clipboard hands out text up to its first NUL,
// as a real one does; the same bytes, NULs and all, then go to
// check_clipboard_address directly in a heap block of exactly their size
// and one NUL, so the address sanitizer sees any read past the terminator,
// and the result must be the poll's: nothing after the first NUL, and
// nothing the poll's copy leaves out, may change what is offered.
//
// After each: the offer is pending exactly when the text shows a supported
// pattern ending in its first 512 characters, or else is one whole http(s)
// link as modelled below (a page link only while the window shows); the
// candidate record then holds the address starting at the first occurrence
// of the first such pattern in matching order, at most 254 characters, cut
// at the first stop character, under that pattern's site code, or the whole
// link with its scheme in lower case under code 26 (its path ends in a
// media extension) or 27, NUL-terminated in its field with zeros behind;
// a text that offers nothing leaves the candidate
// record as it was; no other record changes; a hidden window pops up,
// without taking the focus, only for an address it has not popped up for;
// and the capture's emptying takes the offering text off the clipboard.
//
// Input: one setup byte, then the clipboard's text (any bytes).
//   bits 0-1: 0 the text can be read, 1 the clipboard will not open,
//             2 its text cannot be had, 3 the text is marked secret
//   bit 2: a picture instead of text
//   bit 3: offline
//   bit 4: the window hidden; bit 5: it already popped up for this address
//   bit 6: an earlier offer pending
//   bit 7: three downloads listed before the candidate (else none)
//
// Sections: [STARTING] [EXPECTED] [CHECKS] [RUN]

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "app/app.h"
#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "listfile/list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"
#include "ui/clipboard.h"
#include "ui/ui.h"

namespace {

// Recognition looks at the text's first 512 characters for a pattern and
// takes at most 254 characters of address from its start; it keeps as much
// of an offering text as it could have looked at.
const size_t SEARCH_WINDOW = 512;
const size_t ADDRESS_MAX = 254;
const size_t OFFER_TEXT_MAX = SEARCH_WINDOW + ADDRESS_MAX;
const int LISTED = 3;
// What a candidate record holds before a run: a long stale address and a
// site code no pattern has, so a run that leaves it alone can be told.
const char STALE_BYTE = 'Q';
const int32_t STALE_KIND = -7;

// ------------------------------------------------------------ [STARTING]

char folder[] = "/tmp/quorvax-fuzz-clipboard-XXXXXX";
char list_path[sizeof folder + sizeof LIST_FILE_NAME + 1];
AppState started;   // app_state as start-up left it
// The text of the last offer, as far as recognition keeps it (none yet: the
// empty text).
std::string last_offer_text;

void remove_folder() {
    close_file(app_state.list_file);
    unlink(list_path);
    rmdir(folder);
}

// Starts the program once on an empty list in a folder of its own (it opens
// list.o in its working folder), then gives it a table with room for three
// downloads and the candidate.
bool initialise() {
    if (!mkdtemp(folder)) abort();
    snprintf(list_path, sizeof list_path, "%s/%s", folder, LIST_FILE_NAME);
    atexit(remove_folder);
    start_program_on(folder, list_path, empty_list(folder));
    free_table();
    if (!allocate_table(LISTED)) abort();
    for (int i = 0; i < LISTED; i++) {
        downloads.items[i].state = Queued;
        snprintf(downloads.items[i].pageAddress, 64, "reelbox.test/watch/listed-%d", i);
    }
    started = app_state;
    return true;
}

// ------------------------------------------------------------ [EXPECTED]

// What recognition must make of a text (read up to its first NUL).
// offered: a pattern or a link offers it; a page link (kind 27) only while
// the window shows, which offered_now() adds.
struct Expected {
    bool offered;
    int32_t kind;
    std::string address;
    int32_t checksum;
};

const int32_t DIRECT_MEDIA = 26, WEB_PAGE = 27;
const size_t LINK_MAX = 511;

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c; }

// Where pattern first stands in text ending within the search window
// (letters in either case); -1 when it does not.
long first_occurrence(const std::string &text, const char *pattern) {
    size_t n = strlen(pattern);
    size_t window = text.size() < SEARCH_WINDOW ? text.size() : SEARCH_WINDOW;
    for (size_t at = 0; at + n <= window; at++) {
        size_t k = 0;
        while (k < n && lower((unsigned char)text[at + k]) == lower((unsigned char)pattern[k])) k++;
        if (k == n) return (long)at;
    }
    return -1;
}

// 1 when the address starts with a supported pattern of its site code.
bool starts_with_pattern_of(const char *address, int32_t kind) {
    for (int n = 0; n < SITE_PATTERN_COUNT; n++) {
        const char *pattern = site_pattern(n);
        size_t k = 0;
        while (pattern[k] && lower((unsigned char)address[k]) == lower((unsigned char)pattern[k])) k++;
        if (!pattern[k] && site_code(n) == kind) return true;
    }
    return false;
}

bool stops_address(unsigned char c) {
    return c < 32 || c == 127 || c == ' ' || c == '"' || c == '<' || c == '>';
}

bool ends_with_any_case(const std::string &text, const std::string &ending) {
    if (text.size() <= ending.size()) return false;
    for (size_t k = 0; k < ending.size(); k++)
        if (lower((unsigned char)text[text.size() - ending.size() + k]) != (unsigned char)ending[k]) return false;
    return true;
}

std::string lower_text(std::string text) {
    for (char &c : text) c = (char)lower((unsigned char)c);
    return text;
}

// A text without a pattern as a whole link: 26 or 27 with the link, or 0.
int32_t link_kind(const std::string &text, std::string *link) {
    if (text.size() > OFFER_TEXT_MAX) return 0;
    const char *space = " \t\n\v\f\r";
    size_t begin = text.find_first_not_of(space);
    if (begin == std::string::npos) return 0;
    size_t end = text.find_last_not_of(space) + 1;
    std::string l = text.substr(begin, end - begin);
    if (l.size() > LINK_MAX) return 0;
    for (char c : l)
        if ((unsigned char)c <= 32 || (unsigned char)c >= 127 || strchr("\"'<>\\", c)) return 0;
    std::string head = lower_text(l.substr(0, 8));
    size_t scheme = head.compare(0, 7, "http://") == 0 ? 7 : head == "https://" ? 8 : 0;
    if (!scheme) return 0;
    size_t host_end = l.find_first_of("/?#", scheme);
    if (host_end == std::string::npos) host_end = l.size();
    std::string host = l.substr(scheme, host_end - scheme);
    if (host.empty() || host[0] == '[' || host.find('@') != std::string::npos) return 0;
    size_t colon = host.find(':');
    if (colon != std::string::npos) {
        std::string digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        long port = strtol(digits.c_str(), nullptr, 10);
        if (port < 1 || port > 65535) return 0;
        host = host.substr(0, colon);
    }
    if (host.empty() || host.size() > 255) return 0;
    std::string path = l.substr(host_end, l.find_first_of("?#", host_end) - host_end);
    if (path.empty() || path[0] != '/') path = "/" + path;
    for (const char *manifest : {".m3u8", ".mpd", ".f4m"})
        if (ends_with_any_case(path, manifest)) return 0;
    if (lower_text(path).find(".ism/manifest") != std::string::npos) return 0;
    *link = lower_text(l.substr(0, scheme)) + l.substr(scheme);
    for (const char *media : {".mp4", ".m4v", ".webm", ".mov", ".mkv", ".mp3", ".m4a", ".ogg", ".ogv", ".oga",
                              ".opus", ".flac", ".wav", ".aac"})
        if (ends_with_any_case(path, media)) return DIRECT_MEDIA;
    return WEB_PAGE;
}

Expected expected_for(const std::string &text) {
    Expected e = {false, 0, "", 0};
    std::string link;
    if (int32_t kind = link_kind(text, &link)) {
        e = Expected{true, kind, link, 0};
        for (char c : link) e.checksum += (int32_t)(signed char)c;
    }
    for (int n = 0; n < SITE_PATTERN_COUNT; n++) {
        long at = first_occurrence(text, site_pattern(n));
        if (at < 0) continue;
        e = Expected{true, 0, "", 0};
        e.kind = site_code(n);
        for (size_t k = (size_t)at; k < text.size() && e.address.size() < ADDRESS_MAX; k++) {
            if (stops_address((unsigned char)text[k])) break;
            e.address += text[k];
            e.checksum += (int32_t)(signed char)text[k];
        }
        break;
    }
    return e;
}

// -------------------------------------------------------------- [CHECKS]

// Whether e offers with the window as it was before the run.
bool offered_now(const Expected &e, int window_shown) {
    return e.offered && !(e.kind == WEB_PAGE && window_shown == 0);
}

struct Before {
    int32_t offer_pending;
    int window_shown;
    int show_count;
    std::vector<DownloadItem> listed;
    DownloadItem candidate;
};

Before note_before() {
    Before b;
    b.offer_pending = app_state.offer_pending;
    b.window_shown = app_state.window_shown;
    b.show_count = fake_window().show_count;
    b.listed.assign(downloads.items, downloads.items + downloads.item_count);
    b.candidate = downloads.items[downloads.item_count];
    return b;
}

// The candidate as a run starts: a long stale address and no known site.
void stale_candidate() {
    DownloadItem &c = downloads.items[downloads.item_count];
    memset(c.pageAddress, STALE_BYTE, sizeof c.pageAddress - 1);
    c.pageAddress[sizeof c.pageAddress - 1] = 0;
    c.siteKind = STALE_KIND;
}

// asked: recognition ran on the text (it could be read, while online).
void check_after(const Before &b, bool asked, const Expected &e, int returned, bool popped_before) {
    const AppState &s = app_state;
    const DownloadItem &c = downloads.items[downloads.item_count];
    for (int32_t i = 0; i < downloads.item_count; i++)
        check(memcmp(&b.listed[i], &downloads.items[i], sizeof(DownloadItem)) == 0, "listed downloads untouched");
    if (!asked) return;
    const bool offered = offered_now(e, b.window_shown);
    check(returned == (offered ? 1 : 0), "offered exactly for a pattern in the first 512 characters or a whole link");
    check(s.offer_pending == returned, "offer_pending follows the recognition");
    if (!offered) {
        check(memcmp(&b.candidate, &c, sizeof c) == 0, "a text that offers nothing leaves the candidate");
        check(s.window_shown == b.window_shown && fake_window().show_count == b.show_count,
              "a text that offers nothing shows no window");
        return;
    }
    check(c.siteKind == e.kind, "the site code of the first pattern in matching order, or of the link");
    size_t length = strnlen(c.pageAddress, sizeof c.pageAddress);
    check(length < sizeof c.pageAddress, "the address ends in its field");
    if (e.kind == DIRECT_MEDIA || e.kind == WEB_PAGE) {
        check(std::string(c.pageAddress) == e.address, "a link is stored whole, its scheme in lower case");
    } else {
        check(length <= ADDRESS_MAX, "at most 254 characters of address");
        check(starts_with_pattern_of(c.pageAddress, c.siteKind), "the address starts with a pattern of its site code");
        check(std::string(c.pageAddress) == e.address,
              "the address runs from the pattern's first occurrence to a stop character");
    }
    for (size_t k = length; k < sizeof c.pageAddress; k++)
        check(c.pageAddress[k] == 0, "nothing of an earlier address behind the new one");
    check(s.offer_checksum == e.checksum, "the checksum is the address's signed sum");
    // The rest of the candidate record is not recognition's.
    DownloadItem rest = c;
    memcpy(rest.pageAddress, b.candidate.pageAddress, sizeof rest.pageAddress);
    rest.siteKind = b.candidate.siteKind;
    check(memcmp(&rest, &b.candidate, sizeof rest) == 0, "only the address and site code of the candidate change");

    bool pops = b.window_shown == 0 && !popped_before;
    if (pops) {
        check(s.window_shown == 1 && fake_window().shown, "a hidden window pops up for a new address");
        check(!fake_window().activated, "the pop-up leaves the focus where it is");
        check(s.shown_checksum == e.checksum, "the pop-up notes the address it came for");
    } else {
        check(s.window_shown == b.window_shown && fake_window().show_count == b.show_count,
              "no pop-up for a shown window or an address already popped up for");
    }
}

// Puts app_state and the fake's window as a run's setup byte says.
void set_up(uint8_t setup, const Expected &e) {
    app_state = started;
    downloads.item_count = (setup & 128) ? LISTED : 0;
    downloads.selected_item = -1;
    app_state.online = (setup & 8) ? 0 : 1;
    app_state.offer_pending = (setup & 64) ? 1 : 0;
    plat_show_window(app_state.window, PLAT_SHOW);
    app_state.window_shown = 1;
    if (setup & 16) {
        plat_show_window(app_state.window, PLAT_HIDE);
        fake_deactivate_window();
        app_state.window_shown = 0;
        // The checksum noted when the window last popped up: this text's,
        // or one no address has.
        app_state.shown_checksum = (setup & 32) ? e.checksum : INT32_MIN;
    }
    stale_candidate();
}

// The candidate and offer as one recognition left them.
struct Outcome {
    int32_t offer_pending, offer_checksum;
    DownloadItem candidate;
};

Outcome outcome() {
    return Outcome{app_state.offer_pending, app_state.offer_checksum, downloads.items[downloads.item_count]};
}

}  // namespace

// ----------------------------------------------------------------- [RUN]

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = initialise();
    (void)ready;
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    const char *bytes = (const char *)data + 1;
    const size_t count = size - 1;
    // The clipboard's text: the bytes up to the first NUL.
    const std::string text(bytes, strnlen(bytes, count));
    const Expected e = expected_for(text);
    const int mode = setup & 3;
    const bool picture = setup & 4;

    // Through the heartbeat's poll.
    set_up(setup, e);
    fake_set_clipboard(picture ? nullptr : text.c_str());
    fake_set_clipboard_open_fails(mode == 1);
    fake_set_clipboard_text_fails(mode == 2);
    fake_set_clipboard_secret(mode == 3);
    Before before = note_before();
    poll_clipboard();
    check(fake_clipboard_open_count() == fake_clipboard_close_count(), "every open of the clipboard is closed");
    const bool read = !picture && mode == 0;
    const bool asked = read && app_state.online == 1;
    if (picture || mode == 1)
        check(app_state.offer_pending == before.offer_pending, "a picture or a closed clipboard keeps the offer");
    else if (!asked)
        check(app_state.offer_pending == 0, "unreadable text or offline: no offer");
    check_after(before, asked, e, app_state.offer_pending, (setup & 32) != 0);
    const Outcome polled = outcome();
    if (asked && offered_now(e, before.window_shown)) last_offer_text = text.substr(0, OFFER_TEXT_MAX);

    // The capture's emptying: the text that made the last offer leaves the
    // clipboard (compared as far as recognition kept it); any other text,
    // or one that cannot be read, stays.
    const bool offering = read && text.substr(0, OFFER_TEXT_MAX) == last_offer_text;
    const int emptied_before = fake_clipboard_empty_count();
    empty_clipboard();
    check(fake_clipboard_open_count() == fake_clipboard_close_count(), "every open of the clipboard is closed");
    if (offering)
        check(fake_clipboard() == nullptr && fake_clipboard_empty_count() == emptied_before + 1,
              "the offering text is taken off the clipboard");
    else
        check(fake_clipboard_empty_count() == emptied_before &&
                  (picture ? fake_clipboard() == nullptr : fake_clipboard() != nullptr && text == fake_clipboard()),
              "other text stays on the clipboard");

    // The same bytes straight to recognition, NULs and all, in a block of
    // exactly their size and a NUL: the same offer as through the poll.
    if (app_state.online == 1) {
        char *block = (char *)malloc(count + 1);
        memcpy(block, bytes, count);
        block[count] = 0;
        set_up(setup, e);
        Before direct_before = note_before();
        int returned = check_clipboard_address(block);
        free(block);
        check_after(direct_before, true, e, returned, (setup & 32) != 0);
        if (offered_now(e, direct_before.window_shown)) last_offer_text = text.substr(0, OFFER_TEXT_MAX);
        if (asked) {
            Outcome direct = outcome();
            check(direct.offer_pending == polled.offer_pending && direct.offer_checksum == polled.offer_checksum &&
                      memcmp(&direct.candidate, &polled.candidate, sizeof direct.candidate) == 0,
                  "the poll's copy offers what the whole text offers");
        }
    }

    // QUORVAX_FUZZ_SHOW=1 prints what each input offered (for looking at seeds).
    static const bool show = getenv("QUORVAX_FUZZ_SHOW") != nullptr;
    if (show)
        printf("setup %u: offered %d kind %d address \"%s\"\n", setup, e.offered ? 1 : 0, e.kind,
               e.address.c_str());
    return 0;
}
