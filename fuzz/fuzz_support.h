// fuzz_support.h - what the fuzzers share: the invariant check, and the
// program started once on the test backend in a folder of its own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app.h"
#include "app/app_state.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"

// A broken invariant ends the run, so that the fuzzer keeps the input.
inline void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

// The fuzzer's input, read from the front: a byte, or four bytes as a
// little-endian number (0 for each byte past the end), or the next n bytes
// (fewer when the input ends) copied into a block of exactly their size, so
// that the address sanitizer sees a read past them.
struct FuzzInput {
    const uint8_t *data;
    size_t size;
    uint32_t u8() {
        if (!size) return 0;
        size--;
        return *data++;
    }
    uint32_t u32() {
        uint32_t v = 0;
        for (int k = 0; k < 4; k++) v |= u8() << (8 * k);
        return v;
    }
    char *take(uint32_t n, uint32_t *taken) {
        if (n > size) n = (uint32_t)size;
        char *block = (char *)malloc(n ? n : 1);
        memcpy(block, data, n);
        data += n;
        size -= n;
        *taken = n;
        return block;
    }
};

// Writes list (the bytes of a list file) as list_path and starts the
// program on it, shown, with the fake clock at a known tick and a
// 1280x800 screen.  The program opens list.o in its working folder, so the
// start steps into folder and back (corpus and crash files stay relative to
// where the fuzzer was started).  Any failure ends the run.
inline void start_program_on(const char *folder, const char *list_path, const std::string &list) {
    FILE *f = fopen(list_path, "wb");
    if (!f || fwrite(list.data(), 1, list.size(), f) != list.size()) abort();
    fclose(f);
    fake_reset();
    fake_set_tick(5000000);
    fake_set_screen(1280, 800);
    int start_folder = open(".", O_RDONLY | O_DIRECTORY);
    if (start_folder < 0 || chdir(folder) != 0) abort();
    if (!startup()) abort();
    if (fchdir(start_folder) != 0) abort();
    close(start_folder);
    plat_show_window(app_state.window, PLAT_SHOW);
}
