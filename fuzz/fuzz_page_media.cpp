// fuzz_page_media.cpp - the page scanner and the address resolver of today's
// pages, with the decoders and name readers beside them, on buffers of
// exactly the size given, so that the address sanitizer sees any read or
// write past what a routine was given.
//
// Input: one byte choosing the routine, then its parameters, then the bytes.
//   0  find_declared_media   address length (1), address, page
//   1  resolve_address       base length (2), base, reference
//   2  the text routines     output capacity (2), text: both decoders, the
//                            three name readers and the two type readers

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "web/page_media.h"

namespace {

// An address as the resolver hands it out: within 511 bytes, http or https
// with a host, and no byte that cannot stand in a request line.
void check_address(const char *a, int length) {
    check(length > 0 && length <= 511, "an address holds 1 to 511 bytes");
    check(strlen(a) == (size_t)length, "the address ends with its NUL");
    check(strncmp(a, "http://", 7) == 0 || strncmp(a, "https://", 8) == 0, "the address is http or https");
    const char *host = a + (a[4] == 's' ? 8 : 7);
    check(*host != 0 && *host != '/' && *host != '?', "the address has a host");
    for (int k = 0; k < length; k++) {
        unsigned char c = (unsigned char)a[k];
        check(c > ' ' && c < 0x7F && c != '#', "no space, control, fragment or byte above ASCII");
    }
}

// Resolving a result again, as an absolute reference or as a base with an
// empty reference, gives it back unchanged.
void check_stable(const char *a, int length) {
    char again[MEDIA_ADDRESS_CAP];
    int n = resolve_address("http://other.test/x/y", 21, a, (uint32_t)length, again, sizeof again);
    check(n == length && memcmp(again, a, (size_t)length) == 0, "a resolved address resolves to itself");
    n = resolve_address(a, (uint32_t)length, "", 0, again, sizeof again);
    check(n == length && memcmp(again, a, (size_t)length) == 0, "an empty reference gives its base");
}

void fuzz_page(FuzzInput in) {
    uint32_t address_length = 0, page_length = 0;
    char *address = in.take(in.u8(), &address_length);
    char *page = in.take((uint32_t)in.size, &page_length);
    DeclaredMedia m;
    memset(&m, 0x5A, sizeof m);
    int count = find_declared_media(page, page_length, address, address_length, &m);
    check(count == m.count && count >= 0 && count <= MEDIA_CANDIDATES_MAX, "the count stays within the list");
    check(m.overflow >= 0 && m.manifestsDropped >= 0, "counters are not negative");
    check(count == 0 ? m.chosen == -1 : (m.chosen >= 0 && m.chosen < count), "the chosen one is listed");
    check(count == MEDIA_CANDIDATES_MAX || m.overflow == 0, "nothing overflows a list with room");
    for (int k = 0; k < count; k++) {
        const MediaCandidate &c = m.candidates[k];
        int length = (int)strnlen(c.address, MEDIA_ADDRESS_CAP);
        check_address(c.address, length);
        check_stable(c.address, length);
        check(!address_is_manifest(c.address, (uint32_t)length), "no manifest is offered");
        check(c.source >= MEDIA_FROM_TAG && c.source <= MEDIA_FROM_OG_VIDEO, "a known source");
        check(k == 0 || c.source >= m.candidates[k - 1].source, "kinds come in order");
        check(c.height >= 0 && c.height <= m.candidates[m.chosen].height, "none is higher than the chosen one");
        check(c.extension != nullptr, "an extension, possibly empty");
        for (int e = 0; e < k; e++) check(strcmp(m.candidates[e].address, c.address) != 0, "no duplicates");
    }
    free(page);
    free(address);
}

void fuzz_resolve(FuzzInput in) {
    uint32_t base_wanted = in.u8();
    base_wanted |= in.u8() << 8;
    uint32_t base_length = 0, reference_length = 0;
    char *base = in.take(base_wanted % 1024, &base_length);
    char *reference = in.take((uint32_t)in.size, &reference_length);
    char out[MEDIA_ADDRESS_CAP + 16];
    memset(out, 'Z', sizeof out);
    int n = resolve_address(base, base_length, reference, reference_length, out, MEDIA_ADDRESS_CAP);
    if (n >= 0) {
        check_address(out, n);
        check_stable(out, n);
    } else {
        check(out[0] == 0, "a failure leaves an empty address");
    }
    for (size_t k = MEDIA_ADDRESS_CAP; k < sizeof out; k++) check(out[k] == 'Z', "nothing written past the cap");
    free(reference);
    free(base);
}

// Runs a writer on text with cap bytes of room (in a block with a guard
// after it): the result fits and ends with its NUL, or is -1 and "".
template <typename F>
void check_writer(F f, const char *text, uint32_t length, uint32_t cap, const char *what) {
    char *out = (char *)malloc(cap + 8);
    memset(out, 'Z', cap + 8);
    int n = f(text, length, out, cap);
    if (n >= 0) {
        check((uint32_t)n < cap && out[n] == 0, what);
    } else if (cap) {
        check(n == -1 && out[0] == 0, what);
    }
    for (uint32_t k = cap; k < cap + 8; k++) check(out[k] == 'Z', "nothing written past the cap");
    free(out);
}

void fuzz_text(FuzzInput in) {
    uint32_t cap = in.u8();
    cap |= in.u8() << 8;
    cap %= 2048;
    uint32_t length = 0;
    char *text = in.take((uint32_t)in.size, &length);
    check_writer(decode_html_entities, text, length, cap, "entities fit their room");
    check_writer(decode_json_escapes, text, length, cap, "escapes fit their room");
    check_writer(name_from_content_disposition, text, length, cap, "a disposition name fits");
    check_writer(page_title, text, length, cap, "a title fits");
    check_writer(name_from_address, text, length, cap, "an address name fits");
    // Decoding never makes text longer.
    char *out = (char *)malloc(length + 1);
    int n = decode_html_entities(text, length, out, length + 1);
    check(n >= 0 && (uint32_t)n <= length, "entities never lengthen text");
    n = decode_json_escapes(text, length, out, length + 1);
    check(n >= 0 && (uint32_t)n <= length, "escapes never lengthen text");
    free(out);
    uint32_t half = length / 2;
    const char *extension = media_extension(text, half, text + half, length - half);
    check(extension != nullptr && strlen(extension) <= 4, "a short extension or none");
    int kind = media_answer_kind(text + half, length - half, text, half);
    check(kind >= ANSWER_UNKNOWN && kind <= ANSWER_PAGE, "a known answer kind");
    free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size};
    switch (in.u8() % 3) {
    case 0: fuzz_page(in); break;
    case 1: fuzz_resolve(in); break;
    case 2: fuzz_text(in); break;
    }
    return 0;
}
