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
// pattern ending in its first 512 characters; the candidate record then
// holds the address starting at the first occurrence of the first such
// pattern in matching order, at most 254 characters, cut at the first stop
// character, NUL-terminated in its field with zeros behind, under that
// pattern's site code; a text that offers nothing leaves the candidate
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
struct Expected {
    bool offered;
    int32_t kind;
    std::string address;
    int32_t checksum;
};

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

Expected expected_for(const std::string &text) {
    Expected e = {false, 0, "", 0};
    for (int n = 0; n < SITE_PATTERN_COUNT; n++) {
        long at = first_occurrence(text, site_pattern(n));
        if (at < 0) continue;
        e.offered = true;
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
    check(returned == (e.offered ? 1 : 0), "offered exactly when a pattern ends in the first 512 characters");
    check(s.offer_pending == returned, "offer_pending follows the recognition");
    if (!e.offered) {
        check(memcmp(&b.candidate, &c, sizeof c) == 0, "a text that offers nothing leaves the candidate");
        check(s.window_shown == b.window_shown && fake_window().show_count == b.show_count,
              "a text that offers nothing shows no window");
        return;
    }
    check(c.siteKind == e.kind, "the site code of the first pattern in matching order");
    size_t length = strnlen(c.pageAddress, sizeof c.pageAddress);
    check(length < sizeof c.pageAddress, "the address ends in its field");
    check(length <= ADDRESS_MAX, "at most 254 characters of address");
    check(starts_with_pattern_of(c.pageAddress, c.siteKind), "the address starts with a pattern of its site code");
    check(std::string(c.pageAddress) == e.address,
          "the address runs from the pattern's first occurrence to a stop character");
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
    if (asked && e.offered) last_offer_text = text.substr(0, OFFER_TEXT_MAX);

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
        if (e.offered) last_offer_text = text.substr(0, OFFER_TEXT_MAX);
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
