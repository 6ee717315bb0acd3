// png_read.h - a small PNG reader for the build-time resource encoder and
// the tests that compare the encoded skin with its picture.
//
// Reads non-interlaced PNG files of bit depth 8 in the grey, grey+alpha,
// RGB, RGBA and palette forms, which covers what the skin generator writes.
// The inflate step is our own, so the build needs no image library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes a PNG held in memory.  On success returns 1 and fills pixels with
// width * height values, top row first, as 0xAARRGGBB (alpha 0xFF where the
// file has none).  Returns 0 for anything malformed or unsupported.
int png_decode(const uint8_t *data, size_t size, std::vector<uint32_t> *pixels, int *width,
               int *height);
// Reads and decodes a PNG file; 0 when it cannot be read or decoded.
int png_read_file(const char *path, std::vector<uint32_t> *pixels, int *width, int *height);

// Inflates a zlib stream (header, deflate blocks, Adler-32) into out.
// Returns 1 on success, 0 on malformed data or a checksum mismatch.
int zlib_inflate(const uint8_t *data, size_t size, std::vector<uint8_t> *out);
