// Text search, the page and value decoders, and output file names.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app_state.h"
#include "web/text.h"

namespace {

void set_search(int32_t cursor, int32_t start, int32_t limit) {
    search_cursor = cursor;
    match_start = start;
    search_limit = limit;
}

// Runs a decoder over a copy of text (which may hold NULs) with the given
// count and returns the bytes up to the terminator it wrote.
template <typename Decoder>
std::string decode(Decoder decoder, const std::string &text, uint32_t count) {
    std::string buffer = text;
    buffer.push_back('\0');
    decoder(&buffer[0], count);
    return std::string(buffer.c_str());
}

template <typename Decoder>
std::string decode(Decoder decoder, const std::string &text) {
    return decode(decoder, text, (uint32_t)text.size());
}

std::string file_name(const std::string &source, int length, uint32_t tick) {
    app_state.now_tick = tick;
    char name[128];
    memset(name, 'X', sizeof name);
    make_file_name(name, source.data(), length);
    return std::string(name);
}

std::string file_name(const std::string &source) {
    return file_name(source, (int)source.size(), 0x1a2b3c);
}

// True when s is well-formed UTF-8 (no overlong forms, no surrogates).
bool valid_utf8(const std::string &s) {
    const unsigned char *b = (const unsigned char *)s.data();
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = b[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t extra = (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 : (c >= 0xF0 && c <= 0xF4) ? 3 : 0;
        if (extra == 0 || i + extra >= s.size()) return false;
        uint32_t cp = c & (0x7F >> (extra + 1));
        for (size_t k = 1; k <= extra; k++) {
            if ((b[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

// ----------------------------------------------------------------- search

TEST(TextSearchTest, ignores_the_case_of_letters_only) {
    set_search(0, 0, 100);
    EXPECT_EQ(find_text("&Amp;", "AMP"), 4);
    EXPECT_EQ(match_start, 1);
    EXPECT_EQ(search_cursor, 4);

    // '[' and '{' differ by the same bit as a letter's cases but are not letters.
    set_search(0, 0, 100);
    EXPECT_EQ(find_text("a{b", "a[b"), 0);
    // Bytes above 127 are compared as they are.
    set_search(0, 0, 100);
    EXPECT_EQ(find_text("caf\xC9", "caf\xE9"), 0);
}

TEST(TextSearchTest, finds_the_key_after_a_partial_match) {
    set_search(0, 0, 100);
    EXPECT_EQ(find_text("uurl=abc", "url="), 5);
    EXPECT_EQ(match_start, 1);
    EXPECT_EQ(search_cursor, 5);
}

TEST(TextSearchTest, starts_at_the_cursor_and_moves_it_past_each_match) {
    const char *text = "key=1;key=2;key=3";
    set_search(0, 0, 100);
    ASSERT_EQ(find_text(text, "key="), 5);
    EXPECT_EQ(match_start, 0);
    ASSERT_EQ(find_text(text, "key="), 5);
    EXPECT_EQ(match_start, 6);
    search_cursor = 7; // a match that begins before the cursor is not seen
    ASSERT_EQ(find_text(text, "key="), 5);
    EXPECT_EQ(match_start, 12);
    EXPECT_EQ(search_cursor, 16);
    EXPECT_EQ(find_text(text, "key="), 0);
    EXPECT_EQ(match_start, 12);
    EXPECT_EQ(search_cursor, 16);
}

TEST(TextSearchTest, no_match_may_reach_the_limit) {
    set_search(0, 0, 5);
    EXPECT_EQ(find_text("abcdefgh", "abcdef"), 0);
    EXPECT_EQ(search_cursor, 0);
    EXPECT_EQ(find_text("abcdefgh", "abcde"), 6);
    EXPECT_EQ(search_cursor, 5);
    // A limit at or before the cursor finds nothing.
    set_search(5, 0, 5);
    EXPECT_EQ(find_text("abcdefgh", "f"), 0);
}

TEST(TextSearchTest, stops_at_the_first_nul) {
    const char text[] = "abc\0needle";
    set_search(0, 0, (int32_t)sizeof text);
    EXPECT_EQ(find_text(text, "needle"), 0);
    EXPECT_EQ(find_text(text, "BC"), 3);
    EXPECT_EQ(match_start, 1);
}

TEST(TextSearchTest, failures_and_empty_needles_leave_the_state_unchanged) {
    set_search(2, 7, 50);
    EXPECT_EQ(find_text("some page text", "missing"), 0);
    EXPECT_EQ(find_text("some page text", ""), 0);
    EXPECT_EQ(search_cursor, 2);
    EXPECT_EQ(match_start, 7);
    EXPECT_EQ(search_limit, 50);
}

TEST(TextSearchTest, cursor_stepped_before_the_start_searches_from_the_start) {
    set_search(-2, 0, 100);
    EXPECT_EQ(find_text("ab", "ab"), 3);
    EXPECT_EQ(match_start, 0);
}

TEST(TextSearchTest, line_length_counts_up_to_the_first_carriage_return) {
    EXPECT_EQ(line_length("value here\r\nnext"), 10);
    EXPECT_EQ(line_length("no line end"), 0);
    EXPECT_EQ(line_length("\rleading"), 0);
    EXPECT_EQ(line_length(""), 0);
}

// ---------------------------------------------------------- page decoders

TEST(TextPageDecoderTest, form_a_decodes_percent_and_u_escapes) {
    EXPECT_EQ(decode(unescape_page, "x%41y"), "xAy");
    EXPECT_EQ(decode(unescape_page, "%2541%2562"), "Ab");
    EXPECT_EQ(decode(unescape_page, "\\u0041\\u0062"), "Ab");
    EXPECT_EQ(decode(unescape_page, "%2525"), "%");
    EXPECT_EQ(decode(unescape_page, "http%3A%2F%2Fa"), "http://a");
    // The u escape is read as a percent sign in place of its fourth
    // character, so "25" right after it is skipped like "%25".
    EXPECT_EQ(decode(unescape_page, "\\u002541"), "A");
}

TEST(TextPageDecoderTest, chunk_marker_is_dropped_by_both_forms) {
    const std::string page = std::string("<a>\r\n1000\r\n</a>");
    EXPECT_EQ(decode(unescape_page, page), "<a></a>");
    EXPECT_EQ(decode(unescape_page_alt, page), "<a></a>");
    // A plain line break stays.
    EXPECT_EQ(decode(unescape_page, "a\r\nb"), "a\r\nb");
}

TEST(TextPageDecoderTest, nul_bytes_become_spaces) {
    EXPECT_EQ(decode(unescape_page, "a%zzb"), "a b");
    EXPECT_EQ(decode(unescape_page_alt, "a%G0b"), "a b");
    EXPECT_EQ(decode(unescape_page, "a%00b"), "a b");
    EXPECT_EQ(decode(unescape_page, std::string("a\0b", 3)), "a b");
    EXPECT_EQ(decode(unescape_page_alt, std::string("a\0b", 3)), "a b");
}

TEST(TextPageDecoderTest, form_b_keeps_u_escapes_as_percent_and_two_digits) {
    EXPECT_EQ(decode(unescape_page_alt, "\\u0041"), "%41");
    EXPECT_EQ(decode(unescape_page_alt, "a%25b"), "a%b");
    EXPECT_EQ(decode(unescape_page_alt, "a%5Cb"), "ab");
    EXPECT_EQ(decode(unescape_page_alt, "%5C%22x%5C%22"), "\"x\"");
    EXPECT_EQ(decode(unescape_page_alt, "%41%62"), "Ab");
}

TEST(TextPageDecoderTest, only_the_counted_characters_are_decoded) {
    std::string buffer = "%41%42%43";
    buffer.push_back('\0');
    unescape_page(&buffer[0], 6);
    EXPECT_STREQ(buffer.c_str(), "AB");
    EXPECT_EQ(buffer.substr(6, 3), "%43");
}

TEST(TextPageDecoderTest, escapes_cut_off_by_the_count_stay_as_they_are) {
    // What follows the count would complete each escape; it must not be read.
    EXPECT_EQ(decode(unescape_page, "ab%41", 4), "ab%4");
    EXPECT_EQ(decode(unescape_page, "ab%", 3), "ab%");
    EXPECT_EQ(decode(unescape_page, "%2541", 4), "%254");
    EXPECT_EQ(decode(unescape_page, "a\\u0041", 6), "a\\u004");
    EXPECT_EQ(decode(unescape_page, "a\\u0", 4), "a\\u0");
    EXPECT_EQ(decode(unescape_page_alt, "ab%41", 4), "ab%4");
    EXPECT_EQ(decode(unescape_page_alt, "ab%25", 4), "ab%2");
    EXPECT_EQ(decode(unescape_page_alt, "a\\u0041", 4), "a\\u0");
    EXPECT_EQ(decode(unescape_page_alt, "a%5C", 3), "a%5");
    EXPECT_EQ(decode(unescape_page, "a\r\n1000\r\n", 9), "a");
    EXPECT_EQ(decode(unescape_page, "", 0), "");
}

// --------------------------------------------------------- value decoders

TEST(TextValueDecoderTest, replace_marker_amp_turns_markers_into_ampersands) {
    EXPECT_EQ(decode(replace_marker_amp, "a=1_@?_b=2_@?_c"), "a=1&b=2&c");
    EXPECT_EQ(decode(replace_marker_amp, "_@?"), "_@?");
}

TEST(TextValueDecoderTest, drop_amp_entity_removes_one_entity_per_step) {
    EXPECT_EQ(decode(drop_amp_entity, "a&amp;b&amp;c"), "a&b&c");
    EXPECT_EQ(decode(drop_amp_entity, "&amp;amp;"), "&amp;");
    EXPECT_EQ(decode(drop_amp_entity, "x&amp;"), "x&");
    EXPECT_EQ(decode(drop_amp_entity, "AMP;"), "AMP;");
}

TEST(TextValueDecoderTest, drop_backslashes_keeps_the_escaped_character) {
    EXPECT_EQ(decode(drop_backslashes, "http:\\/\\/a\\/b"), "http://a/b");
    EXPECT_EQ(decode(drop_backslashes, "a\\\\b"), "a\\b");
    EXPECT_EQ(decode(drop_backslashes, "end\\"), "end");
}

TEST(TextValueDecoderTest, decoders_stop_at_the_nul_and_leave_what_follows) {
    // As called on a 512-byte address field.
    char field[512];
    memset(field, '!', sizeof field);
    memcpy(field, "a_@?_b\0_@?_", 11);
    replace_marker_amp(field, sizeof field);
    EXPECT_EQ(std::string(field, 4), std::string("a&b\0", 4));
    EXPECT_EQ(std::string(field + 7, 4), "_@?_");

    memcpy(field, "p\\q\0\\r", 7);
    drop_backslashes(field, sizeof field);
    EXPECT_EQ(std::string(field, 7), std::string("pq\0\0\\r", 7));
}

TEST(TextValueDecoderTest, decoders_never_write_at_or_past_the_count) {
    // A field of exactly count bytes with no NUL: nothing is written past it.
    char field[9] = {'a', 'b', '_', '@', '?', '_', 'c', 'd', '!'};
    replace_marker_amp(field, 8);
    EXPECT_EQ(std::string(field, 9), std::string("ab&cd\0cd!", 9));

    char plain[5] = {'a', 'b', 'c', 'd', '!'};
    drop_backslashes(plain, 4);
    EXPECT_EQ(std::string(plain, 5), "abcd!");

    // A marker that straddles the count is not replaced.
    char straddle[7] = {'a', 'b', '_', '@', '?', '_', '!'};
    replace_marker_amp(straddle, 5);
    EXPECT_EQ(std::string(straddle, 7), "ab_@?_!");

    // "amp;" ending at the count drops and ends the value there.
    char entity[8] = {'x', '&', 'a', 'm', 'p', ';', 'y', '!'};
    drop_amp_entity(entity, 6);
    EXPECT_EQ(std::string(entity, 3), std::string("x&\0", 3));
    EXPECT_EQ(entity[6], 'y');
}

// -------------------------------------------------------------- file names

TEST(TextFileNameTest, cleans_the_title_and_appends_the_hex_tick) {
    EXPECT_EQ(file_name("  My Video: Episode 1 | Site"), "My Video Episode 1 Site 1a2b3c.flv");
    EXPECT_EQ(file_name("A/B\\C\x01" "D\x7f" "E{F}~G"), "A B C D E F G 1a2b3c.flv");
    EXPECT_EQ(file_name("...Title!!!"), "Title 1a2b3c.flv");
    EXPECT_EQ(file_name("x", 1, 0), "x 0.flv");
    EXPECT_EQ(file_name("x", 1, 0xffffffffu), "x ffffffff.flv");
}

TEST(TextFileNameTest, empty_or_negative_length_gives_only_the_tick) {
    EXPECT_EQ(file_name("Title", 0, 0x1a2b3c), " 1a2b3c.flv");
    EXPECT_EQ(file_name("Title", -5, 0x1a2b3c), " 1a2b3c.flv");
    EXPECT_EQ(file_name(" !./ ", 5, 0x1a2b3c), " 1a2b3c.flv");
}

TEST(TextFileNameTest, reads_only_the_given_length_and_stops_at_a_nul) {
    EXPECT_EQ(file_name("Title</title>", 5, 0xab), "Title ab.flv");
    EXPECT_EQ(file_name(std::string("Ti\0tle", 6), 6, 0xab), "Ti ab.flv");
}

TEST(TextFileNameTest, keeps_at_most_91_characters) {
    std::string long_title(200, 'a');
    std::string name = file_name(long_title);
    EXPECT_EQ(name, std::string(91, 'a') + " 1a2b3c.flv");
    // Spaces collapsed away do not count.
    std::string spaced = "a" + std::string(50, ' ') + std::string(150, 'b');
    EXPECT_EQ(file_name(spaced), "a " + std::string(89, 'b') + " 1a2b3c.flv");
}

TEST(TextFileNameTest, keeps_utf8_characters_whole) {
    EXPECT_EQ(file_name("Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xAC!"),
              "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xAC 1a2b3c.flv");
    // A multi-byte character counts as one of the 91.
    std::string title;
    for (int i = 0; i < 95; i++) title += "\xC3\xA9";
    std::string name = file_name(title);
    EXPECT_LE(name.size(), 127u);
    EXPECT_TRUE(valid_utf8(name));
    EXPECT_EQ(name.substr(name.size() - 11), " 1a2b3c.flv");
}

TEST(TextFileNameTest, invalid_utf8_and_hidden_controls_become_spaces) {
    // A byte of 192 or more that starts no valid sequence is its Latin-1
    // letter; what follows it is read on its own.
    EXPECT_EQ(file_name("a\xC3" "b"), "a\xC3\x83" "b 1a2b3c.flv");       // lead without continuation: Ã
    EXPECT_EQ(file_name("a\xA9\xA9" "b"), "a b 1a2b3c.flv");           // lone continuations
    EXPECT_EQ(file_name("a\xC0\xAF" "b"), "a\xC3\x80 b 1a2b3c.flv");   // overlong slash: À, then a space
    EXPECT_EQ(file_name("a\xED\xA0\x80" "b"), "a\xC3\xAD b 1a2b3c.flv"); // surrogate: í, then a space
    EXPECT_EQ(file_name("a\xE2\x82"), "a\xC3\xA2  1a2b3c.flv");        // cut-off sequence: â, then a space
    EXPECT_EQ(file_name("a\xC2\x85" "b"), "a b 1a2b3c.flv");           // C1 control
    EXPECT_EQ(file_name("a\xE2\x80\xAE" "vlf.exe"), "a vlf exe 1a2b3c.flv"); // direction override
    for (unsigned c = 128; c < 256; c++) {
        std::string name = file_name(std::string("x") + (char)c + "y");
        EXPECT_TRUE(valid_utf8(name)) << c;
    }
}

TEST(TextFileNameTest, never_exceeds_the_field_with_long_multibyte_titles) {
    std::string title;
    for (int i = 0; i < 100; i++) title += "\xF0\x9F\x8E\xAC";
    std::string name = file_name(title, (int)title.size(), 0xffffffffu);
    EXPECT_LE(name.size(), 127u);
    EXPECT_TRUE(valid_utf8(name));
    EXPECT_EQ(name.substr(name.size() - 13), " ffffffff.flv");
    EXPECT_EQ((name.size() - 13) % 4, 0u); // only whole characters before it
}

TEST(TextFileNameTest, latin1_letters_become_utf8_and_other_lone_bytes_spaces) {
    // A title from a page sent in Latin-1.
    EXPECT_EQ(file_name("Caf\xE9 Society"), "Caf\xC3\xA9 Society 1a2b3c.flv");
    // Valid UTF-8 and Latin-1 bytes in one title: each read as what it is.
    EXPECT_EQ(file_name("Caf\xC3\xA9 \xE9t\xE9 \xE6\x97\xA5 na\xEFve"),
              "Caf\xC3\xA9 \xC3\xA9t\xC3\xA9 \xE6\x97\xA5 na\xC3\xAFve 1a2b3c.flv");
    // The multiplication and division signs, and 128..191, are no letters.
    EXPECT_EQ(file_name("2\xD7" "3\xF7" "4\xA9\x93\xBF" "5"), "2 3 4 5 1a2b3c.flv");
    // Every letter of 192..255 comes out as U+00C0..U+00FF.
    for (unsigned c = 0xC0; c <= 0xFF; c++) {
        std::string name = file_name(std::string("x") + (char)c + "y");
        std::string expected = "x y 1a2b3c.flv";
        if (c != 0xD7 && c != 0xF7) expected = std::string("x\xC3") + (char)(0x80 | (c & 0x3F)) + "y 1a2b3c.flv";
        EXPECT_EQ(expected, name) << c;
    }
}

TEST(TextFileNameTest, latin1_letters_count_as_one_character_and_respect_the_byte_bound) {
    // 91 characters of which each takes two bytes would pass the 114 bytes
    // the part may use: 57 letters fit, the 58th is not written.
    std::string latin(100, (char)0xE9);
    std::string name = file_name(latin);
    std::string e_acute = "\xC3\xA9";
    std::string expected;
    for (int k = 0; k < 57; k++) expected += e_acute;
    EXPECT_EQ(expected + " 1a2b3c.flv", name);
    EXPECT_TRUE(valid_utf8(name));

    // Mixed with ASCII: the 91-character bound holds with Latin-1 letters
    // each counting as one (80 ASCII + 11 letters = 102 bytes).
    std::string mixed = std::string(80, 'a') + std::string(20, (char)0xE9);
    expected = std::string(80, 'a');
    for (int k = 0; k < 11; k++) expected += e_acute;
    EXPECT_EQ(expected + " 1a2b3c.flv", file_name(mixed));

    // Two-byte letters as the 90th and 91st characters end the part; what
    // follows is not read.
    name = file_name(std::string(89, 'b') + std::string(2, (char)0xE9) + "zz");
    EXPECT_EQ(std::string(89, 'b') + e_acute + e_acute + " 1a2b3c.flv", name);

    // With an odd count of bytes before them, the letter that would end at
    // byte 115 is left out whole rather than cut.
    std::string odd = std::string(3, 'c') + std::string(60, (char)0xE9);
    name = file_name(odd, (int)odd.size(), 0xffffffffu);
    expected = "ccc";
    for (int k = 0; k < 55; k++) expected += e_acute;   // 3 + 110 = 113 bytes
    EXPECT_EQ(expected + " ffffffff.flv", name);
    EXPECT_EQ(126u, name.size());
    EXPECT_TRUE(valid_utf8(name));
}
