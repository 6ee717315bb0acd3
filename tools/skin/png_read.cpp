// png_read.cpp - PNG decoding: chunks, inflate, scanline filters.
//
// Sections: [INFLATE] [PNG]
#include "tools/skin/png_read.h"

#include <cstdio>
#include <cstring>

// ------------------------------------------------------------- [INFLATE]

namespace {

struct BitReader {
    const uint8_t *data;
    size_t size;
    size_t pos;       // next byte
    uint32_t bits;    // bits not yet used, lowest first
    int count;        // how many
    bool overrun;     // read past the end
};

uint32_t take_bits(BitReader &r, int need) {
    while (r.count < need) {
        uint32_t byte = 0;
        if (r.pos < r.size)
            byte = r.data[r.pos++];
        else
            r.overrun = true;
        r.bits |= byte << r.count;
        r.count += 8;
    }
    uint32_t value = r.bits & ((need == 32) ? 0xFFFFFFFFu : ((1u << need) - 1));
    r.bits = need == 32 ? 0 : r.bits >> need;
    r.count -= need;
    return value;
}

// A canonical Huffman code: how many codes of each length, and the symbols
// in code order.
struct Huffman {
    uint16_t count[16];
    uint16_t symbol[320];
};

// Builds the code from code lengths.  Returns 0 when the lengths
// over-subscribe the code space (a corrupt stream); incomplete codes are
// accepted, as a stream with a single distance code needs.
int build_huffman(Huffman &h, const uint8_t *lengths, int n) {
    std::memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; s++) h.count[lengths[s]]++;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return 0;
    }
    uint16_t offset[16];
    offset[1] = 0;
    for (int len = 1; len < 15; len++) offset[len + 1] = (uint16_t)(offset[len] + h.count[len]);
    for (int s = 0; s < n; s++)
        if (lengths[s]) h.symbol[offset[lengths[s]]++] = (uint16_t)s;
    return 1;
}

// Decodes one symbol, bit by bit; -1 when no code matches.
int decode_symbol(BitReader &r, const Huffman &h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
        code |= (int)take_bits(r, 1);
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
        if (r.overrun) return -1;
    }
    return -1;
}

const uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Decodes the symbols of one compressed block into out.
int inflate_codes(BitReader &r, const Huffman &lit, const Huffman &dist, std::vector<uint8_t> &out) {
    for (;;) {
        int sym = decode_symbol(r, lit);
        if (sym < 0) return 0;
        if (sym < 256) {
            out.push_back((uint8_t)sym);
            continue;
        }
        if (sym == 256) return 1;
        sym -= 257;
        if (sym >= 29) return 0;
        size_t length = LENGTH_BASE[sym] + take_bits(r, LENGTH_EXTRA[sym]);
        int dsym = decode_symbol(r, dist);
        if (dsym < 0 || dsym >= 30) return 0;
        size_t distance = DIST_BASE[dsym] + take_bits(r, DIST_EXTRA[dsym]);
        if (distance > out.size() || r.overrun) return 0;
        size_t from = out.size() - distance;
        for (size_t i = 0; i < length; i++) out.push_back(out[from + i]);
    }
}

int inflate_fixed(BitReader &r, std::vector<uint8_t> &out) {
    uint8_t lengths[288];
    int s = 0;
    for (; s < 144; s++) lengths[s] = 8;
    for (; s < 256; s++) lengths[s] = 9;
    for (; s < 280; s++) lengths[s] = 7;
    for (; s < 288; s++) lengths[s] = 8;
    Huffman lit, dist;
    build_huffman(lit, lengths, 288);
    for (s = 0; s < 30; s++) lengths[s] = 5;
    build_huffman(dist, lengths, 30);
    return inflate_codes(r, lit, dist, out);
}

