// page_bench.cpp - how long a site rule takes to analyse a full page window.
//
// Reads page files made by bench/page_analysis.sh (tests/testweb/testweb.py's
// own page maker, each page padded so that the answer as received - status
// line, headers and page - is exactly the 322,491-byte page window, the
// player part after the padding) and runs each site code's rule on its page
// in an item's receive buffer, as the page fetch does when a window is full:
// many repetitions, the page put back into the buffer before each one
// (outside the timing), the rule's call alone timed.  For every site code it
// prints the median and the fastest time per page, and whether the rule
// found the address; the same for a page of that size with nothing to find.
//
// Usage: quorvax_page_bench PAGE_DIR [REPETITIONS]
// PAGE_DIR holds found-<code>.txt and bare-<code>.txt for each site code.
// Figures only; nothing passes or fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "platform/fake/fake_platform.h"
#include "web/web.h"

namespace {

typedef std::chrono::steady_clock Clock;

const int SITE_CODES[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 13, 14, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};

bool read_file(const std::string &path, std::string *out) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    out->clear();
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, n);
    std::fclose(f);
    return true;
}

struct Timing {
    double median_us = 0, best_us = 0;
    int found = 0;
};

// The item as the page fetch holds it when the window is full: analysing,
// its page in the buffer, no file name yet.
void load(int i, int code, const std::string &page) {
    DownloadItem &it = downloads.items[i];
    const uint32_t buffer = it.buffer;
    std::memset(&it, 0, sizeof it);
    it.buffer = buffer;
    it.state = Analysing;
    it.siteKind = code;
    std::snprintf(it.pageAddress, sizeof it.pageAddress, "bench.test/watch/page-%d", code);
    std::memcpy(buffer_data(buffer), page.data(), page.size());
    it.bufferFill = (uint32_t)page.size();
}

Timing time_rule(int code, const std::string &page, int repetitions) {
    std::vector<double> us;
    Timing t;
    for (int r = 0; r < repetitions; r++) {
        load(0, code, page);
        const Clock::time_point begin = Clock::now();
        const int found = extract_stream_address(0);
        const Clock::time_point end = Clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
        if (r == 0) t.found = found != 0;
    }
    std::sort(us.begin(), us.end());
    t.median_us = us[us.size() / 2];
    t.best_us = us.front();
    return t;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvax_page_bench PAGE_DIR [REPETITIONS]\n");
        return 1;
    }
    const std::string dir = argv[1];
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 200;

    fake_reset();
    reset_app_state();
    app_state.text_scratch = (char *)std::calloc(TEXT_SCRATCH_SIZE, 1);
    restore_scrambled_table();
    unscramble_first_batch();
    unscramble_second_batch();
    if (!allocate_table(0)) return 1;
    downloads.items[0].buffer = buffer_alloc();
    downloads.item_count = 1;
    if (!downloads.items[0].buffer) return 1;

    std::printf("Page analysis of a %u-byte page window, %d repetitions per page\n", PAGE_WINDOW, repetitions);
    std::printf("site code   address at the end: median    best  found   nothing to find: median    best\n");
    double sum_found = 0, sum_bare = 0;
    int counted = 0;
    for (int code : SITE_CODES) {
        std::string found_page, bare_page;
        if (!read_file(dir + "/found-" + std::to_string(code) + ".txt", &found_page) ||
            !read_file(dir + "/bare-" + std::to_string(code) + ".txt", &bare_page)) {
            std::fprintf(stderr, "no pages for site code %d in %s\n", code, dir.c_str());
            return 1;
        }
        if (found_page.size() != PAGE_WINDOW || bare_page.size() != PAGE_WINDOW) {
            std::fprintf(stderr, "site code %d: pages of %zu and %zu bytes, not %u\n", code, found_page.size(),
                         bare_page.size(), PAGE_WINDOW);
            return 1;
        }
        const Timing f = time_rule(code, found_page, repetitions);
        const Timing b = time_rule(code, bare_page, repetitions);
        std::printf("%9d   %22.0f us %5.0f us  %-5s   %17.0f us %5.0f us\n", code, f.median_us, f.best_us,
                    f.found ? "yes" : "NO", b.median_us, b.best_us);
        sum_found += f.median_us;
        sum_bare += b.median_us;
        counted++;
    }
    std::printf("mean of the medians: %.0f us with the address at the end, %.0f us with nothing to find\n",
                sum_found / counted, sum_bare / counted);
    return 0;
}
