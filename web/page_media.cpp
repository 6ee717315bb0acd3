// page_media.cpp - the media today's pages declare, and the text beneath it.
//
//   [BYTES]       helpers: case-insensitive matching, the bounded writer
//   [ADDRESSES]   resolve_address, address_is_manifest
//   [DECODING]    decode_html_entities, decode_json_escapes
//   [SCANNER]     next_tag: a tolerant walk over tags, not an HTML parser
//   [JSON-LD]     VideoObjects in structured data
//   [PAGE MEDIA]  find_declared_media
//   [NAMES]       name_from_content_disposition, page_title, name_from_address
//   [TYPES]       media_extension, media_answer_kind
//
// Nothing here trusts a NUL: every read is bounded by the length given, and
// every write by the capacity given.  No heap; the largest buffers are a few
// kilobytes on the stack.

#include "web/page_media.h"

#include <cstring>

#include "listfile/address_text.h"

// ------------------------------------------------------------------ [BYTES]

namespace {

const uint32_t NOT_FOUND = 0xFFFFFFFFu;

struct Span {
    uint32_t at;
    uint32_t length;
};

inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c; }
inline bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
inline bool is_alpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// True when literal (written in lower case) stands at text[at], whatever the
// case of text.
bool at_ci(const char *text, uint32_t length, uint32_t at, const char *literal) {
    uint32_t n = (uint32_t)strlen(literal);
    if (at > length || length - at < n) return false;
    for (uint32_t k = 0; k < n; k++)
        if (lower((unsigned char)text[at + k]) != (unsigned char)literal[k]) return false;
    return true;
}

bool equal_ci(const char *text, uint32_t length, const char *literal) {
    return strlen(literal) == length && at_ci(text, length, 0, literal);
}

uint32_t find_ci(const char *text, uint32_t length, uint32_t from, const char *literal) {
    for (uint32_t p = from; p < length; p++)
        if (at_ci(text, length, p, literal)) return p;
    return NOT_FOUND;
}

// The span without the ASCII whitespace at either end.
Span trim(const char *text, Span s) {
    while (s.length && is_space((unsigned char)text[s.at])) s.at++, s.length--;
    while (s.length && is_space((unsigned char)text[s.at + s.length - 1])) s.length--;
    return s;
}

// A bounded writer: text goes into data while it leaves room for the NUL;
// anything more marks it failed.
struct Writer {
    char *data;
    uint32_t cap;
    uint32_t length;
    bool failed;
};

Writer writer(char *out, uint32_t cap) { return Writer{out, cap, 0, cap == 0}; }

void put(Writer &w, unsigned char c) {
    if (w.failed || w.length + 1 >= w.cap) {
        w.failed = true;
        return;
    }
    w.data[w.length++] = (char)c;
}

void put_bytes(Writer &w, const char *bytes, uint32_t n) {
    for (uint32_t k = 0; k < n; k++) put(w, (unsigned char)bytes[k]);
}

void put_utf8(Writer &w, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0) cp = 0xFFFD;
    if (cp < 0x80) {
        put(w, (unsigned char)cp);
    } else if (cp < 0x800) {
        put(w, (unsigned char)(0xC0 | (cp >> 6)));
        put(w, (unsigned char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        put(w, (unsigned char)(0xE0 | (cp >> 12)));
        put(w, (unsigned char)(0x80 | ((cp >> 6) & 0x3F)));
        put(w, (unsigned char)(0x80 | (cp & 0x3F)));
    } else {
        put(w, (unsigned char)(0xF0 | (cp >> 18)));
        put(w, (unsigned char)(0x80 | ((cp >> 12) & 0x3F)));
        put(w, (unsigned char)(0x80 | ((cp >> 6) & 0x3F)));
        put(w, (unsigned char)(0x80 | (cp & 0x3F)));
    }
}

// Ends the text; its length, or -1 (and "" where there is room) on failure.
int finish(Writer &w) {
    if (w.cap == 0) return -1;
    if (w.failed) {
        w.data[0] = 0;
        return -1;
    }
    w.data[w.length] = 0;
    return (int)w.length;
}

// Leading decimal digits as a number, at most 99999 (0 when none).
int32_t leading_number(const char *text, uint32_t length) {
    int32_t value = 0;
    uint32_t k = 0;
    while (k < length && is_digit((unsigned char)text[k])) {
        if (value < 100000) value = value * 10 + (text[k] - '0');
        k++;
    }
    return value > 99999 ? 0 : value;
}

} // namespace

// -------------------------------------------------------------- [ADDRESSES]

namespace {

// Longest reference worked on, and the room for a merged path.
const uint32_t REFERENCE_MAX = 2048;
const uint32_t PATH_MAX_BYTES = REFERENCE_MAX + MEDIA_ADDRESS_CAP;

struct ReferenceParts {
    bool hasScheme, hasAuthority, hasQuery;
    Span scheme, authority, path, query;
};

// Copies an address as a browser reads it from a page: the whitespace and
// controls at either end go, tabs and line breaks inside go, and a backslash
// before the query counts as a slash.  False when it does not fit.
bool clean_reference(const char *text, uint32_t length, char *out, uint32_t cap, uint32_t *out_length) {
    uint32_t begin = 0, end = length;
    while (begin < end && (unsigned char)text[begin] <= ' ') begin++;
    while (end > begin && (unsigned char)text[end - 1] <= ' ') end--;
    uint32_t n = 0;
    bool in_query = false;
    for (uint32_t k = begin; k < end; k++) {
        char c = text[k];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '?' || c == '#') in_query = true;
        if (c == '\\' && !in_query) c = '/';
        if (n >= cap) return false;
        out[n++] = c;
    }
    *out_length = n;
    return true;
}

void split_address(const char *a, uint32_t n, ReferenceParts *parts) {
    memset(parts, 0, sizeof *parts);
    uint32_t p = 0;
    if (n && is_alpha((unsigned char)a[0])) {
        uint32_t k = 1;
        while (k < n && (is_alpha((unsigned char)a[k]) || is_digit((unsigned char)a[k]) || a[k] == '+' ||
                         a[k] == '-' || a[k] == '.'))
            k++;
        if (k < n && a[k] == ':') {
            parts->hasScheme = true;
            parts->scheme = Span{0, k};
            p = k + 1;
        }
    }
    if (n - p >= 2 && a[p] == '/' && a[p + 1] == '/') {
        uint32_t start = p + 2;
        p = start;
        while (p < n && a[p] != '/' && a[p] != '?' && a[p] != '#') p++;
        parts->hasAuthority = true;
        parts->authority = Span{start, p - start};
    }
    uint32_t path_start = p;
    while (p < n && a[p] != '?' && a[p] != '#') p++;
    parts->path = Span{path_start, p - path_start};
    if (p < n && a[p] == '?') {
        uint32_t query_start = ++p;
        while (p < n && a[p] != '#') p++;
        parts->hasQuery = true;
        parts->query = Span{query_start, p - query_start};
    }
}

bool is_web_scheme(const char *a, Span scheme) {
    return equal_ci(a + scheme.at, scheme.length, "http") || equal_ci(a + scheme.at, scheme.length, "https");
}

