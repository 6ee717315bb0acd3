// fuzz_response.cpp - one download item through the page fetch driver and
// the transfer, with arbitrary bytes as everything its connection answers.
//
// The item's connection is a loopback connection made through the platform;
// the fuzzer's bytes are written into the other end, which is then closed,
// so the item reads them as they would arrive and then sees the connection
// end.  The
// item is stepped as the engine steps it (the driver while it fetches, the
// header and body steps while it transfers) until its connection is gone or
// nothing more happens.  No step may open a new connection: the harness
// stops as soon as the item has none.
//
// Input: four setup bytes, then the answer.
//   0  bits 0-1: requestStage 0, 1 or 2 (3 counts as 2);
//      bits 2-3: Analysing, Connecting, RestartFromZero (3: Connecting)
//   1  siteKind (0..31)
//   2  bit 0: doneSize 1000 and totalSize 5000 (else both 0; an item
//      still being analysed has stored nothing);
//      bit 1: the output file exists before the run;
//      bits 2-3: file name "video 1a2b3c.flv", "", "." or "..";
//      bit 4: a redirected page (redirectedPage 1)
//   3  redirects already counted in this attempt (0..15)

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"
#include "support/seam_connection.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const uint32_t TICK = 0x1a2b3c;
const int STEPS_MAX = 12;
const size_t ANSWER_MAX = 60000;   // the longest answer, readable whole at once
const char OUTPUT_NAME[] = "video 1a2b3c.flv";

char folder[] = "/tmp/quorvax-fuzz-response-XXXXXX";
char output_path[sizeof folder + sizeof OUTPUT_NAME + 1];
char list_path[sizeof folder + sizeof LIST_FILE_NAME + 1];

void remove_folder() {
    close_file(app_state.list_file);
    unlink(output_path);
    unlink(list_path);
    rmdir(folder);
}

bool initialise() {
    if (!mkdtemp(folder)) abort();
    snprintf(output_path, sizeof output_path, "%s/%s", folder, OUTPUT_NAME);
    snprintf(list_path, sizeof list_path, "%s/%s", folder, LIST_FILE_NAME);
    fake_reset();
    fake_set_tick(TICK);
    reset_app_state();
    app_state.now_tick = TICK;
    app_state.online = 1;
    app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
    unscramble_first_batch();
    unscramble_second_batch();
    write_request_token(TICK);
    strcpy(app_state.download_folder, folder);
    // An empty list: the magic, then zeros up to the records.
    unsigned char header[LIST_HEADER_SIZE] = {0xA1, 0xB2, 0xC3, 0xD4};
    FILE *f = fopen(list_path, "wb");
    if (!f || fwrite(header, 1, sizeof header, f) != sizeof header) abort();
    fclose(f);
    app_state.list_file = open_existing_rw(list_path);
    if (app_state.list_file == PLAT_INVALID_FILE) abort();
    if (!allocate_table(1)) abort();
    atexit(remove_folder);
    return true;
}

// The step the engine runs for the item's state; 0 when it runs none.
int step(int i) {
    DownloadItem &item = downloads.items[i];
    switch (item.state) {
    case Analysing: fetch_page(i, 0, 0); return 1;
    case Connecting: fetch_page(i, item.doneSize, 1); return 1;
    case RestartFromZero: fetch_page(i, 0, 1); return 1;
    case ReceivingHeaders: receive_headers_step(i); return 1;
    case Downloading: receive_body_step(i); return 1;
    default: return 0;
    }
}

