// strings.cpp - the scrambled string table: unscrambling at start-up, the
// request token, and access to entries by role.
//
// The block itself (string_block) and the list of its entries are generated
// at build time from app/string_table.txt (see app/build.cmake).

#include "app/strings.h"

#include <cstring>

#include "app/string_table.h"

static_assert(STR_ENTRY_COUNT == 52, "the table has 52 entries");
static_assert(STR_WEB_PAGE == 51, "the web page is the last entry");

namespace {

// Entries 1 to 10 form the first batch, 11 to 52 the second.
const int FIRST_BATCH_COUNT = 10;

// Where the request token starts in the closing header block.
const int REQUEST_TOKEN_OFFSET = 208;

// A batch that has run is not run again: unscrambling twice would scramble
// the texts back.  restore_scrambled_table clears both marks.
int first_batch_done = 0;
int second_batch_done = 0;

// The site patterns in matching order with their site codes.  Their entries
// do not follow that order (the slot lengths of the table decide which
// pattern sits where, see app/string_table.txt).
struct SitePattern {
    StringEntry entry;
    int code;
};

constexpr StringEntry pattern_entry(int table_number) {
    return (StringEntry)(table_number - 1);
}

const SitePattern site_patterns[SITE_PATTERN_COUNT] = {
    {pattern_entry(29), 0},  {pattern_entry(2), 1},   {pattern_entry(30), 2},  {pattern_entry(31), 3},
    {pattern_entry(32), 25}, {pattern_entry(33), 4},  {pattern_entry(34), 5},  {pattern_entry(36), 7},
    {pattern_entry(35), 7},  {pattern_entry(37), 8},  {pattern_entry(38), 9},  {pattern_entry(39), 10},
    {pattern_entry(40), 11}, {pattern_entry(41), 13}, {pattern_entry(42), 14}, {pattern_entry(43), 16},
    {pattern_entry(44), 17}, {pattern_entry(45), 18}, {pattern_entry(46), 19}, {pattern_entry(47), 20},
    {pattern_entry(48), 21}, {pattern_entry(49), 22}, {pattern_entry(51), 23}, {pattern_entry(50), 24},
};

char empty_text[1] = {0};

bool valid_entry(int e) {
    return e >= 0 && e < STR_ENTRY_COUNT;
}

void unscramble_table_entry(int index) {
    const StringTableEntry &entry = string_table_entries[index];
    char *text = (char *)string_block + entry.offset;
    if (entry.end_form == STRING_END_FIXED_BYTE) {
        text[0] = (char)((uint8_t)text[0] ^ entry.seed);
        text[1] = 0;
        return;
    }
    unscramble_entry(text, entry.unscrambled, entry.seed);
    if (entry.end_form == STRING_END_WRITTEN) text[entry.length] = 0;
}

} // namespace

char *string_entry(StringEntry e) {
    if (!valid_entry(e)) return empty_text;
    return (char *)string_block + string_table_entries[e].offset;
}

int string_length(StringEntry e) {
    if (!valid_entry(e)) return 0;
    return string_table_entries[e].length;
}

const char *site_pattern(int n) {
    if (n < 0 || n >= SITE_PATTERN_COUNT) return empty_text;
    return string_entry(site_patterns[n].entry);
}

int site_code(int n) {
    if (n < 0 || n >= SITE_PATTERN_COUNT) return -1;
    return site_patterns[n].code;
}

void unscramble_entry(char *text, int n, uint8_t seed) {
    uint8_t key = seed;
    for (int i = 0; i < n; i++) {
        text[i] = (char)((uint8_t)text[i] ^ key);
        key = (uint8_t)(key + 1);
    }
}

void unscramble_first_batch(void) {
    if (first_batch_done) return;
    for (int i = 0; i < FIRST_BATCH_COUNT; i++) unscramble_table_entry(i);
    first_batch_done = 1;
}

void unscramble_second_batch(void) {
    if (second_batch_done) return;
    for (int i = FIRST_BATCH_COUNT; i < STR_ENTRY_COUNT; i++) unscramble_table_entry(i);
    second_batch_done = 1;
}

// Writes the tick in lower-case hexadecimal without leading zeros, then the
// letter 'A' + (tick mod 16), over the block's own characters from 208 on.
// No terminator: the rest of the block stays as it is.
void write_request_token(uint32_t tick) {
    static const char hex_digits[] = "0123456789abcdef";
    char digits[8];
    int count = 0;
    uint32_t rest = tick;
    do {
        digits[count++] = hex_digits[rest & 15];
        rest >>= 4;
    } while (rest != 0);

    char *token = string_entry(STR_HEADER_BLOCK_2) + REQUEST_TOKEN_OFFSET;
    for (int i = 0; i < count; i++) token[i] = digits[count - 1 - i];
    token[count] = (char)('A' + (tick & 15));
}

void restore_scrambled_table(void) {
    std::memcpy(string_block, string_block_image, (size_t)string_block_size);
    first_batch_done = 0;
    second_batch_done = 0;
}
