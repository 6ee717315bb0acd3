// clipboard.cpp - clipboard capture.
//
// The program never asks for an address: it watches the clipboard.  Every
// 50 ms the heartbeat polls it; text holding a supported page address fills
// the candidate record (the table record at item_count), lights the capture
// button through offer_pending and pops a hidden window up once per newly
// copied address.  The capture (engine/items.cpp) makes the candidate a
// download and empties the clipboard, which ends the offer.
//
// Sections: [TEXTS] [POLL] [RECOGNITION] [EMPTYING]
#include "ui/clipboard.h"

#include <cstdint>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "ui/ui.h"
#include "web/text.h"

// A pattern must end within the text's first 512 characters.
static const int32_t SEARCH_WINDOW = 512;
// The longest address taken from the text.
static const int ADDRESS_MAX = 254;
// Everything recognition can look at: an address begins within the search
// window and runs at most 254 characters from there.
static const size_t CLIP_COPY_MAX = (size_t)SEARCH_WINDOW + ADDRESS_MAX;

// ---------------------------------------------------------------- [TEXTS]

// The poll's own copy of the clipboard text: the platform's text is valid
// only while the clipboard is open, and text from another program is bounded
// here rather than trusted to end in a NUL soon.
static char polled_text[CLIP_COPY_MAX + 1];
// The text that made the last offer, as far as recognition saw it.  The
// capture empties the clipboard only while it still holds this text.
static char offer_text[CLIP_COPY_MAX + 1];

// Copies at most CLIP_COPY_MAX bytes of text and a NUL.
static void copy_bounded(char *to, const char *text) {
    size_t n = strnlen(text, CLIP_COPY_MAX);
    memcpy(to, text, n);
    to[n] = 0;
}

// ----------------------------------------------------------------- [POLL]

void poll_clipboard(void) {
    AppState &s = app_state;
    // A picture or an empty clipboard leaves the offer as it is.
    if (!plat_clipboard_has_text()) return;
    if (!plat_clipboard_open(s.window)) {
        // Skipped for this tick; the close is still owed.
        plat_clipboard_close();
        return;
    }
    const char *text = plat_clipboard_text();
    if (text) copy_bounded(polled_text, text);
    plat_clipboard_close();

    // Recognition runs on the copy, with the clipboard already closed; it
    // is asked only while online, since it may pop the window up.
    int offered = text && s.online == 1 && check_clipboard_address(polled_text);
    s.offer_pending = offered ? 1 : 0;
}

// ---------------------------------------------------------- [RECOGNITION]

// Characters that end an address: no control character, space, quote or
// angle bracket belongs to one, so that neither the rest of a copied
// sentence nor a line break reaches a request line.
static int ends_address(unsigned char c) {
    return c < 32 || c == 127 || c == ' ' || c == '"' || c == '<' || c == '>';
}

int check_clipboard_address(const char *text) {
    AppState &s = app_state;
    if (!downloads.items) {
        s.offer_pending = 0;
        return 0;
    }
    // Patterns are tried in their matching order; the first found wins,
    // wherever in the window another one stands.
    int pattern = -1;
    for (int n = 0; n < SITE_PATTERN_COUNT && pattern < 0; n++) {
        begin_search(0, SEARCH_WINDOW);
        if (find_text(text, site_pattern(n))) pattern = n;
    }
    if (pattern < 0) {
        s.offer_pending = 0;
        return 0;
    }

    DownloadItem &candidate = downloads.items[downloads.item_count];
    candidate.siteKind = site_code(pattern);
    s.offer_pending = 1;
    // The address starts at the match; a scheme or words before it are
    // dropped.  Clearing the field first puts the NUL after the address and
    // leaves nothing of a longer earlier address behind it (the list file
    // stores the field whole).
    const char *from = text + match_start;
    memset(candidate.pageAddress, 0, sizeof candidate.pageAddress);
    int32_t checksum = 0;
    int length = 0;
    while (length < ADDRESS_MAX && from[length] && !ends_address((unsigned char)from[length])) {
        candidate.pageAddress[length] = from[length];
        checksum += (int8_t)from[length];
        length++;
    }
    s.offer_checksum = checksum;
    copy_bounded(offer_text, text);

    // A hidden window pops up once for each newly copied address; hidden
    // again while the same address stays on the clipboard, it stays hidden.
    // It does not take the focus from the program the user copied in.
    if (s.window_shown == 0 && s.offer_checksum != s.shown_checksum) {
        show_main_window(PLAT_SHOW_NO_ACTIVATE);
        s.shown_checksum = s.offer_checksum;
    }
    return 1;
}

// ------------------------------------------------------------- [EMPTYING]

// The clipboard is emptied only while it holds the offering text (compared
// as far as recognition saw it): a picture, a password or another text
// copied since the offer is the user's and stays.  Every failure is ignored.
void empty_clipboard(void) {
    if (!plat_clipboard_has_text()) return;
    if (plat_clipboard_open(app_state.window)) {
        const char *text = plat_clipboard_text();
        if (text && strncmp(text, offer_text, CLIP_COPY_MAX) == 0) plat_clipboard_empty();
    }
    plat_clipboard_close();
}
