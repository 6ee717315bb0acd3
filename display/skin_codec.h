// skin_codec.h - the parameters of the skin resource's run words.
//
// Each 32-bit word of the resource is one run of equal pixels: the colour in
// the low 24 bits (blue lowest) and, above them, the run's repeat count
// scrambled with a key that grows by 3 from word to word.  The decoder
// (display/skin.cpp) and the build-time encoder (tools/skin/skin_encode.cpp)
// both take the four parameters from here.  They are assembled at run time
// from small constants rather than kept as ready values.
#pragma once

#include <cstdint>

struct SkinCodec {
    uint32_t shift;      // bit position of the repeat field
    uint32_t mask;       // the field's width as a mask (after shifting down)
    uint32_t fill;       // OR-ed into each word: sets the field's bits to one
    uint32_t key_start;  // key of the first word; +3 per word
};

inline SkinCodec skin_codec(void) {
    SkinCodec c;
    const uint32_t colour_bytes = 3;
    c.shift = colour_bytes * 8;
    c.mask = (1u << (32 - c.shift)) - 1;
    c.fill = c.mask << c.shift;
    const uint8_t key_bytes[4] = {0x5C, 0xA4, 0x0B, 0x71};   // lowest byte first
    c.key_start = 0;
    for (int i = 3; i >= 0; i--) c.key_start = (c.key_start << 8) | key_bytes[i];
    return c;
}
