// bench_support.h - what the benchmarks that start the program on the test
// backend's window share: the list file they begin with (the settings
// header and count queued items of one site, nothing downloaded yet) and
// percentiles of their measurements.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/download_table.h"
#include "listfile/listfile.h"

inline void bench_put32(std::string &b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++) b[at + (size_t)k] = (char)(v >> (8 * k));
}

// Writes path: max_active downloads at once, count items whose page
// addresses (and file names, when file_format is given) are the formats
// with the item's index.
inline bool write_bench_list(const char *path, int count, int max_active, const char *page_format,
                             const char *file_format) {
    std::string list(656, '\0');
    bench_put32(list, 0, LIST_MAGIC);
    list[12] = (char)max_active;
    bench_put32(list, 32, (uint32_t)count);
    for (int i = 0; i < count; i++) {
        DownloadItem item;
        memset(&item, 0, sizeof item);
        item.state = Queued;
        item.siteKind = 3;
        snprintf(item.pageAddress, sizeof item.pageAddress, page_format, i);
        if (file_format) snprintf(item.fileName, sizeof item.fileName, file_format, i);
        list.append((const char *)&item, sizeof item);
    }
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    const bool written = fwrite(list.data(), 1, list.size(), f) == list.size();
    return fclose(f) == 0 && written;
}

// The p-th percentile (0 to 1) of v, the nearest rank; 0 for none.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t k = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[k];
}
