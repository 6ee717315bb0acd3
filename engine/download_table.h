// download_table.h - the download record, its states and the dense table.
//
// One DownloadItem is both the in-memory item and the 1204-byte record of the
// list file, byte for byte.  The table is addressed only by index; the record
// at index item_count is the candidate that clipboard capture fills in.
//
// This is the record every layer from the list file up shares: besides the
// table it holds what belongs to one record's lifetime (its receive buffer,
// the release of what it holds, the read into its buffer), so that the list
// file and the web layer need nothing else of the engine.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

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

// Which request an item's next connection sends.  Keep request_stage_name()
// in step (a static_assert checks it).
enum RequestStage : int16_t {
    STAGE_PAGE = 0,            // the page (pageAddress, or a redirect target)
    STAGE_STREAM_ADDRESS = 1,  // streamAddress without a range; its answer says where next
    STAGE_STREAM = 2,          // the stream at streamAddress, from doneSize
};
static const int REQUEST_STAGE_COUNT = 3;
// "page", ... for stages 0..2; null for any other value.
const char *request_stage_name(int stage);

// Site codes of addresses taken without a site pattern: a link straight to a
// media file, and any other web page.  Their pageAddress keeps its scheme
// ("http://" or "https://"); the 24 patterns' addresses never carry one.
static const int32_t SITE_DIRECT_MEDIA = 26;
static const int32_t SITE_WEB_PAGE = 27;
inline bool site_kind_keeps_scheme(int32_t kind) {
    return kind == SITE_DIRECT_MEDIA || kind == SITE_WEB_PAGE;
}

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
    int32_t siteKind;          // site rule 0..25, SITE_DIRECT_MEDIA or SITE_WEB_PAGE
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

// What the page fetch keeps about an item's request in flight, for this run
// only (never stored): the address asked for, and how many redirects the
// current attempt has followed.  An attempt starts with the request for the
// captured page and goes on while each step moves the item to its next
// address; continuation_check names that next address.
static const int REQUEST_ADDRESS_SIZE = 512;
struct ItemRun {
    int32_t redirects;            // redirects followed in the current attempt
    int32_t continues;            // 1: the next request continues the attempt
    uint32_t continuation_check;  // checksum of the address it continues with
    char request_address[REQUEST_ADDRESS_SIZE]; // the request in flight; "" none
    uint32_t unsent_socket;       // the item's socket while its connect is under
                                  // way and its request not yet sent; 0 none
    int32_t request_proxy;        // use_proxy when that connect started
    // A link kept with its scheme (SITE_DIRECT_MEDIA, SITE_WEB_PAGE) steps
    // through its own setup before each request goes out: a proxy tunnel,
    // then TLS.
    plat_tls tls;                 // TLS over socket for an https link; 0 none
    int32_t link_phase;           // LinkPhase of that setup
    uint32_t phase_tick;          // tick the current phase began
    // Any other web page (SITE_WEB_PAGE): how far its first answer has been
    // read in this attempt (WebPagePhase in web/web.h), and the page's title
    // kept to name the file when the stream answers.
    int32_t page_phase;
    char page_title[128];
};

// The table of downloads.  items and runs hold table_capacity + 10 entries
// each, index for index; the table helpers below allocate, grow, move and
// release both together, so an item's run never passes to a neighbour.
struct DownloadTable {
    DownloadItem *items;    // contiguous, index 0 first; null before start-up
    ItemRun *runs;          // the run of the item at the same index
    int32_t item_count;     // number of items (persisted at offset 32)
    int32_t table_capacity; // records usable without growing
    int32_t selected_item;  // selected index, -1 = none
};
extern DownloadTable downloads;

// Debug builds check every item index an operation takes: an item of the
// list (0 .. item_count - 1), or for the capture the candidate as well.
#define ASSERT_ITEM_INDEX(i) \
    assert(downloads.items && (i) >= 0 && (i) < downloads.item_count)
#define ASSERT_ITEM_OR_CANDIDATE(i) \
    assert(downloads.items && (i) >= 0 && (i) <= downloads.item_count)

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
// Takes every item in the given state out of the table in one pass,
// releasing what each holds: the items kept move down in their order, the
// candidate follows the last of them, the runs go with their records.  Each
// index in marks (a selection, a hovered row) names the same item after as
// before, or -1 when its item was removed.  Returns the number removed.
int32_t remove_table_records_in_state(uint32_t state, int32_t *const *marks, int mark_count);

// ---- what one item holds
// 1 when a file field names an open file (0 and PLAT_INVALID_FILE do not).
inline int file_is_open(uint32_t file) { return file != 0 && file != PLAT_INVALID_FILE; }
// What an item holds, released and cleared: its connection (socket 0, and
// the TLS over it kept in the item's run), its output file (file 0), or all
// of them with the receive buffer as well.
void close_item_socket(DownloadItem &item);
void close_item_file(DownloadItem &item);
void release_item(DownloadItem &item);
// Clears the fields of an item's current run and sets its state; releases
// nothing.
void clear_item_run(DownloadItem &item, uint32_t new_state);
// Gives item i up as Failed, releasing what it holds (the record is not
// written).
void fail_item(int i);
// Reads at most limit bytes (and no more than the room left in its buffer)
// from item i's connection into its buffer; returns the bytes read, 0 when
// there is no buffer, connection or room, or on a read error.
uint32_t receive_into_buffer(int i, uint32_t limit);

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