bool is_terminated(const char *field, size_t size) { return memchr(field, 0, size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = initialise();
    (void)ready;
    if (size < 4 || size - 4 > ANSWER_MAX) return 0;
    uint8_t setup = data[0], kind = data[1], options = data[2], redirects = data[3];
    const uint8_t *answer = data + 4;
    size_t answer_size = size - 4;

    SeamConnection connection;
    if (!seam_connect(&connection, ANSWER_MAX) ||
        !seam_send(connection, std::string((const char *)answer, answer_size)))
        abort();
    seam_close_peer(&connection);

    unlink(output_path);
    if (options & 2) {
        FILE *f = fopen(output_path, "wb");
        if (f) {
            fwrite("0123456789", 1, 10, f);
            fclose(f);
        }
    }

    DownloadItem &item = downloads.items[0];
    memset(&item, 0, sizeof item);
    static const uint32_t states[] = {Analysing, Connecting, RestartFromZero, Connecting};
    item.state = states[(setup >> 2) & 3];
    item.requestStage = (int16_t)((setup & 3) == 3 ? 2 : setup & 3);
    item.siteKind = kind % 32;
    if ((options & 1) && item.state != Analysing) {
        item.doneSize = 1000;
        item.totalSize = 5000;
    }
    static const char *names[] = {OUTPUT_NAME, "", ".", ".."};
    strcpy(item.fileName, names[(options >> 2) & 3]);
    strcpy(item.pageAddress, "reelbox.test/watch/fuzz");
    strcpy(item.streamAddress, "cdn.reelbox.test/stream/fuzz");
    item.socket = connection.socket;
    item.buffer = buffer_alloc();
    item.lastActivityTick = TICK;
    char *buffer = buffer_data(item.buffer);
    check(buffer != nullptr, "a receive buffer");
    // The request just opened: no address noted, the attempt's redirects
    // so far.
    downloads.runs[0] = ItemRun{};
    for (int k = 0; k < (redirects & 15); k++) count_redirect(0);
    if (options & 16) {
        strcpy(buffer, "reelbox.test/watch/moved");
        item.redirectedPage = 1;
    }

    for (int n = 0; n < STEPS_MAX && item.socket; n++) {
        uint32_t before_fill = item.bufferFill, before_state = item.state;
        int16_t before_stage = item.requestStage;
        if (!step(0)) break;
        check(item.bufferFill <= RECEIVE_BUFFER_SIZE, "bufferFill within the buffer");
        bool moved = item.bufferFill != before_fill || item.state != before_state ||
                     item.requestStage != before_stage;
        if (!moved && plat_readable(item.socket) == 0) break;
    }

    // QUORVAX_FUZZ_SHOW=1 prints where the item ended (for looking at seeds).
    static const bool show = getenv("QUORVAX_FUZZ_SHOW") != nullptr;
    if (show)
        printf("state %s stage %d total %u done %u address \"%s\" name \"%s\"\n",
               item_state_name(item.state) ? item_state_name(item.state) : "?", item.requestStage, item.totalSize,
               item.doneSize, item.streamAddress, item.fileName);
    check(is_terminated(item.streamAddress, sizeof item.streamAddress), "streamAddress terminated in its field");
    check(is_terminated(item.fileName, sizeof item.fileName), "fileName terminated in its field");
    check(item.doneSize <= item.totalSize || item.totalSize == 0 || item.state == Failed,
          "never more stored than the stream's length");
    if (item.state == ReceivingHeaders || item.state == Downloading || item.state == Finished) {
        check(file_name_is_safe(item.fileName), "an output file only under a safe name");
        check(item.totalSize > 0, "a transfer knows its length");
    }
    if (item.state == Queued) check(item.socket == 0 && item.buffer == 0, "a measured item holds nothing");
    if (item.state == Failed) check(item.socket == 0, "a failed item holds no connection");

    // The output file holds no byte that doneSize does not count, besides
    // the 10 it may have started with: bodies are written only at doneSize,
    // and an answer that restarts the file or is dropped (a 206 starting
    // elsewhere) cuts it together with doneSize.
    FILE *out = fopen(output_path, "rb");
    if (out) {
        fseek(out, 0, SEEK_END);
        long length = ftell(out);
        fclose(out);
        check(length <= 10 || (uint64_t)length <= item.doneSize, "the file holds only counted bytes");
    }

    // Nothing but the list and the one output file appears in the folder.
    DIR *dir = opendir(folder);
    if (dir) {
        for (struct dirent *e; (e = readdir(dir));) {
            const char *n = e->d_name;
            check(!strcmp(n, ".") || !strcmp(n, "..") || !strcmp(n, LIST_FILE_NAME) || !strcmp(n, OUTPUT_NAME),
                  "only the item's own output file is created");
        }
        closedir(dir);
    }

    release_item(item);
    check(buffers_in_use() == 0, "no receive buffer held");
    return 0;
}
