// clipboard.h - clipboard capture: the heartbeat's poll, the recognition of
// a supported page address, and the emptying that ends an offer.
#pragma once

// The heartbeat's clipboard poll (every second timer message).  When the
// clipboard holds text and opens, the text is copied (at most 767 bytes)
// and the clipboard closed; offer_pending becomes 1 when the program is
// online and the copy holds a supported address, else 0.  Text that cannot
// be obtained counts as unsupported; with no text on the clipboard, or when
// it does not open, offer_pending keeps its value.
void poll_clipboard(void);

// Looks for the first site pattern, in matching order, that ends within the
// text's first 512 characters.  Found: the candidate record gets the site
// code and the address from the match on (at most 254 characters, up to the
// first space, quote, angle bracket or control character), the offer and
// its checksum are set, a hidden window pops up (without taking the focus)
// for an address it has not popped up for, and 1 is returned.
//
// With no pattern found, text that is one "http://" or "https://" link
// (whitespace around it trimmed; at most 766 characters in all; the link at
// most 511, printable ASCII without space, quote, angle bracket or
// backslash; a host the requests can use: no user name, no IPv6 literal,
// a port 1 to 65535 if any) is offered with its scheme, the
// scheme in lower case: site code SITE_DIRECT_MEDIA when its path ends in a
// media extension (offered and popping up as above), SITE_WEB_PAGE for any
// other page (offered only while the window is shown, never popping it up).
// Streaming manifests (.m3u8, .mpd, .f4m, .ism/manifest) are never offered.
//
// Nothing offered, or no table: offer_pending = 0, the candidate untouched,
// 0 returned.
int check_clipboard_address(const char *text);

// Ends the offer by emptying the clipboard, but only while it still holds
// the text that made the offer: anything copied since stays.
void empty_clipboard(void);
