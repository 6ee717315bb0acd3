// download_table.cpp - the dense table of downloads and the receive buffers.
//
// Sections: [TABLE] [LOADING] [BUFFERS]
#include "engine/download_table.h"

#include <cstdlib>
#include <cstring>

DownloadTable downloads = {nullptr, 0, 0, -1};

// Records held beyond table_capacity, so that the candidate record and the
// block moves of a removal always stay inside the array.
static const int32_t SPARE_RECORDS = 10;
// Room made for new items whenever the table is allocated or grows.
static const int32_t GROWTH_STEP = 100;

// ---------------------------------------------------------------- [TABLE]

int item_count_allowed(int32_t count) {
    return count >= 0 && count <= MAX_ITEM_COUNT;
}

static DownloadItem *zeroed_records(int32_t capacity) {
    size_t records = (size_t)capacity + (size_t)SPARE_RECORDS;
    return (DownloadItem *)calloc(records, sizeof(DownloadItem));
}

int allocate_table(int32_t count) {
    free_table();
    // A negative count would otherwise make a table smaller than the list
    // it is meant to hold; it is refused like one that is too large.
    if (!item_count_allowed(count)) return 0;
    DownloadItem *items = zeroed_records(count + GROWTH_STEP);
    if (!items) return 0;
    downloads.items = items;
    downloads.item_count = count;
    downloads.table_capacity = count + GROWTH_STEP;
    return 1;
}

int grow_table_if_needed(void) {
    int32_t count = downloads.item_count;
    if (downloads.items && downloads.table_capacity >= count + 2) return 1;
    DownloadItem *items = zeroed_records(count + GROWTH_STEP);
    if (!items) return 0;  // the old table, candidate included, stays as it was
    if (downloads.items) {
        memcpy(items, downloads.items, ((size_t)count + 1) * sizeof(DownloadItem));
        free(downloads.items);
    }
    downloads.items = items;
    downloads.table_capacity = count + GROWTH_STEP;
    return 1;
}

void free_table(void) {
    free(downloads.items);
    downloads.items = nullptr;
    downloads.item_count = 0;
    downloads.table_capacity = 0;
    downloads.selected_item = -1;
}

void remove_table_record(int32_t i) {
    int32_t count = downloads.item_count;
    if (!downloads.items || i < 0 || i >= count) return;
    // Records i+1 .. count move down; the last of them is the candidate.
    memmove(&downloads.items[i], &downloads.items[i + 1],
            (size_t)(count - i) * sizeof(DownloadItem));
    downloads.item_count = count - 1;
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
