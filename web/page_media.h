// page_media.h - reading the pages of today's sites: the media a page
// declares, addresses resolved against the page, text decoding, names, media
// types and what an answer's first bytes are.  No I/O: everything reads bytes
// with explicit lengths (a NUL is an ordinary byte) and writes into the
// caller's buffers with explicit capacities.  Functions that write text end
// it with a NUL and return its length, or -1 when it cannot be had (nothing
// found, or it would not fit): then out holds "" when cap allows.
#pragma once

#include <cstdint>

// Room for an address and its NUL: addresses are at most 511 bytes.
static const uint32_t MEDIA_ADDRESS_CAP = 512;
// Candidates a page may offer; more are counted in overflow and left out.
static const int MEDIA_CANDIDATES_MAX = 16;

// Where a candidate was declared, best kind first.
enum MediaSource {
    MEDIA_FROM_TAG = 0,          // <video>/<audio> src, <source src> inside them
    MEDIA_FROM_JSON_LD = 1,      // structured data: a VideoObject's contentUrl
    MEDIA_FROM_TWITTER = 2,      // <meta twitter:player:stream>
    MEDIA_FROM_OG_SECURE = 3,    // og:video:secure_url
    MEDIA_FROM_OG_URL = 4,       // og:video:url
    MEDIA_FROM_OG_VIDEO = 5,     // og:video
};

struct MediaCandidate {
    char address[MEDIA_ADDRESS_CAP];  // absolute http or https address
    int32_t height;                   // declared height in pixels, 0 when none
    int32_t source;                   // MediaSource
    const char *extension;            // from the declared type or the address, "" unknown
};

struct DeclaredMedia {
    int32_t count;             // candidates, in order of kind, then of the page
    int32_t chosen;            // the preferred candidate, -1 when there is none
    int32_t manifestsDropped;  // streaming manifests declared and left out
    int32_t overflow;          // usable candidates beyond MEDIA_CANDIDATES_MAX
    MediaCandidate candidates[MEDIA_CANDIDATES_MAX];
};

// What the first bytes of an answer and its Content-Type say it is.
enum MediaAnswer {
    ANSWER_UNKNOWN = 0,
    ANSWER_MEDIA = 1,      // a media file that can be saved as it comes
    ANSWER_MANIFEST = 2,   // a streaming playlist (HLS or DASH): refused
    ANSWER_PROTECTED = 3,  // a manifest or file that names a DRM scheme: refused
    ANSWER_PAGE = 4,       // an HTML page
};

// ----------------------------------------------------------- addresses

// Resolves reference against base (both absolute or relative references as
// a page writes them); the fragment is dropped.  Only an http or https
// result of at most 511 bytes is accepted.
int resolve_address(const char *base, uint32_t base_length, const char *reference,
                    uint32_t reference_length, char *out, uint32_t cap);
// 1 when the address names a streaming manifest that must never be offered
// (its path ends in .m3u8, .mpd or .f4m, or holds .ism/manifest).
int address_is_manifest(const char *address, uint32_t length);

// ------------------------------------------------------------ decoding

// HTML character references in attribute values and text; unknown ones
// stay as written.
int decode_html_entities(const char *text, uint32_t length, char *out, uint32_t cap);
// The escapes of a JSON string's contents (without its quotes).
int decode_json_escapes(const char *text, uint32_t length, char *out, uint32_t cap);

// --------------------------------------------------------------- pages

// Collects the media the page declares; page_address is the page's final
// address.  Returns result->count.
int find_declared_media(const char *page, uint32_t page_length, const char *page_address,
                        uint32_t address_length, DeclaredMedia *result);

// --------------------------------------------------------------- names

// The file name a Content-Disposition value gives (UTF-8).
int name_from_content_disposition(const char *value, uint32_t length, char *out, uint32_t cap);
// The page's title: og:title, else <title>; whitespace collapsed.
int page_title(const char *page, uint32_t length, char *out, uint32_t cap);
// The last segment of the address's path, percent-decoded.
int name_from_address(const char *address, uint32_t length, char *out, uint32_t cap);

// --------------------------------------------------------- media types

// "mp4", "webm", ... from the media type, else from the address's path; ""
// when neither tells.  Either may be null with length 0.
const char *media_extension(const char *type, uint32_t type_length, const char *address,
                            uint32_t address_length);
// Classifies an answer by its first bytes and Content-Type (MediaAnswer).
int media_answer_kind(const char *head, uint32_t head_length, const char *type, uint32_t type_length);
