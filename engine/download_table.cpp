// download_table.cpp - the dense table of downloads, what one item holds,
// and the receive buffers.
//
// Sections: [TABLE] [LOADING] [ITEM] [BUFFERS]
#include "engine/download_table.h"

#include <cstdlib>
#include <cstring>

DownloadTable downloads = {nullptr, nullptr, 0, 0, -1};

// Records held beyond table_capacity, so that the candidate record and the
// block moves of a removal always stay inside the array.
static const int32_t SPARE_RECORDS = 10;
// Room made for new items whenever the table is allocated or grows.
static const int32_t GROWTH_STEP = 100;

// ---------------------------------------------------------------- [TABLE]

int item_count_allowed(int32_t count) {
    return count >= 0 && count <= MAX_ITEM_COUNT;
}

// Zero-filled records and runs for capacity entries and the spare ones; 0
// (nothing held) when either cannot be had.
static int zeroed_table(int32_t capacity, DownloadItem **items, ItemRun **runs) {
    size_t entries = (size_t)capacity + (size_t)SPARE_RECORDS;
    *items = (DownloadItem *)calloc(entries, sizeof(DownloadItem));
    *runs = (ItemRun *)calloc(entries, sizeof(ItemRun));
    if (*items && *runs) return 1;
    free(*items);
    free(*runs);
    *items = nullptr;
    *runs = nullptr;
    return 0;
}

int allocate_table(int32_t count) {
    free_table();
    // A negative count would otherwise make a table smaller than the list
    // it is meant to hold; it is refused like one that is too large.
    if (!item_count_allowed(count)) return 0;
    DownloadItem *items;
    ItemRun *runs;
    if (!zeroed_table(count + GROWTH_STEP, &items, &runs)) return 0;
    downloads.items = items;
    downloads.runs = runs;
    downloads.item_count = count;
    downloads.table_capacity = count + GROWTH_STEP;
    return 1;
}

int grow_table_if_needed(void) {
    int32_t count = downloads.item_count;
    if (downloads.items && downloads.table_capacity >= count + 2) return 1;
    DownloadItem *items;
    ItemRun *runs;
    // Without the new arrays the old table, candidate included, stays as it was.
    if (!zeroed_table(count + GROWTH_STEP, &items, &runs)) return 0;
    if (downloads.items) {
        memcpy(items, downloads.items, ((size_t)count + 1) * sizeof(DownloadItem));
        memcpy(runs, downloads.runs, ((size_t)count + 1) * sizeof(ItemRun));
        free(downloads.items);
        free(downloads.runs);
    }
    downloads.items = items;
    downloads.runs = runs;
    downloads.table_capacity = count + GROWTH_STEP;
    return 1;
}

void free_table(void) {
    free(downloads.items);
    free(downloads.runs);
    downloads.items = nullptr;
    downloads.runs = nullptr;
    downloads.item_count = 0;
    downloads.table_capacity = 0;
    downloads.selected_item = -1;
}

void remove_table_record(int32_t i) {
    int32_t count = downloads.item_count;
    if (!downloads.items || i < 0 || i >= count) return;
    // Records i+1 .. count move down; the last of them is the candidate.
    // The runs move with them, and the place the candidate left holds no
    // run, so that no item takes over the redirects of another.
    memmove(&downloads.items[i], &downloads.items[i + 1],
            (size_t)(count - i) * sizeof(DownloadItem));
    memmove(&downloads.runs[i], &downloads.runs[i + 1], (size_t)(count - i) * sizeof(ItemRun));
    memset(&downloads.runs[count], 0, sizeof(ItemRun));
    downloads.item_count = count - 1;
}

int32_t remove_table_records_in_state(uint32_t state, int32_t *const *marks, int mark_count) {
    const int32_t count = downloads.item_count;
    if (!downloads.items) return 0;
    // Done one item at a time, every removal would move the rest of the
    // table: a long list with many such items would hold the window for
    // many seconds.
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++) {
        const bool removed = downloads.items[i].state == state;
        for (int m = 0; m < mark_count; m++)
            if (*marks[m] == i) *marks[m] = removed ? -1 : kept;
        if (removed) {
            release_item(downloads.items[i]);
            continue;
        }
        if (kept != i) {
            downloads.items[kept] = downloads.items[i];
            downloads.runs[kept] = downloads.runs[i];
        }
        kept++;
    }
    if (kept == count) return 0;
    for (int m = 0; m < mark_count; m++)
        if (*marks[m] >= count) *marks[m] -= count - kept;
    downloads.items[kept] = downloads.items[count];
    downloads.runs[kept] = downloads.runs[count];
    memset(&downloads.items[kept + 1], 0, (size_t)(count - kept) * sizeof(DownloadItem));
    memset(&downloads.runs[kept + 1], 0, (size_t)(count - kept) * sizeof(ItemRun));
    downloads.item_count = kept;
    return count - kept;
}

