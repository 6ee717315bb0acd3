// string_table.h - layout of the scrambled string block.
//
// The block and its entry list are generated at build time from
// app/string_table.txt by tools/strings (see app/build.cmake); only
// app/strings.cpp and its tests look at them directly.
#pragma once

#include <cstdint>

#include "app/strings.h"

// How an entry gets its terminator.
enum StringEndForm : uint8_t {
    STRING_END_WRITTEN = 0,   // start-up writes the NUL at the text length
    STRING_END_STORED = 1,    // the byte after the text is stored as NUL
    STRING_END_FIXED_BYTE = 2 // one byte XOR-ed with a fixed byte, NUL after
};

struct StringTableEntry {
    uint16_t offset;      // first byte of the entry in the block
    uint16_t unscrambled; // bytes unscrambled at start-up (n)
    uint16_t length;      // text length (t <= n)
    uint8_t seed;         // first key byte, or the separator's fixed byte
    uint8_t end_form;     // StringEndForm
};

// The writable block the program uses, scrambled until start-up.
extern unsigned char string_block[];
// The same bytes as built (still scrambled), for restore_scrambled_table.
extern const unsigned char string_block_image[];
extern const int string_block_size;
extern const StringTableEntry string_table_entries[STR_ENTRY_COUNT];
