// The scrambled string table: what start-up unscrambles, the request token,
// and that the built block carries no plain text.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/string_table.h"
#include "app/strings.h"
#include "platform/platform.h"

namespace {

// Text lengths of the 52 entries in table order.
const int expected_lengths[STR_ENTRY_COUNT] = {
    15, 11, 7, 4, 3, 7, 7, 11, 13, 4,                       // 1-10
    9, 1, 6, 8, 7, 10, 9, 7, 20, 7, 12, 78, 249, 5, 9, 11, 6, 15, // 11-28
    12, 11, 11, 11, 11, 11, 8, 14, 11, 13, 11, 14, 11, 15, 15, 11, 12, 11, 15, 12, 8, 11, 8, // 29-51
    22};

class StringsTableTest : public ::testing::Test {
protected:
    void SetUp() override { restore_scrambled_table(); }
    void TearDown() override { restore_scrambled_table(); }

    static void start_up(uint32_t tick) {
        unscramble_first_batch();
        unscramble_second_batch();
        write_request_token(tick);
    }

    static std::string closing_block() {
        return std::string(string_entry(STR_HEADER_BLOCK_2));
    }
};

// Splits a header block into its lines (each without its CR LF); false when
// some line break is not CR LF or the block does not end with one.
bool split_header_lines(const std::string &block, std::vector<std::string> *lines) {
    size_t start = 0;
    while (start < block.size()) {
        size_t cr = block.find('\r', start);
        if (cr == std::string::npos || cr + 1 >= block.size() || block[cr + 1] != '\n') return false;
        std::string line = block.substr(start, cr - start);
        if (line.find('\n') != std::string::npos) return false;
        lines->push_back(line);
        start = cr + 2;
    }
    return true;
}

// "Name: value" with a non-empty name of visible characters and no colon.
bool is_header_line(const std::string &line) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; i++)
        if (line[i] <= ' ' || line[i] > '~' || line[i] == ':') return false;
    for (size_t i = colon + 2; i < line.size(); i++)
        if (line[i] < ' ' || line[i] > '~') return false;
    return line.size() > colon + 2;
}

} // namespace

TEST_F(StringsTableTest, entries_are_plain_texts_of_their_lengths_after_both_batches) {
    start_up(0x1234);
    for (int e = 0; e < STR_ENTRY_COUNT; e++) {
        SCOPED_TRACE(e + 1);
        EXPECT_EQ(string_length((StringEntry)e), expected_lengths[e]);
        EXPECT_EQ((int)strlen(string_entry((StringEntry)e)), expected_lengths[e]);
    }
    EXPECT_STREQ(string_entry(STR_TRAY_PREFIX), "Downloads now: ");
    EXPECT_STREQ(string_entry(STR_TRAY_SEPARATOR), " @ ");
    EXPECT_STREQ(string_entry(STR_PAGE_END_1), "</html>");
    EXPECT_STREQ(string_entry(STR_PAGE_END_2), "</body>");
    EXPECT_STREQ(string_entry(STR_HOST_PREFIX), "www.");
    EXPECT_STREQ(string_entry(STR_KIND8_KEY), "<video>");
    EXPECT_STREQ(string_entry(STR_KIND13_KEY), "<media:url>");
    EXPECT_STREQ(string_entry(STR_KIND18_KEY1), "<media:group>");
    EXPECT_STREQ(string_entry(STR_KIND18_KEY2), "url=");
    EXPECT_STREQ(string_entry(STR_PATH_SEPARATOR), "/");
    EXPECT_STREQ(string_entry(STR_NAME_OPEN), "<title>");
    EXPECT_STREQ(string_entry(STR_NAME_CLOSE), "</title>");
    EXPECT_STREQ(string_entry(STR_PROBE_1), "gnu.org");
    EXPECT_STREQ(string_entry(STR_PROBE_2), "ietf.org/");
    EXPECT_STREQ(string_entry(STR_PROBE_3), "debian.org");
    EXPECT_STREQ(string_entry(STR_FOLDER_TITLE), "Pick download folder");
    EXPECT_STREQ(string_entry(STR_SCHEME_PREFIX), "http://");
    EXPECT_STREQ(string_entry(STR_REQUEST_HEAD), "GET /");
    EXPECT_STREQ(string_entry(STR_REQUEST_TAIL), " HTTP/1.1\r\n");
    EXPECT_STREQ(string_entry(STR_HOST_LABEL), "Host: ");
    EXPECT_STREQ(string_entry(STR_REDIRECT_HEADER), "Location:");
    EXPECT_STREQ(string_entry(STR_LENGTH_HEADER), "Content-Length:");
    EXPECT_STREQ(string_entry(STR_WEB_PAGE), "http://quorvax.example");
    // The show-file hand-over names the file manager the Windows backend
    // runs, and the option that selects the file (the path follows it).
    EXPECT_STREQ(string_entry(STR_SHOW_PROGRAM), "explorer.exe");
    EXPECT_EQ(string_length(STR_SHOW_PROGRAM), 12);
    EXPECT_STREQ(string_entry(STR_SHOW_PARAM_PREFIX), "/select,\"");
    EXPECT_EQ(string_length(STR_SHOW_PARAM_PREFIX), 9);
    // Only the first four placeholder characters are drawn; they must show.
    std::string placeholder = string_entry(STR_SIZE_PLACEHOLDER);
    EXPECT_NE(placeholder.substr(0, 4).find_first_not_of(' '), std::string::npos);
}

