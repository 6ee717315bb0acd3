// size_text.h - sizes and speeds as the window and the tray tip show them.
#pragma once

#include <cstdint>

// Flags of the size texts (and of draw_size and draw_large_size).
static const unsigned SIZE_RIGHT_ALIGN = 1;   // drawn so that the text ends at x
static const unsigned SIZE_TENTHS = 2;        // show a non-zero tenths digit
static const unsigned SIZE_LONG_UNITS = 4;    // "kb", "mb", "gb" instead of "k", "m", "g"

// Writes a speed (bytes per second) as text, e.g. "2,5kb/s"; out needs room
// for 16 characters.
void format_speed(char *out, uint32_t value);
// Composes the text of a byte count into out (16 bytes); returns its length.
int compose_size(char *out, uint32_t value, unsigned flags);
// The same for a count held as a double (totals that can pass 4 GB), into
// out (32 bytes); returns its length.
int compose_large_size(char *out, double value, unsigned flags);