bool is_host_byte(unsigned char c) {
    return is_alpha(c) || is_digit(c) || c == '-' || c == '.' || c == '_';
}

// Writes the authority with its host in lower case; false when the host is
// missing or holds what no host name may (spaces, percent signs, bytes of
// international names not yet converted, a bad port).
bool put_authority(Writer &w, const char *a, Span s) {
    uint32_t host = 0;
    for (uint32_t k = 0; k < s.length; k++)
        if (a[s.at + k] == '@') host = k + 1;
    for (uint32_t k = 0; k < host; k++) {
        unsigned char c = (unsigned char)a[s.at + k];
        if (c <= ' ' || c >= 0x7F) return false;
        put(w, c);
    }
    uint32_t k = host;
    if (k < s.length && a[s.at + k] == '[') {
        put(w, '[');
        k++;
        uint32_t digits = 0;
        while (k < s.length && a[s.at + k] != ']') {
            unsigned char c = (unsigned char)a[s.at + k];
            if (hex_value(c) < 0 && c != ':' && c != '.') return false;
            put(w, lower(c));
            k++, digits++;
        }
        if (k >= s.length || digits == 0) return false;
        put(w, ']');
        k++;
    } else {
        uint32_t start = k;
        while (k < s.length && a[s.at + k] != ':') {
            unsigned char c = (unsigned char)a[s.at + k];
            if (!is_host_byte(c)) return false;
            put(w, lower(c));
            k++;
        }
        if (k == start) return false;
    }
    if (k < s.length) {
        if (a[s.at + k] != ':') return false;
        uint32_t digits = s.length - k - 1;
        if (digits > 5) return false;
        for (uint32_t d = k + 1; d < s.length; d++)
            if (!is_digit((unsigned char)a[s.at + d])) return false;
        if (digits) put_bytes(w, a + s.at + k, digits + 1);
    }
    return true;
}

// Bytes that cannot stand in a request line or an address as written are
// sent percent-encoded, as browsers send them.
void put_address_byte(Writer &w, unsigned char c) {
    if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' || c == '}') {
        static const char digits[] = "0123456789ABCDEF";
        put(w, '%');
        put(w, (unsigned char)digits[c >> 4]);
        put(w, (unsigned char)digits[c & 15]);
    } else {
        put(w, c);
    }
}

// Drops "." and ".." segments from path (in place); returns its new length.
uint32_t remove_dot_segments(char *path, uint32_t n) {
    char out[PATH_MAX_BYTES];
    uint32_t o = 0;
    uint32_t i = 0;
    while (i < n) {
        uint32_t left = n - i;
        const char *in = path + i;
        if (left >= 3 && memcmp(in, "../", 3) == 0) {
            i += 3;
        } else if (left >= 2 && memcmp(in, "./", 2) == 0) {
            i += 2;
        } else if (left >= 3 && memcmp(in, "/./", 3) == 0) {
            i += 2;
        } else if (left == 2 && memcmp(in, "/.", 2) == 0) {
            path[i + 1] = '/';
            i += 1;
        } else if ((left >= 4 && memcmp(in, "/../", 4) == 0) || (left == 3 && memcmp(in, "/..", 3) == 0)) {
            if (left == 3) {   // "/.." at the end leaves "/"
                path[i + 2] = '/';
                i += 2;
            } else {
                i += 3;
            }
            while (o > 0 && out[o - 1] != '/') o--;
            if (o > 0) o--;
        } else if ((left == 1 && in[0] == '.') || (left == 2 && memcmp(in, "..", 2) == 0)) {
            i = n;
        } else {
            uint32_t k = i;
            if (path[k] == '/') out[o++] = path[k++];
            while (k < n && path[k] != '/') out[o++] = path[k++];
            i = k;
        }
    }
    memcpy(path, out, o);
    return o;
}

} // namespace

int resolve_address(const char *base, uint32_t base_length, const char *reference, uint32_t reference_length,
                    char *out, uint32_t cap) {
    Writer w = writer(out, cap < MEDIA_ADDRESS_CAP ? cap : MEDIA_ADDRESS_CAP);
    char r[REFERENCE_MAX], b[MEDIA_ADDRESS_CAP];
    uint32_t rn = 0, bn = 0;
    if (!clean_reference(reference, reference_length, r, sizeof r, &rn)) {
        w.failed = true;
        return finish(w);
    }
    ReferenceParts ref, bas;
    split_address(r, rn, &ref);
    const char *scheme_text = r;
    Span scheme = ref.scheme;
    const char *authority_text = r;
    Span authority = ref.authority;
    char path[PATH_MAX_BYTES];
    uint32_t path_length = 0;
    const char *query_text = r;
    bool has_query = ref.hasQuery;
    Span query = ref.query;

    if (ref.hasScheme) {
        if (!ref.hasAuthority) w.failed = true;   // "http:x" names no host
    } else {
        if (!clean_reference(base, base_length, b, sizeof b, &bn)) {
            w.failed = true;
            return finish(w);
        }
        split_address(b, bn, &bas);
        if (!bas.hasScheme || !bas.hasAuthority) {
            w.failed = true;
            return finish(w);
        }
        scheme_text = b;
        scheme = bas.scheme;
        if (!ref.hasAuthority) {
            authority_text = b;
            authority = bas.authority;
        }
    }
    if (w.failed || !is_web_scheme(scheme_text, scheme)) {
        w.failed = true;
        return finish(w);
    }

    // The path: the reference's own, the base's (for a query-only or empty
    // reference), or the reference's merged after the base's last slash.
    if (ref.hasScheme || ref.hasAuthority || (ref.path.length && r[ref.path.at] == '/')) {
        memcpy(path, r + ref.path.at, ref.path.length);
        path_length = ref.path.length;
    } else if (ref.path.length == 0) {
        memcpy(path, b + bas.path.at, bas.path.length);
        path_length = bas.path.length;
        if (!has_query) {
            has_query = bas.hasQuery;
            query_text = b;
            query = bas.query;
        }
    } else {
        uint32_t keep = 0;
        for (uint32_t k = 0; k < bas.path.length; k++)
            if (b[bas.path.at + k] == '/') keep = k + 1;
        if (bas.path.length == 0) {
            path[0] = '/';
            path_length = 1;
        } else {
            memcpy(path, b + bas.path.at, keep);
            path_length = keep;
        }
        memcpy(path + path_length, r + ref.path.at, ref.path.length);
        path_length += ref.path.length;
    }
    path_length = remove_dot_segments(path, path_length);

    for (uint32_t k = 0; k < scheme.length; k++) put(w, lower((unsigned char)scheme_text[scheme.at + k]));
    put_bytes(w, "://", 3);
    if (!put_authority(w, authority_text, authority)) w.failed = true;
    if (path_length == 0) put(w, '/');
    for (uint32_t k = 0; k < path_length; k++) put_address_byte(w, (unsigned char)path[k]);
    if (has_query) {
        put(w, '?');
        for (uint32_t k = 0; k < query.length; k++) put_address_byte(w, (unsigned char)query_text[query.at + k]);
    }
    return finish(w);
}

