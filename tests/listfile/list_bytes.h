// list_bytes.h - building and reading list.o images byte by byte, so the
// tests state the file layout independently of the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/download_table.h"

inline void put32(std::string &b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; i++) b[off + i] = (char)(v >> (8 * i));
}

inline uint32_t get32(const std::string &b, size_t off) {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= (uint32_t)(uint8_t)b[off + i] << (8 * i);
    return v;
}

// An empty list: magic, max downloads 1, count 0, the folder at 160.
inline std::string empty_list(const std::string &folder = "") {
    std::string b(656, '\0');
    b[0] = '\xA1';
    b[1] = '\xB2';
    b[2] = '\xC3';
    b[3] = '\xD4';
    b[12] = 1;
    b.replace(160, folder.size(), folder);
    return b;
}

inline DownloadItem make_item(const char *page, uint32_t state, uint32_t done = 0,
                              uint32_t total = 0) {
    DownloadItem item;
    memset(&item, 0, sizeof item);
    item.state = state;
    item.doneSize = done;
    item.totalSize = total;
    strncpy(item.pageAddress, page, sizeof item.pageAddress - 1);
    return item;
}

inline std::string record_bytes(const DownloadItem &item) {
    return std::string((const char *)&item, sizeof item);
}

inline size_t record_at(int index) { return 656 + 1204 * (size_t)index; }
