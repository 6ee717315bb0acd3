// skin_encode.cpp - build-time encoder of the program's pictures.
//
// Usage: skin_encode <skin.png> <window icon.png> <tray icon.png> <out.cpp>
//        skin_encode --files <skin.png> <window icon.png> <tray icon.png> <out folder>
//
// Turns the committed skin picture into the run words the program decodes at
// start-up (display/skin_codec.h: bottom row first, one word per run of up
// to 256 equal pixels, the repeat count scrambled by a key that grows by 3
// per word) and the two icons into 32-bit pixel arrays, and writes them as a
// C++ source.  With --files it writes them as files for a resource compiler
// instead: skin.bin (the run words, little-endian) and icon_window.ico,
// icon_tray.ico (32-bit icons with an AND mask).  Fails (exit status 1) on a
// picture of the wrong size.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/skin_codec.h"
#include "tools/skin/png_read.h"

namespace {

const int SKIN_WIDTH = 472;
const int SKIN_HEIGHT = 487;

// Encodes pixels (top row first) as run words, bottom row first.
std::vector<uint32_t> encode_runs(const std::vector<uint32_t> &pixels, int width, int height) {
    const SkinCodec codec = skin_codec();
    std::vector<uint32_t> flat;
    flat.reserve(pixels.size());
    for (int y = height - 1; y >= 0; y--)
        for (int x = 0; x < width; x++) flat.push_back(pixels[(size_t)y * width + x] & 0x00FFFFFFu);

    std::vector<uint32_t> words;
    uint32_t key = codec.key_start;
    size_t i = 0;
    while (i < flat.size()) {
        uint32_t colour = flat[i];
        uint32_t repeat = 0;   // pixels after the first
        while (repeat < codec.mask && i + 1 + repeat < flat.size() && flat[i + 1 + repeat] == colour) repeat++;
        uint32_t field = (repeat ^ key) & codec.mask;
        words.push_back((field << codec.shift) | colour);
        key += 3;
        i += 1 + repeat;
    }
    return words;
}

void write_bytes(FILE *out, const char *name, const std::vector<uint32_t> &words) {
    std::fprintf(out, "alignas(4) extern const uint8_t %s[] = {", name);
    for (size_t i = 0; i < words.size(); i++) {
        if (i % 6 == 0) std::fprintf(out, "\n   ");
        uint32_t w = words[i];   // little-endian bytes
        std::fprintf(out, " 0x%02x,0x%02x,0x%02x,0x%02x,", w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24);
    }
    std::fprintf(out, "\n};\nextern const uint32_t %s_size = %zu;\n\n", name, words.size() * 4);
}

void write_icon(FILE *out, const char *name, const std::vector<uint32_t> &pixels, int w, int h) {
    std::fprintf(out, "extern const uint32_t %s[] = {", name);
    for (size_t i = 0; i < pixels.size(); i++) {
        if (i % 8 == 0) std::fprintf(out, "\n   ");
        std::fprintf(out, " 0x%08xu,", pixels[i]);
    }
    std::fprintf(out, "\n};\nextern const int %s_width = %d;\nextern const int %s_height = %d;\n\n", name, w,
                 name, h);
}

// Writes bytes to path through a temporary file, so that an interrupted
// build never leaves half a file that looks up to date.
bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::string tmp = path + ".tmp";
    FILE *out = std::fopen(tmp.c_str(), "wb");
    if (!out) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = std::fflush(out) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

void put16(std::vector<uint8_t> *out, uint32_t v) {
    out->push_back((uint8_t)v);
    out->push_back((uint8_t)(v >> 8));
}

void put32(std::vector<uint8_t> *out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// An icon file holding one 32-bit image: the directory, then the image as a
// bitmap of twice the height (colour rows bottom-up, then the 1-bit AND
// mask, its rows padded to 32 bits).  A mask bit is set where the pixel is
// fully transparent, for systems that draw icons through the mask.  A
// picture without any alpha is taken as opaque, as the Linux backend does.
std::vector<uint8_t> icon_file(const std::vector<uint32_t> &pixels, int w, int h) {
    bool any_alpha = false;
    for (uint32_t p : pixels) any_alpha = any_alpha || (p >> 24) != 0;
    const uint32_t mask_stride = (uint32_t)((w + 31) / 32) * 4;
    const uint32_t image_size = 40 + (uint32_t)(w * h) * 4 + mask_stride * (uint32_t)h;
    std::vector<uint8_t> out;
    put16(&out, 0);   // reserved
    put16(&out, 1);   // an icon
    put16(&out, 1);   // one image
    out.push_back((uint8_t)(w >= 256 ? 0 : w));
    out.push_back((uint8_t)(h >= 256 ? 0 : h));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(&out, 1);    // planes
    put16(&out, 32);   // bits per pixel
    put32(&out, image_size);
    put32(&out, 6 + 16);   // the image follows the directory
    put32(&out, 40);   // BITMAPINFOHEADER
    put32(&out, (uint32_t)w);
    put32(&out, (uint32_t)(h * 2));
    put16(&out, 1);
    put16(&out, 32);
    put32(&out, 0);    // uncompressed
    put32(&out, image_size - 40);
    for (int i = 0; i < 4; i++) put32(&out, 0);
    for (int y = h - 1; y >= 0; y--)
        for (int x = 0; x < w; x++) {
            uint32_t p = pixels[(size_t)y * w + x];
            put32(&out, any_alpha ? p : (p | 0xFF000000u));
        }
    for (int y = h - 1; y >= 0; y--) {
        std::vector<uint8_t> row(mask_stride, 0);
        for (int x = 0; x < w; x++)
            if (any_alpha && (pixels[(size_t)y * w + x] >> 24) == 0) row[x / 8] |= (uint8_t)(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> word_bytes(const std::vector<uint32_t> &words) {
    std::vector<uint8_t> out;
    out.reserve(words.size() * 4);
    for (uint32_t w : words) put32(&out, w);
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    const bool files = argc == 6 && std::strcmp(argv[1], "--files") == 0;
    if (files) {
        argc--;
        argv++;
    }
    if (argc != 5) {
        std::fprintf(stderr, "usage: skin_encode [--files] <skin.png> <window icon.png> <tray icon.png> "
                             "<out.cpp | out folder>\n");
        return 2;
    }
    std::vector<uint32_t> skin, window_icon, tray_icon;
    int w = 0, h = 0, ww = 0, wh = 0, tw = 0, th = 0;
    if (!png_read_file(argv[1], &skin, &w, &h)) {
        std::fprintf(stderr, "skin_encode: cannot read %s\n", argv[1]);
        return 1;
    }
    if (w != SKIN_WIDTH || h != SKIN_HEIGHT) {
        std::fprintf(stderr, "skin_encode: %s is %dx%d, not %dx%d\n", argv[1], w, h, SKIN_WIDTH, SKIN_HEIGHT);
        return 1;
    }
    if (!png_read_file(argv[2], &window_icon, &ww, &wh) || !png_read_file(argv[3], &tray_icon, &tw, &th)) {
        std::fprintf(stderr, "skin_encode: cannot read the icons\n");
        return 1;
    }
    std::vector<uint32_t> words = encode_runs(skin, w, h);

    if (files) {
        const std::string dir = argv[4];
        if (!write_file(dir + "/skin.bin", word_bytes(words)) ||
            !write_file(dir + "/icon_window.ico", icon_file(window_icon, ww, wh)) ||
            !write_file(dir + "/icon_tray.ico", icon_file(tray_icon, tw, th))) {
            std::fprintf(stderr, "skin_encode: cannot write into %s\n", dir.c_str());
            return 1;
        }
        std::printf("skin_encode: %zu words (%zu bytes), icons %dx%d and %dx%d\n", words.size(),
                    words.size() * 4, ww, wh, tw, th);
        return 0;
    }

    std::string tmp = std::string(argv[4]) + ".tmp";
    FILE *out = std::fopen(tmp.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "skin_encode: cannot write %s\n", tmp.c_str());
        return 1;
    }
    std::fprintf(out, "// Generated by tools/skin/skin_encode from resources/*.png; do not edit.\n");
    std::fprintf(out, "#include <cstdint>\n\n");
    write_bytes(out, "quorvax_skin_resource", words);
    write_icon(out, "quorvax_icon_window", window_icon, ww, wh);
    write_icon(out, "quorvax_icon_tray", tray_icon, tw, th);
    bool ok = std::fflush(out) == 0 && !std::ferror(out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), argv[4]) != 0) {
        std::fprintf(stderr, "skin_encode: cannot write %s\n", argv[4]);
        std::remove(tmp.c_str());
        return 1;
    }
    std::printf("skin_encode: %zu words (%zu bytes)\n", words.size(), words.size() * 4);
    return 0;
}