TEST_F(StringsTableTest, first_batch_leaves_the_second_scrambled) {
    unscramble_first_batch();
    EXPECT_STREQ(string_entry(STR_TRAY_PREFIX), "Downloads now: ");
    EXPECT_STREQ(string_entry(STR_KIND18_KEY2), "url=");
    EXPECT_NE(memcmp(string_entry(STR_SCHEME_PREFIX), "http://", 7), 0);
    EXPECT_NE(memcmp(string_entry(STR_LENGTH_HEADER), "Content-Length:", 15), 0);

    // Running a batch again must not scramble it back.
    unscramble_first_batch();
    unscramble_second_batch();
    unscramble_second_batch();
    EXPECT_STREQ(string_entry(STR_TRAY_PREFIX), "Downloads now: ");
    EXPECT_STREQ(string_entry(STR_SCHEME_PREFIX), "http://");
}

TEST_F(StringsTableTest, start_up_repeated_after_restore_gives_the_same_texts) {
    start_up(0xabc);
    std::vector<std::string> first;
    for (int e = 0; e < STR_ENTRY_COUNT; e++) first.push_back(string_entry((StringEntry)e));
    restore_scrambled_table();
    EXPECT_NE(memcmp(string_entry(STR_SCHEME_PREFIX), "http://", 7), 0);
    start_up(0xabc);
    for (int e = 0; e < STR_ENTRY_COUNT; e++) EXPECT_EQ(first[e], string_entry((StringEntry)e)) << e + 1;
}

TEST_F(StringsTableTest, unscramble_entry_uses_a_running_key_that_wraps) {
    // Keys 0xfe, 0xff, 0x00, 0x01 for the four bytes.
    char text[5] = {(char)('a' ^ 0xfe), (char)('b' ^ 0xff), 'c', (char)('d' ^ 0x01), 'Z'};
    unscramble_entry(text, 4, 0xfe);
    EXPECT_EQ(std::string(text, 5), "abcdZ");
}

TEST_F(StringsTableTest, entries_unscramble_their_padding_and_end_at_the_text_length) {
    start_up(1);
    struct Padded {
        StringEntry entry;
        int length, unscrambled;
    } padded[] = {{STR_HEADER_BLOCK_1, 78, 82}, {STR_REQUEST_HEAD, 5, 9}, {STR_REQUEST_TAIL, 11, 15},
                  {STR_HOST_LABEL, 6, 12}};
    for (const Padded &p : padded) {
        SCOPED_TRACE(p.length);
        EXPECT_EQ(string_table_entries[p.entry].unscrambled, p.unscrambled);
        const char *text = string_entry(p.entry);
        // The padding is NUL in the plain table, so it reads as NUL only
        // when all n bytes were unscrambled.
        for (int i = p.length; i < p.unscrambled; i++) EXPECT_EQ(text[i], 0) << i;
    }
}

TEST_F(StringsTableTest, site_patterns_in_matching_order_with_their_codes) {
    start_up(1);
    struct Pattern {
        const char *text;
        int code;
    } expected[SITE_PATTERN_COUNT] = {
        {"reelbox.test", 0},    {"tubeon.test", 1},     {"flvbay.test", 2},     {"vidcue.test", 3},
        {"clipgo.test", 25},    {"showly.test", 4},     {"vidora.test", 5},     {"moviestar.test", 7},
        {"mvs.test", 7},        {"flashy.test", 8},     {"redclips.test", 9},   {"html5v.test", 10},
        {"videotrek.test", 11}, {"escapo.test", 13},    {"pathviewer.test", 14}, {"streamhall.test", 16},
        {"addvar.test", 17},    {"playlst.test", 18},   {"vidfan.test", 19},    {"qualityvid.test", 20},
        {"gdaclip.test", 21},   {"fil.test", 22},       {"vsr.test", 23},       {"filer2.test", 24},
    };
    const int matching_lengths[SITE_PATTERN_COUNT] = {12, 11, 11, 11, 11, 11, 11, 14, 8,  11, 13, 11,
                                                      14, 11, 15, 15, 11, 12, 11, 15, 12, 8,  8,  11};
    for (int n = 0; n < SITE_PATTERN_COUNT; n++) {
        SCOPED_TRACE(n);
        EXPECT_STREQ(site_pattern(n), expected[n].text);
        EXPECT_EQ((int)strlen(site_pattern(n)), matching_lengths[n]);
        EXPECT_EQ(site_code(n), expected[n].code);
    }
    // Every pattern lives in one of the pattern entries, none twice.
    std::vector<const char *> seen;
    for (int n = 0; n < SITE_PATTERN_COUNT; n++) {
        const char *p = site_pattern(n);
        bool in_slot = p == string_entry(STR_SITE_PATTERN_1);
        for (int k = 0; k < 23; k++) in_slot = in_slot || p == string_entry((StringEntry)(STR_SITE_PATTERN_2 + k));
        EXPECT_TRUE(in_slot) << n;
        for (const char *q : seen) EXPECT_NE(p, q) << n;
        seen.push_back(p);
    }
    EXPECT_STREQ(site_pattern(24), "");
    EXPECT_EQ(site_code(-1), -1);
}