// -------------------------------------------------------------- [LOADING]

// Handles and buffers stored by an earlier run mean nothing now; states of
// the analysing and waiting kinds go back to the queue.  Codes 6 to 10 stay,
// so a finished item stays finished and an interrupted transfer is taken up
// again by the engine; codes above 10 stay and are ignored by the engine.
void prepare_loaded_items(DownloadItem *items, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        DownloadItem *item = &items[i];
        item->buffer = 0;
        item->socket = 0;
        item->bufferFill = 0;
        item->file = 0;
        item->retryCount = 0;
        item->userStarted = 0;
        if (item->state <= Queued) item->state = Queued;
    }
}

// ----------------------------------------------------------------- [ITEM]

// The run beside item in the table, or null for a record outside it (a
// copy on the stack holds no TLS).
static ItemRun *run_of(const DownloadItem &item) {
    if (!downloads.items || !downloads.runs) return nullptr;
    ptrdiff_t k = &item - downloads.items;
    if (k < 0 || k >= (ptrdiff_t)downloads.table_capacity + 10) return nullptr;
    return &downloads.runs[k];
}

// TLS first (its close notice goes out on the socket), then the socket.
void close_item_socket(DownloadItem &item) {
    ItemRun *run = run_of(item);
    if (run) {
        if (run->tls) plat_tls_close(run->tls);
        run->tls = 0;
        run->link_phase = 0;
    }
    if (item.socket) plat_close_socket(item.socket);
    item.socket = 0;
}

void close_item_file(DownloadItem &item) {
    if (file_is_open(item.file)) plat_close(item.file);
    item.file = 0;
}

// Everything an item holds goes back (connection, buffer, file, in that
// order); the file on disk stays.
void release_item(DownloadItem &item) {
    close_item_socket(item);
    buffer_release(&item.buffer);
    close_item_file(item);
}

// What one run of an item leaves behind (buffer fill, speed, request stage,
// start by hand, followed redirect) is cleared and the item takes new_state.
// What it holds is not touched: the callers release that in their own order.
void clear_item_run(DownloadItem &item, uint32_t new_state) {
    item.bufferFill = 0;
    item.sampleBytes = 0;
    item.speed = 0;
    item.requestStage = STAGE_PAGE;
    item.userStarted = 0;
    item.redirectedPage = 0;
    item.state = new_state;
}

void fail_item(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    buffer_release(&item.buffer);
    close_item_socket(item);
    close_item_file(item);
    clear_item_run(item, Failed);
}

uint32_t receive_into_buffer(int i, uint32_t limit) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    char *data = buffer_data(item.buffer);
    if (!data || !item.socket || item.bufferFill >= RECEIVE_BUFFER_SIZE) return 0;
    uint32_t room = RECEIVE_BUFFER_SIZE - item.bufferFill;
    uint32_t want = limit < room ? limit : room;
    if (want == 0) return 0;
    plat_tls tls = downloads.runs ? downloads.runs[i].tls : 0;
    int got = tls ? plat_tls_recv(tls, data + item.bufferFill, (int)want)
                  : plat_recv(item.socket, data + item.bufferFill, (int)want);
    if (got < 0) got = 0;  // a read error (or nothing ready) counts as nothing read
    item.bufferFill += (uint32_t)got;
    return (uint32_t)got;
}

// -------------------------------------------------------------- [BUFFERS]

static char *buffer_slots[RECEIVE_BUFFER_SLOTS];

uint32_t buffer_alloc(void) {
    for (int slot = 0; slot < RECEIVE_BUFFER_SLOTS; slot++) {
        if (buffer_slots[slot]) continue;
        char *data = (char *)malloc(RECEIVE_BUFFER_SIZE);
        if (!data) return 0;
        buffer_slots[slot] = data;
        return (uint32_t)slot + 1;
    }
    return 0;  // every slot taken: treated like memory running short
}

void buffer_release(uint32_t *handle) {
    if (!handle) return;
    uint32_t h = *handle;
    if (h >= 1 && h <= (uint32_t)RECEIVE_BUFFER_SLOTS) {
        free(buffer_slots[h - 1]);
        buffer_slots[h - 1] = nullptr;
    }
    *handle = 0;
}

char *buffer_data(uint32_t handle) {
    if (handle < 1 || handle > (uint32_t)RECEIVE_BUFFER_SLOTS) return nullptr;
    return buffer_slots[handle - 1];
}

int buffers_in_use(void) {
    int n = 0;
    for (int slot = 0; slot < RECEIVE_BUFFER_SLOTS; slot++)
        if (buffer_slots[slot]) n++;
    return n;
}
