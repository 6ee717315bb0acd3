// clipboard.cpp - clipboard capture.
//
// The program never asks for an address: it watches the clipboard.  Every
// 50 ms the heartbeat polls it; text holding a supported page address fills
// the candidate record (the table record at item_count), lights the capture
// button through offer_pending and pops a hidden window up once per newly
// copied address.  The capture (engine/items.cpp) makes the candidate a
// download and empties the clipboard, which ends the offer.
//
// The 24 site patterns come first.  Only text that holds none of them may be
// a web address of its own: a whole copied "http://" or "https://" link,
// kept with its scheme, offered as a direct media link or as a page.
//
// Sections: [TEXTS] [POLL] [RECOGNITION] [SCHEME ADDRESSES] [EMPTYING]
#include "ui/clipboard.h"

#include <cstdint>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/address_text.h"
#include "ui/ui.h"
#include "web/address.h"
#include "web/text.h"

// A pattern must end within the text's first 512 characters.
static const int32_t SEARCH_WINDOW = 512;
// The longest address taken from the text.
static const int ADDRESS_MAX = 254;
// Everything recognition can look at: an address begins within the search
// window and runs at most 254 characters from there.
static const size_t CLIP_COPY_MAX = (size_t)SEARCH_WINDOW + ADDRESS_MAX;
// The longest address taken with its scheme: the whole field but its NUL.
static const int SCHEME_ADDRESS_MAX = (int)sizeof(DownloadItem::pageAddress) - 1;

// ---------------------------------------------------------------- [TEXTS]

// The poll's own copy of the clipboard text: the platform's text is valid
// only while the clipboard is open, and text from another program is bounded
// here rather than trusted to end in a NUL soon.  It keeps one character
// more than recognition reads, so that a longer text is seen to be longer
// and no link is taken cut short.
static char polled_text[CLIP_COPY_MAX + 2];
// The text that made the last offer, as far as recognition saw it.  The
// capture empties the clipboard only while it still holds this text.
static char offer_text[CLIP_COPY_MAX + 1];

// Copies at most max bytes of text and a NUL.
static void copy_bounded(char *to, const char *text, size_t max) {
    size_t n = strnlen(text, max);
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
    if (text) copy_bounded(polled_text, text, CLIP_COPY_MAX + 1);
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

// The offer of the candidate's address: lit, with the address's checksum
// and the text that made it (the capture empties only that text).
static void take_offer(const char *text, int32_t checksum) {
    AppState &s = app_state;
    s.offer_pending = 1;
    s.offer_checksum = checksum;
    copy_bounded(offer_text, text, CLIP_COPY_MAX);
}

// A hidden window pops up once for each newly copied address; hidden again
// while the same address stays on the clipboard, it stays hidden.  It does
// not take the focus from the program the user copied in.
static void pop_up_once(void) {
    AppState &s = app_state;
    if (s.window_shown == 0 && s.offer_checksum != s.shown_checksum) {
        show_main_window(PLAT_SHOW_NO_ACTIVATE);
        s.shown_checksum = s.offer_checksum;
    }
}

static int offer_scheme_address(const char *text);

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
    if (pattern < 0) return offer_scheme_address(text);

    DownloadItem &candidate = downloads.items[downloads.item_count];
    candidate.siteKind = site_code(pattern);
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
    take_offer(text, checksum);
    pop_up_once();
    return 1;
}

// ----------------------------------------------------- [SCHEME ADDRESSES]

// Whitespace around a copied link: indentation, a line break after it.
static int is_space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

// What a link taken whole may hold: printable ASCII but the space, quotes,
// angle brackets and the backslash.  A space or line break inside means the
// text is a sentence or a list, not one link; the others end or break an
// address where the browser and the shell take it.
static int link_character(unsigned char c) {
    return c > ' ' && c < 0x7F && !strchr("\"'<>\\", c);
}

// The text, trimmed of the whitespace around it, as a link of its own:
// SITE_DIRECT_MEDIA when its path ends in a media extension, SITE_WEB_PAGE
// for any other page, -1 for no link or one never offered (a streaming
// manifest, a link that does not fit the field, a host the requests could
// not use).  *from and *length give the link within the text.
static int scheme_address_kind(const char *text, int *from, int *length) {
    // A text longer than recognition reads may have been cut by the poll.
    size_t n = strnlen(text, CLIP_COPY_MAX + 1);
    if (n > CLIP_COPY_MAX) return -1;
    int begin = 0, end = (int)n;
    while (begin < end && is_space((unsigned char)text[begin])) begin++;
    while (end > begin && is_space((unsigned char)text[end - 1])) end--;
    if (end - begin > SCHEME_ADDRESS_MAX) return -1;
    char link[SCHEME_ADDRESS_MAX + 1];
    memcpy(link, text + begin, (size_t)(end - begin));
    link[end - begin] = 0;
    if (!address_scheme_length(link)) return -1;
    for (int k = 0; link[k]; k++)
        if (!link_character((unsigned char)link[k])) return -1;
    AddressParts parts;
    if (!split_stored_address(link, (int)sizeof link, &parts)) return -1;

    // The path decides; the query and the fragment do not.
    int path_length = (int)strcspn(parts.target, "?");
    if (path_names_manifest(parts.target, path_length)) return -1;
    *from = begin;
    *length = end - begin;
    return ends_in_media_extension(parts.target, path_length) ? SITE_DIRECT_MEDIA : SITE_WEB_PAGE;
}

// Offers a link with its scheme, stored with the scheme in lower case.  A
// direct media link is offered like a site's page; any other page lights the
// button only in a window already shown and never pops it up, so that
// copying links all day does not bring the window up each time.
static int offer_scheme_address(const char *text) {
    AppState &s = app_state;
    int from = 0, length = 0;
    int kind = scheme_address_kind(text, &from, &length);
    if (kind < 0 || (kind == SITE_WEB_PAGE && s.window_shown == 0)) {
        s.offer_pending = 0;
        return 0;
    }
    DownloadItem &candidate = downloads.items[downloads.item_count];
    candidate.siteKind = kind;
    memset(candidate.pageAddress, 0, sizeof candidate.pageAddress);
    const int scheme = address_scheme_length(text + from);
    int32_t checksum = 0;
    for (int k = 0; k < length; k++) {
        char c = text[from + k];
        if (k < scheme) c = ascii_lower(c);
        candidate.pageAddress[k] = c;
        checksum += (int8_t)c;
    }
    take_offer(text, checksum);
    if (kind == SITE_DIRECT_MEDIA) pop_up_once();
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
