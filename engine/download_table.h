// download_table.h - the download record, its states and the dense table.
//
// One DownloadItem is both the in-memory item and the 1204-byte record of the
// list file, byte for byte.  The table is addressed only by index; the record
// at index item_count is the candidate that clipboard capture fills in.
#pragma once

#include <cstddef>
#include <cstdint>

// Item states.  Keep item_state_name() in step (a static_assert checks it).
enum ItemState : uint32_t {
    Analysing = 1,        // page fetched and analysed, then the stream's length probed
    Stopped = 2,          // stopped by the user; holds nothing
    Downloading = 3,      // receiving the stream body
    Failed = 4,           // no stream found, or given up after retries
    Queued = 5,           // waiting for a free download slot
    Finished = 6,         // doneSize reached totalSize; file closed
    RestartFromZero = 7,  // like Connecting, the stream asked for from byte 0
    Connecting = 8,       // page fetched again, then the stream from doneSize
    ReceivingHeaders = 9, // stream answered with a length; reading to the blank line
    WaitingRetry = 10,    // no connection made; waits for the time-out
};
static const int ITEM_STATE_COUNT = 10;
// "Analysing", ... for codes 1..10; "state N" style text is up to the caller
// for other codes (null is returned).
const char *item_state_name(uint32_t code);

// Size of an item's receive buffer.
static const uint32_t RECEIVE_BUFFER_SIZE = 1376256;

#pragma pack(push, 1)
struct DownloadItem {
    uint32_t socket;           // connection (platform socket); 0 = none
    uint32_t state;            // ItemState code
    uint32_t lastActivityTick; // tick of last progress or state change
    uint32_t totalSize;        // stream length; 0 = not known yet
    uint32_t doneSize;         // body bytes stored in the output file
    uint32_t bufferFill;       // bytes held in buffer
    uint32_t sampleBytes;      // body bytes since the last speed sample
    uint32_t speed;            // smoothed bytes per 500 ms
    int32_t siteKind;          // site rule, 0..25
    int16_t retryCount;        // retries since last progress
    int16_t redirectedPage;    // 1: redirect target held at the start of buffer
    int16_t requestStage;      // 0 page, 1 stream address, 2 stream with range
    int16_t userStarted;       // 1: started by hand, outside max_active
    uint32_t file;             // output file; PLAT_INVALID_FILE or 0 = none
    uint32_t buffer;           // receive buffer handle (see buffer_data); 0 = none
    char pageAddress[512];     // page address as captured
    char streamAddress[512];   // stream address found in the page
    char fileName[128];        // output file name inside download_folder
};
#pragma pack(pop)

static_assert(sizeof(DownloadItem) == 1204, "list-file record is 1204 bytes");
static_assert(offsetof(DownloadItem, socket) == 0, "record layout");
static_assert(offsetof(DownloadItem, state) == 4, "record layout");
static_assert(offsetof(DownloadItem, lastActivityTick) == 8, "record layout");
static_assert(offsetof(DownloadItem, totalSize) == 12, "record layout");
static_assert(offsetof(DownloadItem, doneSize) == 16, "record layout");
static_assert(offsetof(DownloadItem, bufferFill) == 20, "record layout");
static_assert(offsetof(DownloadItem, sampleBytes) == 24, "record layout");
static_assert(offsetof(DownloadItem, speed) == 28, "record layout");
static_assert(offsetof(DownloadItem, siteKind) == 32, "record layout");
static_assert(offsetof(DownloadItem, retryCount) == 36, "record layout");
static_assert(offsetof(DownloadItem, redirectedPage) == 38, "record layout");
static_assert(offsetof(DownloadItem, requestStage) == 40, "record layout");
static_assert(offsetof(DownloadItem, userStarted) == 42, "record layout");
static_assert(offsetof(DownloadItem, file) == 44, "record layout");
static_assert(offsetof(DownloadItem, buffer) == 48, "record layout");
static_assert(offsetof(DownloadItem, pageAddress) == 52, "record layout");
static_assert(offsetof(DownloadItem, streamAddress) == 564, "record layout");
static_assert(offsetof(DownloadItem, fileName) == 1076, "record layout");

// The table of downloads.  items holds table_capacity + 10 records.
struct DownloadTable {
    DownloadItem *items;    // contiguous, index 0 first; null before start-up
    int32_t item_count;     // number of items (persisted at offset 32)
    int32_t table_capacity; // records usable without growing
    int32_t selected_item;  // selected index, -1 = none
};
extern DownloadTable downloads;

// Largest item count a list file may hold.
static const int32_t MAX_ITEM_COUNT = 10000000;

// 1 when a list may hold count items: 0 to MAX_ITEM_COUNT.
int item_count_allowed(int32_t count);
// Allocates a zero-filled table for count items (capacity count + 100, room
// for 10 more) and sets item_count to count.  Returns 0 when count is out of
// range or memory is short (the table is then empty).
int allocate_table(int32_t count);
// Moves the table into a new array of item_count + 100 records, carrying the
// candidate record, when table_capacity < item_count + 2.  Returns 0 when the
// new array cannot be had (the table is then unchanged).
int grow_table_if_needed(void);
// Releases the table (items, buffers are the caller's to release first).
void free_table(void);
// Prepares records read from the list file for this run.
void prepare_loaded_items(DownloadItem *items, int32_t count);
// Removes item i: moves records i+1 .. item_count (candidate included) down
// and decrements item_count.  Releases nothing.
void remove_table_record(int32_t i);

// Receive buffers.  An item holds a buffer through a small non-zero handle
// so that the record keeps its 32-bit layout on every build.
static const int RECEIVE_BUFFER_SLOTS = 1024;  // buffers held at once, at most
// Allocates a RECEIVE_BUFFER_SIZE buffer; 0 when memory is short.
uint32_t buffer_alloc(void);
// Releases the buffer and stores 0 in the handle; nothing for 0.
void buffer_release(uint32_t *handle);
// The bytes of a buffer; null for 0 or an unknown handle.
char *buffer_data(uint32_t handle);
// Number of buffers currently held (for tests and shutdown checks).
int buffers_in_use(void);
