// transfer.cpp - the stream's bytes from the socket to the output file.
//
// The page fetch driver (web/) leaves an item in ReceivingHeaders with its
// connection open, the start of the response in its buffer and its output
// file open at doneSize.  From there the header step finds the blank line
// that ends the response headers, and the body step moves received bytes
// into the file in blocks of a little over FLUSH_THRESHOLD bytes, saving the
// record after each block, until doneSize reaches totalSize.
//
// doneSize counts only bytes the file actually took.  A write that stores
// fewer bytes than it was given (a full disk, a file that could not be
// opened) gives the item up as Failed at once with its record saved, so that
// doneSize on disk matches what the file holds; going on would leave a hole
// in the file that a later resume could never fill.
//
// Sections: [WRITING] [HEADER STEP] [BODY STEP]
#include "engine/engine.h"

#include <cstring>

#include "app/app_state.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "web/web.h"

// -------------------------------------------------------------- [WRITING]

// Bytes of the stream still to come; bytes past the announced length are
// not part of the stream and are never written.
static uint32_t bytes_remaining(const DownloadItem &item) {
    return item.totalSize > item.doneSize ? item.totalSize - item.doneSize : 0;
}

// Writes count bytes at the file's position and adds what was stored to
// doneSize.  1 when everything was stored.
static int store_body_bytes(DownloadItem &item, const char *bytes, uint32_t count) {
    if (count == 0) return 1;
    uint32_t stored = file_is_open(item.file) ? write_bytes(item.file, bytes, count) : 0;
    if (stored > count) stored = count;
    item.doneSize += stored;
    return stored == count;
}

// ---------------------------------------------------------- [HEADER STEP]

// Position of the first CR LF CR LF lying wholly inside the first fill bytes,
// or -1.  Bytes past fill are left over from earlier use of the buffer and
// must not complete a match.
static int64_t find_blank_line(const char *data, uint32_t fill) {
    if (fill < 4) return -1;
    const char *p = data;
    const char *end = data + fill - 3;
    while (p < end) {
        p = (const char *)memchr(p, '\r', (size_t)(end - p));
        if (!p) return -1;
        if (p[1] == '\n' && p[2] == '\r' && p[3] == '\n') return p - data;
        p++;
    }
    return -1;
}

int receive_headers_step(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    uint32_t available = query_available(i);
    if (available > 0 && item.buffer) {
        receive_into_buffer(i, available);
        item.retryCount = 0;
        item.lastActivityTick = app_state.now_tick;
    }
    const char *data = buffer_data(item.buffer);
    if (!data) return 0;
    int64_t k = find_blank_line(data, item.bufferFill);
    if (k < 0) return 0;  // headers not complete yet: the buffer keeps growing

    // Whatever follows the blank line is stream data for offset doneSize.
    uint32_t body = item.bufferFill - (uint32_t)k - 4;
    uint32_t remaining = bytes_remaining(item);
    if (body > remaining) body = remaining;
    if (!store_body_bytes(item, data + k + 4, body)) {
        give_up_item(i);
        return 1;
    }
    item.bufferFill = 0;
    item.state = Downloading;
    write_item_record(i);
    return 0;
}

// ------------------------------------------------------------ [BODY STEP]

int receive_body_step(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    uint32_t available = query_available(i);
    if (available > 0 && item.buffer) {
        app_state.offline_notice = 0;
        item.sampleBytes += receive_into_buffer(i, available);
        item.lastActivityTick = app_state.now_tick;
        item.retryCount = 0;
    }

    // Flush rule: a full block, or the end of the stream in sight (then on
    // every step, so the last bytes never wait for a full block).
    if (item.bufferFill > FLUSH_THRESHOLD || item.totalSize - item.doneSize < FLUSH_THRESHOLD) {
        uint32_t count = item.bufferFill;
        uint32_t remaining = bytes_remaining(item);
        if (count > remaining) count = remaining;
        const char *data = buffer_data(item.buffer);
        int stored_all = data ? store_body_bytes(item, data, count) : count == 0;
        item.bufferFill = 0;
        if (!stored_all) {
            give_up_item(i);
            return 1;
        }
        write_item_record(i);
    }

    if (item.doneSize >= item.totalSize) {
        close_item_socket(item);
        buffer_release(&item.buffer);
        item.state = Finished;
        close_item_file(item);
        write_item_record(i);
        return 1;
    }
    return 0;
}