TEST_F(StringsTableTest, first_header_block_is_whole_header_lines) {
    start_up(1);
    std::string block = string_entry(STR_HEADER_BLOCK_1);
    ASSERT_EQ(block.size(), 78u);
    std::vector<std::string> lines;
    ASSERT_TRUE(split_header_lines(block, &lines));
    ASSERT_FALSE(lines.empty());
    for (const std::string &line : lines) EXPECT_TRUE(is_header_line(line)) << line;
}

TEST_F(StringsTableTest, closing_block_carries_the_token_inside_a_value_before_the_last_two_lines) {
    start_up(1);
    std::string block = closing_block();
    ASSERT_EQ(block.size(), 249u);
    ASSERT_EQ(block.substr(245), "\r\n\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(split_header_lines(block, &lines));
    ASSERT_GE(lines.size(), 4u);
    ASSERT_EQ(lines.back(), "");
    for (size_t i = 0; i + 1 < lines.size(); i++) EXPECT_TRUE(is_header_line(lines[i])) << lines[i];

    // The token's characters 208-216 lie in the value of one line that ends
    // before the last two header lines begin.
    size_t line_start = block.rfind("\r\n", 208) + 2;
    size_t line_end = block.find("\r\n", 208);
    size_t value_start = block.find(": ", line_start) + 2;
    EXPECT_LE(value_start, 208u);
    EXPECT_GE(line_end, 217u);
    size_t last_two_start = block.size() - 2 - lines[lines.size() - 2].size() - 2 -
                            lines[lines.size() - 3].size() - 2;
    EXPECT_LE(line_end + 2, last_two_start);
}

TEST_F(StringsTableTest, request_token_is_hex_without_leading_zeros_then_a_letter) {
    start_up(1);
    const std::string before = closing_block();
    struct Token {
        uint32_t tick;
        const char *token;
    } cases[] = {{0x1a2b3c, "1a2b3cM"}, {0, "0A"}, {0x2f, "2fP"}, {0x10, "10A"}, {0xffffffffu, "ffffffffP"},
                 {0x80000000u, "80000000A"}};
    for (const Token &c : cases) {
        SCOPED_TRACE(c.token);
        restore_scrambled_table();
        start_up(c.tick);
        std::string after = closing_block();
        size_t length = strlen(c.token);
        ASSERT_EQ(after.size(), 249u);
        EXPECT_EQ(after.substr(208, length), c.token);
        // Everything else, including the characters right after the letter,
        // is the block's own text.
        EXPECT_EQ(after.substr(0, 208), before.substr(0, 208));
        EXPECT_EQ(after.substr(208 + length), before.substr(208 + length));
        EXPECT_EQ(after.substr(245), "\r\n\r\n");
        std::vector<std::string> lines;
        ASSERT_TRUE(split_header_lines(after, &lines));
        for (size_t i = 0; i + 1 < lines.size(); i++) EXPECT_TRUE(is_header_line(lines[i])) << lines[i];
    }
}

TEST_F(StringsTableTest, scrambled_block_holds_no_plain_text) {
    start_up(0x55);
    std::vector<std::string> plain;
    for (int e = 0; e < STR_ENTRY_COUNT; e++) plain.push_back(string_entry((StringEntry)e));
    restore_scrambled_table();

    auto holds = [](const unsigned char *block, const std::string &text) {
        for (int i = 0; i + (int)text.size() <= string_block_size; i++)
            if (memcmp(block + i, text.data(), text.size()) == 0) return true;
        return false;
    };
    for (const std::string &text : plain) {
        if (text.size() < 4) continue;
        EXPECT_FALSE(holds(string_block, text)) << text;
        EXPECT_FALSE(holds(string_block_image, text)) << text;
    }
    // Nor any line of the header blocks on its own.
    EXPECT_FALSE(holds(string_block, "Connection: close"));
    EXPECT_FALSE(holds(string_block, "User-Agent"));
}