int inflate_dynamic(BitReader &r, std::vector<uint8_t> &out) {
    static const uint8_t ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen = (int)take_bits(r, 5) + 257;
    int ndist = (int)take_bits(r, 5) + 1;
    int ncode = (int)take_bits(r, 4) + 4;
    if (nlen > 286 || ndist > 30) return 0;
    uint8_t lengths[320];
    std::memset(lengths, 0, sizeof lengths);
    for (int i = 0; i < ncode; i++) lengths[ORDER[i]] = (uint8_t)take_bits(r, 3);
    Huffman code_lengths;
    if (!build_huffman(code_lengths, lengths, 19)) return 0;
    int filled = 0;
    while (filled < nlen + ndist) {
        int sym = decode_symbol(r, code_lengths);
        if (sym < 0) return 0;
        if (sym < 16) {
            lengths[filled++] = (uint8_t)sym;
            continue;
        }
        uint8_t value = 0;
        int repeat;
        if (sym == 16) {
            if (filled == 0) return 0;
            value = lengths[filled - 1];
            repeat = 3 + (int)take_bits(r, 2);
        } else if (sym == 17) {
            repeat = 3 + (int)take_bits(r, 3);
        } else {
            repeat = 11 + (int)take_bits(r, 7);
        }
        if (filled + repeat > nlen + ndist) return 0;
        while (repeat--) lengths[filled++] = value;
    }
    if (lengths[256] == 0) return 0;   // a block must be able to end
    Huffman lit, dist;
    if (!build_huffman(lit, lengths, nlen)) return 0;
    if (!build_huffman(dist, lengths + nlen, ndist)) return 0;
    return inflate_codes(r, lit, dist, out);
}

int inflate_stored(BitReader &r, std::vector<uint8_t> &out) {
    r.bits = 0;   // a stored block starts at the next byte
    r.count = 0;
    if (r.pos + 4 > r.size) return 0;
    unsigned len = r.data[r.pos] | (r.data[r.pos + 1] << 8);
    unsigned nlen = r.data[r.pos + 2] | (r.data[r.pos + 3] << 8);
    r.pos += 4;
    if (len != (~nlen & 0xFFFFu) || r.pos + len > r.size) return 0;
    out.insert(out.end(), r.data + r.pos, r.data + r.pos + len);
    r.pos += len;
    return 1;
}

uint32_t adler32(const std::vector<uint8_t> &bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

}  // namespace

int zlib_inflate(const uint8_t *data, size_t size, std::vector<uint8_t> *out) {
    out->clear();
    if (size < 6) return 0;
    // Header: deflate method, a window of at most 32 KB, no preset
    // dictionary, and the check bits.
    if ((data[0] & 0x0F) != 8 || (data[0] >> 4) > 7 || (data[1] & 0x20) ||
        ((data[0] << 8) | data[1]) % 31 != 0)
        return 0;
    BitReader r = {data, size, 2, 0, 0, false};
    int last = 0;
    while (!last) {
        last = (int)take_bits(r, 1);
        int type = (int)take_bits(r, 2);
        int ok = type == 0 ? inflate_stored(r, *out)
               : type == 1 ? inflate_fixed(r, *out)
               : type == 2 ? inflate_dynamic(r, *out)
                           : 0;
        if (!ok || r.overrun) return 0;
    }
    // The Adler-32 of the data follows at the next byte boundary.
    size_t at = r.pos;
    if (at + 4 > size) return 0;
    uint32_t stored = ((uint32_t)data[at] << 24) | ((uint32_t)data[at + 1] << 16) |
                      ((uint32_t)data[at + 2] << 8) | data[at + 3];
    return stored == adler32(*out) ? 1 : 0;
}

// ----------------------------------------------------------------- [PNG]

