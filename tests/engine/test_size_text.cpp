// Sizes and speeds as the window and the tray tip show them.
#include <gtest/gtest.h>

#include <string>

#include "engine/size_text.h"

namespace {

std::string size_text(uint32_t value, unsigned flags) {
    char text[16];
    int n = compose_size(text, value, flags);
    EXPECT_EQ((size_t)n, std::string(text).size());
    return text;
}

std::string large_text(double value, unsigned flags) {
    char text[32];
    compose_large_size(text, value, flags);
    return text;
}

std::string speed_text(uint32_t value) {
    char text[16];
    format_speed(text, value);
    return text;
}

const unsigned TENTHS = SIZE_TENTHS;
const unsigned LONG = SIZE_LONG_UNITS;

}  // namespace

TEST(SizeFormatTest, bytes_stay_plain_digits_up_to_999) {
    EXPECT_EQ(size_text(0, TENTHS), "0b");
    EXPECT_EQ(size_text(999, TENTHS), "999b");
    EXPECT_EQ(size_text(999, TENTHS | LONG), "999b");
}

TEST(SizeFormatTest, units_switch_at_decimal_thresholds_showing_one) {
    EXPECT_EQ(size_text(1000, TENTHS), "1k");
    EXPECT_EQ(size_text(1024, TENTHS), "1k");
    EXPECT_EQ(size_text(1000, TENTHS | LONG), "1kb");
    EXPECT_EQ(size_text(1000000, TENTHS), "1m");
    EXPECT_EQ(size_text(1048576, TENTHS), "1m");
    EXPECT_EQ(size_text(1000000000, TENTHS), "1g");
    EXPECT_EQ(size_text(1073741824, TENTHS | LONG), "1gb");
}

TEST(SizeFormatTest, tenths_only_with_the_flag_and_when_not_zero) {
    EXPECT_EQ(size_text(1025, TENTHS), "1k");          // 1 remainder: tenths digit 0
    EXPECT_EQ(size_text(1536, TENTHS), "1,5k");
    EXPECT_EQ(size_text(1536, 0), "1k");
    EXPECT_EQ(size_text(999999, TENTHS), "976,5k");    // 976 and 575
    EXPECT_EQ(size_text(1048577, TENTHS), "1m");
    EXPECT_EQ(size_text(1572864, TENTHS), "1,5m");
    EXPECT_EQ(size_text(1572864, TENTHS | LONG), "1,5mb");
    EXPECT_EQ(size_text(3000000000u, TENTHS), "2,7g");  // 2 and 852516352
    EXPECT_EQ(size_text(4294967295u, TENTHS | LONG), "3,9gb");
}

TEST(SizeFormatTest, remainder_at_the_top_of_a_unit_shows_nine_tenths) {
    // 1020..1023 of a kilo, 1048570..1048575 of a mega and 1073741820..
    // 1073741823 of a giga divide to 10: the single digit shows 9.
    EXPECT_EQ(size_text(1024 + 1020, TENTHS), "1,9k");
    EXPECT_EQ(size_text(2 * 1024 + 1023, TENTHS), "2,9k");
    EXPECT_EQ(size_text(1048576 + 1048575, TENTHS), "1,9m");
    EXPECT_EQ(size_text(1073741824u + 1073741820u, TENTHS), "1,9g");
    EXPECT_EQ(speed_text(1024 + 1022), "1,9kb/s");
    EXPECT_EQ(large_text(2.0 * 1073741824.0 + 1073741823.0, TENTHS), "2,9gb");
}

TEST(SpeedFormatTest, speed_names_and_always_a_non_zero_tenth) {
    EXPECT_EQ(speed_text(0), "0b/s");
    EXPECT_EQ(speed_text(999), "999b/s");
    EXPECT_EQ(speed_text(2048), "2kb/s");
    EXPECT_EQ(speed_text(2560), "2,5kb/s");
    EXPECT_EQ(speed_text(1000000), "1mb/s");
    EXPECT_EQ(speed_text(1572864), "1,5mb/s");
    EXPECT_EQ(speed_text(3000000000u), "2,7gb/s");
}

TEST(LargeSizeFormatTest, below_a_billion_is_the_same_as_the_32_bit_form) {
    EXPECT_EQ(large_text(1536.75, TENTHS), "1,5k");
    EXPECT_EQ(large_text(999999999.0, TENTHS), "953,6m");
    EXPECT_EQ(large_text(0.0, TENTHS), "0b");
    EXPECT_EQ(large_text(-5.0, TENTHS), "0b");   // never a negative count
}

TEST(LargeSizeFormatTest, from_a_billion_on_always_whole_gigabytes_named_gb) {
    EXPECT_EQ(large_text(5000000000.0, TENTHS), "4,6gb");
    EXPECT_EQ(large_text(5000000000.0, 0), "4gb");
    EXPECT_EQ(large_text(1000000000.0, TENTHS), "0,9gb");   // integer part 0
    EXPECT_EQ(size_text(1000000000u, TENTHS), "1g");        // the 32-bit form differs
    EXPECT_EQ(large_text(1e13, TENTHS), "9313,2gb");        // past 4 GB per item
}