namespace {

// The path of an address: after "scheme://authority" when it has them, up
// to the query or fragment.
Span address_path(const char *a, uint32_t n) {
    ReferenceParts parts;
    split_address(a, n, &parts);
    return parts.path;
}

} // namespace

int address_is_manifest(const char *address, uint32_t length) {
    Span path = address_path(address, length);
    return path_names_manifest(address + path.at, (int)path.length);
}

// --------------------------------------------------------------- [DECODING]

namespace {

struct NamedEntity {
    const char *name;
    const char *text;
};

// The references pages use in addresses and titles.  Names are matched
// exactly: "&AMP;" is a name of its own, as in HTML.
const NamedEntity NAMED_ENTITIES[] = {
    {"amp", "&"},    {"lt", "<"},     {"gt", ">"},       {"quot", "\""},    {"apos", "'"},
    {"AMP", "&"},    {"LT", "<"},     {"GT", ">"},       {"QUOT", "\""},    {"nbsp", "\xC2\xA0"},
    {"sol", "/"},    {"colon", ":"},  {"equals", "="},   {"quest", "?"},    {"num", "#"},
    {"percnt", "%"}, {"period", "."}, {"lowbar", "_"},   {"hyphen", "-"},   {"commat", "@"},
};

// Decodes the reference at text[at] ('&'); returns the bytes it took, 0
// when it is none this decoder knows (the '&' is then kept as written).
uint32_t decode_entity(const char *text, uint32_t n, uint32_t at, Writer &w) {
    uint32_t p = at + 1;
    if (p < n && text[p] == '#') {
        p++;
        bool hex = p < n && (text[p] == 'x' || text[p] == 'X');
        if (hex) p++;
        uint32_t digits_at = p;
        uint32_t cp = 0;
        while (p < n) {
            int v = hex ? hex_value((unsigned char)text[p]) : (is_digit((unsigned char)text[p]) ? text[p] - '0' : -1);
            if (v < 0) break;
            cp = cp > 0x10FFFF ? cp : cp * (hex ? 16 : 10) + (uint32_t)v;
            p++;
        }
        if (p == digits_at) return 0;
        if (p < n && text[p] == ';') p++;   // pages often leave it out
        put_utf8(w, cp);
        return p - at;
    }
    uint32_t name_at = p;
    while (p < n && p - name_at <= 8 && (is_alpha((unsigned char)text[p]) || is_digit((unsigned char)text[p]))) p++;
    if (p >= n || text[p] != ';') return 0;
    for (const NamedEntity &e : NAMED_ENTITIES) {
        if (strlen(e.name) == p - name_at && memcmp(e.name, text + name_at, p - name_at) == 0) {
            put_bytes(w, e.text, (uint32_t)strlen(e.text));
            return p + 1 - at;
        }
    }
    return 0;
}

void decode_entities_into(Writer &w, const char *text, uint32_t n) {
    uint32_t p = 0;
    while (p < n && !w.failed) {
        if (text[p] == '&') {
            uint32_t used = decode_entity(text, n, p, w);
            if (used) {
                p += used;
                continue;
            }
        }
        put(w, (unsigned char)text[p++]);
    }
}

// Four hex digits at text[at], or -1.
int32_t hex4(const char *text, uint32_t n, uint32_t at) {
    if (at > n || n - at < 4) return -1;
    int32_t v = 0;
    for (uint32_t k = 0; k < 4; k++) {
        int d = hex_value((unsigned char)text[at + k]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

void decode_json_into(Writer &w, const char *text, uint32_t n) {
    uint32_t p = 0;
    while (p < n && !w.failed) {
        if (text[p] != '\\' || p + 1 >= n) {
            put(w, (unsigned char)text[p++]);
            continue;
        }
        char e = text[p + 1];
        const char *simple = strchr("\"\\/bfnrt", e);
        if (e != 0 && simple) {
            static const char replaced[] = "\"\\/\b\f\n\r\t";
            put(w, (unsigned char)replaced[simple - "\"\\/bfnrt"]);
            p += 2;
            continue;
        }
        int32_t unit = e == 'u' ? hex4(text, n, p + 2) : -1;
        if (unit < 0) {   // not an escape JSON knows: kept as written
            put(w, '\\');
            p++;
            continue;
        }
        p += 6;
        uint32_t cp = (uint32_t)unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && p + 1 < n && text[p] == '\\' && text[p + 1] == 'u') {
            int32_t low = hex4(text, n, p + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + (((uint32_t)unit - 0xD800) << 10) + ((uint32_t)low - 0xDC00);
                p += 6;
            }
        }
        put_utf8(w, cp);   // a lone surrogate becomes U+FFFD
    }
}

} // namespace

int decode_html_entities(const char *text, uint32_t length, char *out, uint32_t cap) {
    Writer w = writer(out, cap);
    decode_entities_into(w, text, length);
    return finish(w);
}

int decode_json_escapes(const char *text, uint32_t length, char *out, uint32_t cap) {
    Writer w = writer(out, cap);
    decode_json_into(w, text, length);
    return finish(w);
}

// ---------------------------------------------------------------- [SCANNER]
//
// The scanner finds tags the way a browser would for the few elements read
// here: comments are skipped, attribute values may be quoted either way or
// not at all, and the contents of script, style, title and textarea are text
// (handed over whole, never searched for tags).  A tag cut off by the end of
// the bytes ends the scan.

namespace {

const int TAG_ATTRIBUTES_MAX = 32;

struct TagAttribute {
    Span name;
    Span value;
};

struct ScannedTag {
    Span name;
    bool closing;
    int attributeCount;
    TagAttribute attributes[TAG_ATTRIBUTES_MAX];
    Span content;   // text of a script, style, title or textarea
};

bool tag_is(const char *page, const ScannedTag &tag, const char *name) {
    return equal_ci(page + tag.name.at, tag.name.length, name);
}

bool is_raw_text(const char *page, const ScannedTag &tag) {
    return tag_is(page, tag, "script") || tag_is(page, tag, "style") || tag_is(page, tag, "title") ||
           tag_is(page, tag, "textarea");
}

// The value of the tag's first attribute called name, trimmed.
bool attribute(const char *page, const ScannedTag &tag, const char *name, Span *value) {
    for (int k = 0; k < tag.attributeCount; k++) {
        if (equal_ci(page + tag.attributes[k].name.at, tag.attributes[k].name.length, name)) {
            *value = trim(page, tag.attributes[k].value);
            return true;
        }
    }
    return false;
}

// Reads the tag whose '<' is at p; false when it is cut off by the end.
bool read_tag(const char *t, uint32_t n, uint32_t p, ScannedTag *tag, uint32_t *end) {
    uint32_t q = p + 1;
    tag->closing = t[q] == '/';
    if (tag->closing) q++;
    uint32_t name_at = q;
    while (q < n && !is_space((unsigned char)t[q]) && t[q] != '/' && t[q] != '>') q++;
    tag->name = Span{name_at, q - name_at};
    tag->attributeCount = 0;
    tag->content = Span{0, 0};
    for (;;) {
        while (q < n && (is_space((unsigned char)t[q]) || t[q] == '/')) q++;
        if (q >= n) return false;
        if (t[q] == '>') {
            *end = q + 1;
            return true;
        }
        uint32_t attribute_at = q++;
        while (q < n && !is_space((unsigned char)t[q]) && t[q] != '/' && t[q] != '>' && t[q] != '=') q++;
        Span name{attribute_at, q - attribute_at};
        Span value{q, 0};
        while (q < n && is_space((unsigned char)t[q])) q++;
        if (q < n && t[q] == '=') {
            q++;
            while (q < n && is_space((unsigned char)t[q])) q++;
            if (q >= n) return false;
            if (t[q] == '"' || t[q] == '\'') {
                const void *close = memchr(t + q + 1, t[q], n - q - 1);
                if (!close) return false;
                uint32_t close_at = (uint32_t)((const char *)close - t);
                value = Span{q + 1, close_at - q - 1};
                q = close_at + 1;
            } else {
                uint32_t value_at = q;
                while (q < n && !is_space((unsigned char)t[q]) && t[q] != '>') q++;
                value = Span{value_at, q - value_at};
            }
        }
        if (tag->attributeCount < TAG_ATTRIBUTES_MAX) tag->attributes[tag->attributeCount++] = TagAttribute{name, value};
    }
}

// Where the end tag of the raw text element called name begins, from p on;
// n when it never comes.
uint32_t raw_text_end(const char *t, uint32_t n, uint32_t p, Span name) {
    for (uint32_t q = p; q + 2 + name.length <= n; q++) {
        if (t[q] != '<' || t[q + 1] != '/') continue;
        bool same = true;
        for (uint32_t k = 0; k < name.length && same; k++)
            same = lower((unsigned char)t[q + 2 + k]) == lower((unsigned char)t[name.at + k]);
        uint32_t after = q + 2 + name.length;
        if (same && (after >= n || is_space((unsigned char)t[after]) || t[after] == '>' || t[after] == '/'))
            return q;
    }
    return n;
}

// The next tag from *cursor on (a start or an end tag); false when there
// is none before the end.
bool next_tag(const char *t, uint32_t n, uint32_t *cursor, ScannedTag *tag) {
    uint32_t p = *cursor;
    while (p < n) {
        const void *open = memchr(t + p, '<', n - p);
        if (!open) break;
        p = (uint32_t)((const char *)open - t);
        if (at_ci(t, n, p, "<!--")) {
            uint32_t end = find_ci(t, n, p + 2, "-->");   // "<!-->" is a whole comment
            p = end == NOT_FOUND ? n : end + 3;
            continue;
        }
        if (p + 1 < n && (t[p + 1] == '!' || t[p + 1] == '?')) {
            const void *close = memchr(t + p, '>', n - p);
            p = close ? (uint32_t)((const char *)close - t) + 1 : n;
            continue;
        }
        uint32_t name_at = p + 1 + (p + 1 < n && t[p + 1] == '/');
        if (name_at >= n || !is_alpha((unsigned char)t[name_at])) {
            p++;
            continue;
        }
        uint32_t end = 0;
        if (!read_tag(t, n, p, tag, &end)) break;
        p = end;
        if (!tag->closing && is_raw_text(t, *tag)) {
            uint32_t close = raw_text_end(t, n, p, tag->name);
            tag->content = Span{p, close - p};
            const void *gt = close < n ? memchr(t + close, '>', n - close) : nullptr;
            p = gt ? (uint32_t)((const char *)gt - t) + 1 : n;
        }
        *cursor = p;
        return true;
    }
    *cursor = n;
    return false;
}

} // namespace

// ---------------------------------------------------------------- [JSON-LD]

namespace {

// A candidate as found, before it is decoded and resolved: where its text
// stands in the page and what was declared beside it.
struct FoundMedia {
    Span value;
    Span type;         // declared media type, may be empty
    int32_t height;
    int32_t source;    // MediaSource
    uint32_t order;    // position in the page
    bool json;         // the value is JSON string contents
    bool needsVideo;   // og: kept only with a video type or a media extension
};

const int FOUND_MAX = 64;

struct FoundList {
    FoundMedia items[FOUND_MAX];
    int count;
};

// Keeps a find; a full list gives up its worst kind for a better one.
void add_found(FoundList &list, const FoundMedia &found) {
    if (found.value.length == 0) return;
    if (list.count < FOUND_MAX) {
        list.items[list.count++] = found;
        return;
    }
    int worst = 0;
    for (int k = 1; k < FOUND_MAX; k++)
        if (list.items[k].source >= list.items[worst].source) worst = k;
    if (list.items[worst].source > found.source) list.items[worst] = found;
}

// Nesting deeper than this is stepped over without being searched.
const int JSON_DEPTH_MAX = 24;

struct JsonWalk {
    const char *t;
    uint32_t n;   // the end of the script's text
    uint32_t p;
    FoundList *found;
};

void skip_json_space(JsonWalk &j) {
    while (j.p < j.n && is_space((unsigned char)j.t[j.p])) j.p++;
}

// Inside an object or an array: steps over space, then over close when it
// stands next.  -1 when the text ends first, 1 when close was taken, 0 when
// a member or an element follows.
int json_close(JsonWalk &j, char close) {
    skip_json_space(j);
    if (j.p >= j.n) return -1;
    if (j.t[j.p] != close) return 0;
    j.p++;
    return 1;
}

// At a '"': the string's contents (escapes as written).
bool json_string(JsonWalk &j, Span *s) {
    uint32_t q = j.p + 1;
    while (q < j.n && j.t[q] != '"') q += j.t[q] == '\\' ? 2 : 1;
    if (q >= j.n) return false;
    *s = Span{j.p + 1, q - j.p - 1};
    j.p = q + 1;
    return true;
}

bool is_json_delimiter(char c) {
    return c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}' || c == '"';
}

// Steps over any value without looking into it (no recursion).
bool skip_json_value(JsonWalk &j) {
    int depth = 0;
    do {
        skip_json_space(j);
        if (j.p >= j.n) return false;
        char c = j.t[j.p];
        if (c == '"') {
            Span s;
            if (!json_string(j, &s)) return false;
        } else if (c == '{' || c == '[') {
            depth++;
            j.p++;
        } else if (c == '}' || c == ']') {
            if (--depth < 0) return false;
            j.p++;
        } else if (c == ',' || c == ':') {
            if (depth == 0) return false;
            j.p++;
        } else {
            // A number, a literal or anything else up to the next delimiter
            // (a NUL among them counts as part of it).
            uint32_t from = j.p;
            while (j.p < j.n && !is_space((unsigned char)j.t[j.p]) && !is_json_delimiter(j.t[j.p])) j.p++;
            if (j.p == from) return false;
        }
    } while (depth > 0);
    return true;
}

// True when a @type names a VideoObject or an AudioObject, bare or as a
// full name ("schema:VideoObject", "https://schema.org/VideoObject").
bool is_media_object_type(const char *t, Span s) {
    static const char *const names[] = {"videoobject", "audioobject"};
    for (const char *name : names) {
        uint32_t n = (uint32_t)strlen(name);
        if (s.length < n || !equal_ci(t + s.at + s.length - n, n, name)) continue;
        if (s.length == n) return true;
        char before = t[s.at + s.length - n - 1];
        if (before == ':' || before == '/') return true;
    }
    return false;
}

bool json_value(JsonWalk &j, int depth);

// An object: its members are searched, and when it is a VideoObject with a
// contentUrl, that address is kept with its height and encoding format.
bool json_object(JsonWalk &j, int depth) {
    j.p++;
    bool media = false;
    FoundMedia found{};
    found.source = MEDIA_FROM_JSON_LD;
    found.json = true;
    for (;;) {
        int end = json_close(j, '}');
        if (end < 0) return false;
        if (end) break;
        Span key;
        if (j.t[j.p] != '"' || !json_string(j, &key)) return false;
        skip_json_space(j);
        if (j.p >= j.n || j.t[j.p] != ':') return false;
        j.p++;
        skip_json_space(j);
        if (j.p >= j.n) return false;
        const char *k = j.t + key.at;
        char first = j.t[j.p];
        if (equal_ci(k, key.length, "@type") && first == '"') {
            Span s;
            if (!json_string(j, &s)) return false;
            media = media || is_media_object_type(j.t, s);
        } else if (equal_ci(k, key.length, "@type") && first == '[') {
            j.p++;
            for (;;) {
                int end = json_close(j, ']');
                if (end < 0) return false;
                if (end) break;
                if (j.t[j.p] == ',') {
                    j.p++;
                    continue;
                }
                Span s;
                if (j.t[j.p] == '"') {
                    if (!json_string(j, &s)) return false;
                    media = media || is_media_object_type(j.t, s);
                } else if (!skip_json_value(j)) {
                    return false;
                }
            }
        } else if (equal_ci(k, key.length, "contenturl") && first == '"') {
            if (!json_string(j, &found.value)) return false;
            found.order = found.value.at;
        } else if (equal_ci(k, key.length, "encodingformat") && first == '"') {
            if (!json_string(j, &found.type)) return false;
        } else if (equal_ci(k, key.length, "height") && (first == '"' || is_digit((unsigned char)first))) {
            Span s{j.p, 0};
            if (first == '"') {
                if (!json_string(j, &s)) return false;
            } else {
                if (!skip_json_value(j)) return false;
                s.length = j.p - s.at;
            }
            found.height = leading_number(j.t + s.at, s.length);
        } else if (!json_value(j, depth + 1)) {
            return false;
        }
        skip_json_space(j);
        if (j.p < j.n && j.t[j.p] == ',') j.p++;
    }
    if (media) add_found(*j.found, found);
    return true;
}

bool json_value(JsonWalk &j, int depth) {
    skip_json_space(j);
    if (j.p >= j.n) return false;
    if (depth > JSON_DEPTH_MAX) return skip_json_value(j);
    if (j.t[j.p] == '{') return json_object(j, depth);
    if (j.t[j.p] != '[') return skip_json_value(j);
    j.p++;
    for (;;) {
        int end = json_close(j, ']');
        if (end < 0) return false;
        if (end) return true;
        if (j.t[j.p] == ',') {
            j.p++;
            continue;
        }
        if (!json_value(j, depth + 1)) return false;
    }
}

// Every value in the script's text (some pages put several one after the
// other, with or without commas); malformed text ends the walk, keeping
// what came before.
void scan_json_ld(const char *page, Span content, FoundList &found) {
    JsonWalk j{page, content.at + content.length, content.at, &found};
    for (;;) {
        skip_json_space(j);
        if (j.p < j.n && j.t[j.p] == ',') j.p++;
        skip_json_space(j);
        if (j.p >= j.n || !json_value(j, 0)) return;
    }
}

} // namespace

// ------------------------------------------------------------- [PAGE MEDIA]

namespace {

// Open Graph video properties come in groups: og:video (or og:video:url)
// starts one and the properties after it describe it.
const int OG_GROUPS_MAX = 8;

struct OgGroup {
    Span secure, url, video, type;
    int32_t height;
};

// The height a value states from its start: "720", "720px" or "1080p"; 0
// for anything else, so a share of the layout ("100%") is no height.
int32_t height_at_start(const char *v, uint32_t length) {
    int32_t h = leading_number(v, length);
    uint32_t digits = 0;
    while (digits < length && is_digit((unsigned char)v[digits])) digits++;
    return h > 0 && (digits == length || lower((unsigned char)v[digits]) == 'p') ? h : 0;
}

// The height a <video>, <audio> or <source> declares: a number attribute,
// else a label such as "HD 720p" or "1080".
int32_t declared_height(const char *page, const ScannedTag &tag) {
    static const char *const numbers[] = {"height", "data-height", "res", "data-res", "size"};
    static const char *const labels[] = {"label", "data-label", "data-quality", "title"};
    Span v;
    for (const char *name : numbers) {
        if (!attribute(page, tag, name, &v)) continue;
        int32_t h = height_at_start(page + v.at, v.length);
        if (h > 0) return h;
    }
    for (const char *name : labels) {
        if (!attribute(page, tag, name, &v)) continue;
        // "1080" and "1080p" count from the start, "HD 720p" by its "p".
        int32_t h = height_at_start(page + v.at, v.length);
        if (h > 0) return h;
        for (uint32_t k = 1; k < v.length; k++) {
            if (lower((unsigned char)page[v.at + k]) != 'p' || !is_digit((unsigned char)page[v.at + k - 1])) continue;
            uint32_t from = k;
            while (from > 0 && is_digit((unsigned char)page[v.at + from - 1])) from--;
            h = leading_number(page + v.at + from, k - from);
            if (h > 0) return h;
        }
    }
    return 0;
}

bool is_manifest_type(const char *t, uint32_t n) {
    Span s = trim(t, Span{0, n});
    for (uint32_t k = 0; k < s.length; k++)
        if (t[s.at + k] == ';') s = trim(t, Span{s.at, k});
    const char *v = t + s.at;
    return equal_ci(v, s.length, "application/vnd.apple.mpegurl") || equal_ci(v, s.length, "application/x-mpegurl") ||
           equal_ci(v, s.length, "audio/mpegurl") || equal_ci(v, s.length, "audio/x-mpegurl") ||
           equal_ci(v, s.length, "application/dash+xml") || equal_ci(v, s.length, "application/f4m+xml") ||
           equal_ci(v, s.length, "application/vnd.ms-sstr+xml");
}

// Takes what one tag declares into the lists.
void take_tag(const char *page, const ScannedTag &tag, bool in_media, FoundList &found, OgGroup *groups,
              int *group_count) {
    if (tag.closing) return;
    if (tag_is(page, tag, "video") || tag_is(page, tag, "audio") || (in_media && tag_is(page, tag, "source"))) {
        FoundMedia f{};
        f.source = MEDIA_FROM_TAG;
        f.height = declared_height(page, tag);
        attribute(page, tag, "type", &f.type);
        static const char *const names[] = {"src", "data-src"};
        for (const char *name : names) {
            if (!attribute(page, tag, name, &f.value)) continue;
            f.order = f.value.at;
            add_found(found, f);
        }
        return;
    }
    if (!tag_is(page, tag, "meta")) return;
    Span property, content;
    if (!attribute(page, tag, "content", &content)) return;
    if (!attribute(page, tag, "property", &property) && !attribute(page, tag, "name", &property)) return;
    const char *p = page + property.at;
    uint32_t n = property.length;
    if (equal_ci(p, n, "twitter:player:stream")) {
        FoundMedia f{};
        f.source = MEDIA_FROM_TWITTER;
        f.value = content;
        f.order = content.at;
        add_found(found, f);
        return;
    }
    if (equal_ci(p, n, "twitter:player:stream:content_type")) {
        for (int k = found.count - 1; k >= 0; k--)
            if (found.items[k].source == MEDIA_FROM_TWITTER) {
                found.items[k].type = content;
                break;
            }
        return;
    }
    if (!at_ci(p, n, 0, "og:video")) return;
    bool video = equal_ci(p, n, "og:video");
    bool url = equal_ci(p, n, "og:video:url");
    bool secure = equal_ci(p, n, "og:video:secure_url");
    bool type = equal_ci(p, n, "og:video:type");
    bool height = equal_ci(p, n, "og:video:height");
    if (!(video || url || secure || type || height)) return;
    OgGroup *g = *group_count ? &groups[*group_count - 1] : nullptr;
    // A property the current group already has starts the next group.
    bool again = g && ((video && g->video.length) || (url && g->url.length) || (secure && g->secure.length));
    if (!g || again) {
        if (*group_count >= OG_GROUPS_MAX) return;
        g = &groups[(*group_count)++];
        *g = OgGroup{};
    }
    if (video) g->video = content;
    if (url) g->url = content;
    if (secure) g->secure = content;
    if (type && !g->type.length) g->type = content;
    if (height && !g->height) g->height = leading_number(page + content.at, content.length);
}

// Finds the base (the first <base href>) and everything the page declares.
void scan_page(const char *page, uint32_t n, FoundList &found, Span *base, bool *has_base) {
    OgGroup groups[OG_GROUPS_MAX];
    int group_count = 0;
    bool in_media = false;
    uint32_t cursor = 0;
    ScannedTag tag;
    while (next_tag(page, n, &cursor, &tag)) {
        if (tag_is(page, tag, "video") || tag_is(page, tag, "audio")) in_media = !tag.closing;
        if (!tag.closing && !*has_base && tag_is(page, tag, "base") && attribute(page, tag, "href", base))
            *has_base = true;
        Span type;
        if (tag_is(page, tag, "script") && !tag.closing && attribute(page, tag, "type", &type)) {
            for (uint32_t k = 0; k < type.length; k++)   // "application/ld+json; charset=utf-8"
                if (page[type.at + k] == ';') type = trim(page, Span{type.at, k});
            if (equal_ci(page + type.at, type.length, "application/ld+json")) scan_json_ld(page, tag.content, found);
        }
        take_tag(page, tag, in_media, found, groups, &group_count);
    }
    // og:video:secure_url of every group first, then og:video:url, then og:video.
    for (int source = MEDIA_FROM_OG_SECURE; source <= MEDIA_FROM_OG_VIDEO; source++) {
        for (int k = 0; k < group_count; k++) {
            FoundMedia f{};
            f.source = source;
            f.value = source == MEDIA_FROM_OG_SECURE ? groups[k].secure
                      : source == MEDIA_FROM_OG_URL  ? groups[k].url
                                                     : groups[k].video;
            f.type = groups[k].type;
            f.height = groups[k].height;
            f.order = f.value.at;
            f.needsVideo = true;
            add_found(found, f);
        }
    }
}

// The decoded text of a find: JSON escapes first for structured data, then
// HTML references, and "\/" (addresses copied out of scripts) as "/".
int decode_found(const char *page, const FoundMedia &f, char *out, uint32_t cap) {
    char json[REFERENCE_MAX];
    const char *text = page + f.value.at;
    int n = (int)f.value.length;
    if (f.json) {
        n = decode_json_escapes(text, f.value.length, json, sizeof json);
        if (n < 0) return -1;
        text = json;
    }
    n = decode_html_entities(text, (uint32_t)n, out, cap);
    int w = 0;
    for (int r = 0; r < n; r++) {
        if (out[r] == '\\' && r + 1 < n && out[r + 1] == '/') continue;
        out[w++] = out[r];
    }
    if (n >= 0) out[w] = 0;
    return n < 0 ? -1 : w;
}

bool is_mp4(const char *extension) { return strcmp(extension, "mp4") == 0 || strcmp(extension, "m4v") == 0; }

// Better: the larger declared height, then mp4, then what came first.
bool better(const MediaCandidate &a, const MediaCandidate &b) {
    if (a.height != b.height) return a.height > b.height;
    return is_mp4(a.extension) && !is_mp4(b.extension);
}

} // namespace

int find_declared_media(const char *page, uint32_t page_length, const char *page_address, uint32_t address_length,
                        DeclaredMedia *result) {
    result->count = 0;
    result->chosen = -1;
    result->manifestsDropped = 0;
    result->overflow = 0;
    FoundList found;
    found.count = 0;
    Span base_span{0, 0};
    bool has_base = false;
    scan_page(page, page_length, found, &base_span, &has_base);

    // Relative addresses are taken against <base href> (itself taken against
    // the page's address), else against the page's address.
    char base[MEDIA_ADDRESS_CAP];
    char decoded[REFERENCE_MAX];
    int base_length = -1;
    if (has_base) {
        int n = decode_html_entities(page + base_span.at, base_span.length, decoded, sizeof decoded);
        if (n >= 0) base_length = resolve_address(page_address, address_length, decoded, (uint32_t)n, base, sizeof base);
    }
    if (base_length < 0) {
        base_length = (int)(address_length < MEDIA_ADDRESS_CAP ? address_length : 0);
        memcpy(base, page_address, (uint32_t)base_length);
    }

    // Kinds in their order, and within a kind the order of the page.
    for (int a = 1; a < found.count; a++) {
        FoundMedia f = found.items[a];
        int b = a;
        while (b > 0 && (found.items[b - 1].source > f.source ||
                         (found.items[b - 1].source == f.source && found.items[b - 1].order > f.order))) {
            found.items[b] = found.items[b - 1];
            b--;
        }
        found.items[b] = f;
    }

    for (int k = 0; k < found.count; k++) {
        const FoundMedia &f = found.items[k];
        int n = decode_found(page, f, decoded, sizeof decoded);
        if (n <= 0 || decoded[0] == '#') continue;
        char address[MEDIA_ADDRESS_CAP];
        int length = resolve_address(base, (uint32_t)base_length, decoded, (uint32_t)n, address, sizeof address);
        if (length < 0) continue;   // blob:, data:, javascript:, over-long, no host
        const char *type = page + f.type.at;
        if (address_is_manifest(address, (uint32_t)length) || is_manifest_type(type, f.type.length)) {
            result->manifestsDropped++;
            continue;
        }
        const char *extension = media_extension(type, f.type.length, address, (uint32_t)length);
        if (f.needsVideo && !at_ci(type, f.type.length, trim(type, Span{0, f.type.length}).at, "video/") &&
            !media_extension(nullptr, 0, address, (uint32_t)length)[0])
            continue;
        int same = -1;
        for (int c = 0; c < result->count && same < 0; c++)
            if (strcmp(result->candidates[c].address, address) == 0) same = c;
        if (same >= 0) {
            MediaCandidate &c = result->candidates[same];
            if (f.height > c.height) c.height = f.height;
            if (!c.extension[0]) c.extension = extension;
            continue;
        }
        if (result->count >= MEDIA_CANDIDATES_MAX) {
            result->overflow++;
            continue;
        }
        MediaCandidate &c = result->candidates[result->count++];
        memcpy(c.address, address, (uint32_t)length + 1);
        c.height = f.height;
        c.source = f.source;
        c.extension = extension;
    }
    for (int c = 0; c < result->count; c++)
        if (result->chosen < 0 || better(result->candidates[c], result->candidates[result->chosen]))
            result->chosen = c;
    return result->count;
}

// ------------------------------------------------------------------ [NAMES]

namespace {

void put_percent_decoded(Writer &w, const char *t, uint32_t n, bool latin1) {
    for (uint32_t k = 0; k < n; k++) {
        unsigned char c = (unsigned char)t[k];
        if (c == '%' && k + 2 < n && hex_value((unsigned char)t[k + 1]) >= 0 &&
            hex_value((unsigned char)t[k + 2]) >= 0) {
            c = (unsigned char)(hex_value((unsigned char)t[k + 1]) * 16 + hex_value((unsigned char)t[k + 2]));
            k += 2;
        }
        if (latin1 && c >= 0x80)
            put_utf8(w, c);
        else
            put(w, c);
    }
}

// Collapses runs of whitespace (and no-break spaces) to one space and
// trims the ends, in place; returns the new length.
uint32_t collapse_space(char *t, uint32_t n) {
    uint32_t w = 0;
    bool pending = false;
    for (uint32_t r = 0; r < n; r++) {
        bool space = is_space((unsigned char)t[r]);
        if (!space && (unsigned char)t[r] == 0xC2 && r + 1 < n && (unsigned char)t[r + 1] == 0xA0) {
            space = true;
            r++;
        }
        if (space) {
            pending = w > 0;
            continue;
        }
        if (pending) t[w++] = ' ';
        pending = false;
        t[w++] = t[r];
    }
    return w;
}

} // namespace

int name_from_content_disposition(const char *value, uint32_t length, char *out, uint32_t cap) {
    Span plain{0, 0}, extended{0, 0};
    bool has_plain = false, has_extended = false, plain_quoted = false;
    uint32_t p = 0;
    while (p < length && value[p] != ';') p++;   // the disposition type
    while (p < length) {
        while (p < length && (value[p] == ';' || is_space((unsigned char)value[p]))) p++;
        uint32_t name_at = p;
        while (p < length && value[p] != '=' && value[p] != ';') p++;
        Span name = trim(value, Span{name_at, p - name_at});
        if (p >= length || value[p] != '=') continue;
        p++;
        while (p < length && is_space((unsigned char)value[p])) p++;
        Span v{p, 0};
        bool quoted = p < length && value[p] == '"';
        if (quoted) {
            uint32_t q = p + 1;
            while (q < length && value[q] != '"') q += value[q] == '\\' ? 2 : 1;
            if (q > length) q = length;
            v = Span{p + 1, q - p - 1};
            p = q < length ? q + 1 : length;
            while (p < length && value[p] != ';') p++;
        } else {
            while (p < length && value[p] != ';') p++;
            v = trim(value, Span{v.at, p - v.at});
        }
        if (equal_ci(value + name.at, name.length, "filename*") && !has_extended) {
            extended = v;
            has_extended = true;
        } else if (equal_ci(value + name.at, name.length, "filename") && !has_plain) {
            plain = v;
            plain_quoted = quoted;
            has_plain = true;
        }
    }
    if (has_extended) {
        // charset'language'percent-encoded bytes
        uint32_t first = NOT_FOUND, second = NOT_FOUND;
        for (uint32_t k = 0; k < extended.length; k++) {
            if (value[extended.at + k] != '\'') continue;
            if (first == NOT_FOUND) {
                first = k;
            } else {
                second = k;
                break;
            }
        }
        const char *charset = value + extended.at;
        bool utf8 = first != NOT_FOUND && (equal_ci(charset, first, "utf-8") || equal_ci(charset, first, "us-ascii"));
        bool latin1 = first != NOT_FOUND && (equal_ci(charset, first, "iso-8859-1") || equal_ci(charset, first, "latin1"));
        if (second != NOT_FOUND && (utf8 || latin1)) {
            Writer w = writer(out, cap);
            put_percent_decoded(w, charset + second + 1, extended.length - second - 1, latin1);
            if (w.length > 0 || w.failed) return finish(w);
        }
    }
    Writer w = writer(out, cap);
    if (has_plain) {
        for (uint32_t k = 0; k < plain.length; k++) {
            if (plain_quoted && value[plain.at + k] == '\\' && k + 1 < plain.length) k++;
            put(w, (unsigned char)value[plain.at + k]);
        }
    }
    if (w.length == 0) w.failed = true;
    return finish(w);
}

int page_title(const char *page, uint32_t length, char *out, uint32_t cap) {
    Span og{0, 0}, title{0, 0};
    bool has_og = false, has_title = false;
    uint32_t cursor = 0;
    ScannedTag tag;
    while (next_tag(page, length, &cursor, &tag)) {
        if (tag.closing) continue;
        Span property, content;
        if (!has_og && tag_is(page, tag, "meta") && attribute(page, tag, "content", &content) &&
            (attribute(page, tag, "property", &property) || attribute(page, tag, "name", &property)) &&
            equal_ci(page + property.at, property.length, "og:title")) {
            og = content;
            has_og = true;
        }
        if (!has_title && tag_is(page, tag, "title")) {
            title = tag.content;
            has_title = true;
        }
    }
    // A long title is cut (at a whole character) rather than refused: the
    // caller shortens names anyway.
    const Span choices[2] = {og, title};
    for (const Span &s : choices) {
        char text[REFERENCE_MAX];
        Writer d = writer(text, sizeof text);
        decode_entities_into(d, page + s.at, s.length);
        uint32_t decoded = d.length;
        if (d.failed) {   // cut off: drop the last character, which may be incomplete
            while (decoded > 0 && ((unsigned char)text[decoded - 1] & 0xC0) == 0x80) decoded--;
            if (decoded > 0) decoded--;
        }
        uint32_t n = collapse_space(text, decoded);
        if (n == 0) continue;
        if (n >= cap) {
            n = cap ? cap - 1 : 0;
            while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
        }
        Writer w = writer(out, cap);
        put_bytes(w, text, n);
        if (w.length) return finish(w);
    }
    Writer w = writer(out, cap);
    w.failed = true;
    return finish(w);
}

int name_from_address(const char *address, uint32_t length, char *out, uint32_t cap) {
    Span path = address_path(address, length);
    uint32_t from = path.at;
    for (uint32_t k = path.at; k < path.at + path.length; k++)
        if (address[k] == '/') from = k + 1;
    Writer w = writer(out, cap);
    put_percent_decoded(w, address + from, path.at + path.length - from, false);
    if (w.length == 0) w.failed = true;
    return finish(w);
}

// ------------------------------------------------------------------ [TYPES]

namespace {

struct TypeExtension {
    const char *type;
    const char *extension;
};

const TypeExtension TYPE_EXTENSIONS[] = {
    {"video/mp4", "mp4"},        {"video/webm", "webm"},     {"video/quicktime", "mov"},
    {"video/x-matroska", "mkv"}, {"audio/mpeg", "mp3"},      {"audio/mp4", "m4a"},
    {"audio/ogg", "ogg"},        {"application/ogg", "ogg"}, {"audio/flac", "flac"},
    {"audio/wav", "wav"},        {"audio/x-wav", "wav"},     {"audio/aac", "aac"},
    {"video/ogg", "ogv"},        {"audio/opus", "opus"},     {"video/x-m4v", "m4v"},
    {"audio/x-m4a", "m4a"},      {"audio/webm", "webm"},     {"audio/x-flac", "flac"},
    {"audio/mp3", "mp3"},        {"audio/wave", "wav"},      {"audio/vnd.wave", "wav"},
};


// The media type without its parameters and surrounding space.
Span bare_type(const char *type, uint32_t n) {
    Span s{0, n};
    for (uint32_t k = 0; k < n; k++)
        if (type[k] == ';') s.length = k;
    return trim(type, s);
}

} // namespace

const char *media_extension(const char *type, uint32_t type_length, const char *address, uint32_t address_length) {
    if (!type) type = "", type_length = 0;
    if (!address) address = "", address_length = 0;
    Span t = bare_type(type, type_length);
    for (const TypeExtension &e : TYPE_EXTENSIONS)
        if (equal_ci(type + t.at, t.length, e.type)) return e.extension;
    Span path = address_path(address, address_length);
    return media_extension_of(address + path.at, (int)path.length);
}

namespace {

// Where text begins after a byte order mark and whitespace.
uint32_t text_start(const char *h, uint32_t n) {
    uint32_t p = at_ci(h, n, 0, "\xEF\xBB\xBF") ? 3 : 0;
    while (p < n && is_space((unsigned char)h[p])) p++;
    return p;
}

bool has_media_signature(const char *h, uint32_t n) {
    return at_ci(h, n, 4, "ftyp") || (n >= 4 && memcmp(h, "\x1A\x45\xDF\xA3", 4) == 0) ||
           (n >= 4 && memcmp(h, "OggS", 4) == 0) || (n >= 3 && memcmp(h, "ID3", 3) == 0) ||
           (n >= 4 && memcmp(h, "fLaC", 4) == 0) ||
           (n >= 12 && memcmp(h, "RIFF", 4) == 0 && memcmp(h + 8, "WAVE", 4) == 0);
}

// A DASH manifest: the root element is MPD, after an XML declaration,
// comments, a byte order mark or whitespace.
bool is_dash_root(const char *h, uint32_t n) {
    uint32_t p = text_start(h, n);
    for (;;) {
        if (at_ci(h, n, p, "<?xml") || at_ci(h, n, p, "<!--")) {
            uint32_t end = find_ci(h, n, p + 2, at_ci(h, n, p, "<?") ? "?>" : "-->");
            if (end == NOT_FOUND) return false;
            p = end + 2;
            while (p < n && (is_space((unsigned char)h[p]) || h[p] == '>')) p++;
            continue;
        }
        uint32_t after = p + 4;
        return at_ci(h, n, p, "<mpd") && (after >= n || is_space((unsigned char)h[after]) || h[after] == '>');
    }
}

// DRM in a playlist: a key line using SAMPLE-AES (FairPlay and its kin) or
// naming a key format other than the plain "identity" one.
bool hls_names_drm(const char *h, uint32_t n) {
    uint32_t p = 0;
    while ((p = find_ci(h, n, p, "#ext-x-")) != NOT_FOUND) {
        uint32_t end = p;
        while (end < n && h[end] != '\n') end++;
        if (at_ci(h, n, p, "#ext-x-key:") || at_ci(h, n, p, "#ext-x-session-key:")) {
            if (find_ci(h, end, p, "method=sample-aes") != NOT_FOUND) return true;
            uint32_t format = find_ci(h, end, p, "keyformat=");
            if (format != NOT_FOUND) {
                uint32_t v = format + 10;
                if (v < end && h[v] == '"') v++;
                if (!at_ci(h, end, v, "identity")) return true;
            }
        }
        p = end;
    }
    return false;
}

// DRM in a DASH manifest (or any text that names a DRM system): a
// ContentProtection element, the common encryption namespace, or the system
// ids of Widevine, PlayReady and FairPlay.
bool text_names_drm(const char *h, uint32_t n) {
    static const char *const markers[] = {
        "<contentprotection", "cenc:", "urn:mpeg:dash:mp4protection",
        "edef8ba9-79d6-4ace-a3c8-27dcd51d21ed", "9a04f079-9840-4286-ab92-e65be0885f95",
        "94ce86fb-07ff-4f43-adb8-93d2fa968ca2", "com.apple.streamingkeydelivery",
    };
    for (const char *m : markers)
        if (find_ci(h, n, 0, m) != NOT_FOUND) return true;
    return false;
}

// An MP4 whose first bytes hold a protection header (pssh) or an encrypted
// sample description (encv, enca) cannot be played once saved.
bool mp4_is_encrypted(const char *h, uint32_t n) {
    static const char *const boxes[] = {"pssh", "encv", "enca"};
    for (const char *box : boxes)
        for (uint32_t p = 4; p + 4 <= n; p++)
            if (memcmp(h + p, box, 4) == 0) return true;
    return false;
}

} // namespace

int media_answer_kind(const char *head, uint32_t head_length, const char *type, uint32_t type_length) {
    if (!head) head = "", head_length = 0;
    if (!type) type = "", type_length = 0;
    const char *h = head;
    uint32_t n = head_length;
    Span t = bare_type(type, type_length);
    const char *tv = type + t.at;
    // The bytes are believed before the label: servers often send media as
    // octet-stream, and error pages under the media's own type.
    if (has_media_signature(h, n)) {
        if (at_ci(h, n, 4, "ftyp") && mp4_is_encrypted(h, n)) return ANSWER_PROTECTED;
        return ANSWER_MEDIA;
    }
    uint32_t start = text_start(h, n);
    bool hls = at_ci(h, n, start, "#extm3u");
    bool dash = is_dash_root(h, n);
    if (hls || dash || is_manifest_type(type, type_length)) {
        if (hls_names_drm(h, n) || text_names_drm(h, n)) return ANSWER_PROTECTED;
        return ANSWER_MANIFEST;
    }
    if (at_ci(h, n, start, "<!doctype html") || at_ci(h, n, start, "<html") || at_ci(h, n, start, "<head") ||
        at_ci(h, n, start, "<body") || at_ci(h, n, start, "<title"))
        return ANSWER_PAGE;
    if (at_ci(tv, t.length, 0, "video/") || at_ci(tv, t.length, 0, "audio/") ||
        equal_ci(tv, t.length, "application/ogg"))
        return ANSWER_MEDIA;
    if (equal_ci(tv, t.length, "text/html") || equal_ci(tv, t.length, "application/xhtml+xml")) return ANSWER_PAGE;
    return ANSWER_UNKNOWN;
}