namespace {

uint32_t be32(const uint8_t *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

uint32_t crc32_of(const uint8_t *p, size_t n) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

int paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

}  // namespace

int png_decode(const uint8_t *data, size_t size, std::vector<uint32_t> *pixels, int *width,
               int *height) {
    static const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size < 8 || std::memcmp(data, SIGNATURE, 8) != 0) return 0;
    uint32_t w = 0, h = 0;
    int colour_type = -1;
    uint32_t palette[256];
    int palette_size = 0;
    for (int i = 0; i < 256; i++) palette[i] = 0xFF000000u;
    std::vector<uint8_t> compressed;
    bool ended = false;
    size_t at = 8;
    while (!ended) {
        if (at + 12 > size) return 0;
        uint32_t len = be32(data + at);
        const uint8_t *type = data + at + 4;
        const uint8_t *body = data + at + 8;
        if (len > size - at - 12) return 0;
        if (crc32_of(type, (size_t)len + 4) != be32(body + len)) return 0;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (len != 13) return 0;
            w = be32(body);
            h = be32(body + 4);
            colour_type = body[9];
            // bit depth 8, deflate, standard filters, no interlacing
            if (body[8] != 8 || body[10] != 0 || body[11] != 0 || body[12] != 0) return 0;
            if (w == 0 || h == 0 || w > 16384 || h > 16384) return 0;
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            if (len % 3 || len > 768) return 0;
            palette_size = (int)(len / 3);
            for (int i = 0; i < palette_size; i++)
                palette[i] = 0xFF000000u | ((uint32_t)body[3 * i] << 16) | ((uint32_t)body[3 * i + 1] << 8) |
                             body[3 * i + 2];
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            if (colour_type == 3)
                for (uint32_t i = 0; i < len && i < 256; i++)
                    palette[i] = (palette[i] & 0x00FFFFFFu) | ((uint32_t)body[i] << 24);
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), body, body + len);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            ended = true;
        } else if (!(type[0] & 0x20)) {
            return 0;   // an unknown chunk that a reader may not skip
        }
        at += (size_t)len + 12;
    }
    int channels = colour_type == 0 ? 1 : colour_type == 2 ? 3 : colour_type == 3 ? 1
                 : colour_type == 4 ? 2 : colour_type == 6 ? 4 : 0;
    if (channels == 0 || (colour_type == 3 && palette_size == 0)) return 0;

    std::vector<uint8_t> raw;
    if (!zlib_inflate(compressed.data(), compressed.size(), &raw)) return 0;
    const size_t stride = (size_t)w * (size_t)channels;
    if (raw.size() != (stride + 1) * h) return 0;

    // Undo the scanline filters in place.
    for (uint32_t y = 0; y < h; y++) {
        uint8_t *line = &raw[y * (stride + 1)];
        const uint8_t *prev = y ? &raw[(y - 1) * (stride + 1) + 1] : nullptr;
        uint8_t filter = line[0];
        uint8_t *cur = line + 1;
        for (size_t i = 0; i < stride; i++) {
            int a = i >= (size_t)channels ? cur[i - channels] : 0;
            int b = prev ? prev[i] : 0;
            int c = (prev && i >= (size_t)channels) ? prev[i - channels] : 0;
            int add;
            switch (filter) {
            case 0: add = 0; break;
            case 1: add = a; break;
            case 2: add = b; break;
            case 3: add = (a + b) / 2; break;
            case 4: add = paeth(a, b, c); break;
            default: return 0;
            }
            cur[i] = (uint8_t)(cur[i] + add);
        }
    }

    pixels->assign((size_t)w * h, 0);
    for (uint32_t y = 0; y < h; y++) {
        const uint8_t *cur = &raw[y * (stride + 1) + 1];
        for (uint32_t x = 0; x < w; x++) {
            const uint8_t *px = cur + (size_t)x * channels;
            uint32_t v;
            switch (colour_type) {
            case 0: v = 0xFF000000u | (px[0] << 16) | (px[0] << 8) | px[0]; break;
            case 2: v = 0xFF000000u | (px[0] << 16) | (px[1] << 8) | px[2]; break;
            case 3:
                if (px[0] >= palette_size) return 0;
                v = palette[px[0]];
                break;
            case 4: v = ((uint32_t)px[1] << 24) | (px[0] << 16) | (px[0] << 8) | px[0]; break;
            default: v = ((uint32_t)px[3] << 24) | (px[0] << 16) | (px[1] << 8) | px[2]; break;
            }
            (*pixels)[(size_t)y * w + x] = v;
        }
    }
    *width = (int)w;
    *height = (int)h;
    return 1;
}

int png_read_file(const char *path, std::vector<uint32_t> *pixels, int *width, int *height) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return 0;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return png_decode(bytes.data(), bytes.size(), pixels, width, height);
}
