// size_text.cpp - sizes and speeds as compact texts: at most three digits
// before a decimal comma, one after it, units of 1024 chosen at the decimal
// thresholds 1000, 1000000 and 1000000000 ("976,5k", "1m", "2,5kb/s").
//
// The engine writes the tray's status text with these, the display draws
// the list's sizes and the totals with them.
#include "engine/size_text.h"

#include <cmath>
#include <cstdio>

namespace {

enum Unit { UNIT_BYTES = 0, UNIT_KILO, UNIT_MEGA, UNIT_GIGA };

const char *const SHORT_NAME[4] = {"b", "k", "m", "g"};
const char *const LONG_NAME[4] = {"b", "kb", "mb", "gb"};
const char *const SPEED_NAME[4] = {"b/s", "kb/s", "mb/s", "gb/s"};

struct SizeParts {
    uint32_t integer;
    uint32_t tenths;   // 0 = none shown
    Unit unit;
};

// A remainder in the last few counts below a whole unit (1020 to 1023 of a
// kilo, for example) divides to 10; a tenths place holds one digit, so such
// a value shows as ,9, as a truncating display does everywhere else.
uint32_t one_digit(uint32_t tenths) { return tenths > 9 ? 9 : tenths; }

SizeParts split_size(uint32_t v) {
    if (v <= 999) return {v, 0, UNIT_BYTES};
    if (v <= 1024) return {1, 0, UNIT_KILO};
    if (v <= 999999) return {v / 1024, one_digit((v % 1024) / 102), UNIT_KILO};
    if (v <= 1048576) return {1, 0, UNIT_MEGA};
    if (v <= 999999999) return {v / 1048576, one_digit((v % 1048576) / 104857), UNIT_MEGA};
    if (v <= 1073741824) return {1, 0, UNIT_GIGA};
    return {v / 1073741824u, one_digit((v % 1073741824u) / 107374182), UNIT_GIGA};
}

}  // namespace

int compose_size(char *out, uint32_t value, unsigned flags) {
    SizeParts parts = split_size(value);
    const char *unit = (flags & SIZE_LONG_UNITS) ? LONG_NAME[parts.unit] : SHORT_NAME[parts.unit];
    if ((flags & SIZE_TENTHS) && parts.tenths != 0)
        return std::snprintf(out, 16, "%u,%u%s", parts.integer, parts.tenths, unit);
    return std::snprintf(out, 16, "%u%s", parts.integer, unit);
}

int compose_large_size(char *out, double value, unsigned flags) {
    if (!(value >= 1000000000.0)) {   // also catches a value that is not a number
        uint32_t whole = value > 0.0 ? (uint32_t)value : 0;
        return compose_size(out, whole, flags);
    }
    // Totals beyond 4 GB: always in gigabytes with the long unit name.  The
    // integer part is limited to what fits the text; sums of 32-bit sizes
    // never come near it.
    double integer = std::floor(value / 1073741824.0);
    if (integer > 999999999999.0) integer = 999999999999.0;
    double tenths = std::floor((value - integer * 1073741824.0) / 107374182.0);
    uint32_t digit = tenths < 0.0 ? 0 : one_digit(tenths > 10.0 ? 10u : (uint32_t)tenths);
    if ((flags & SIZE_TENTHS) && digit != 0)
        return std::snprintf(out, 32, "%.0f,%ugb", integer, digit);
    return std::snprintf(out, 32, "%.0fgb", integer);
}

void format_speed(char *out, uint32_t value) {
    SizeParts parts = split_size(value);
    if (parts.tenths != 0)
        std::snprintf(out, 16, "%u,%u%s", parts.integer, parts.tenths, SPEED_NAME[parts.unit]);
    else
        std::snprintf(out, 16, "%u%s", parts.integer, SPEED_NAME[parts.unit]);
}
