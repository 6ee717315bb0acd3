// failure_log.cpp - one line per download given up for a reason a person
// can act on (a certificate, a refused stream), in a small file beside the
// list.
//
// The file never grows past FAILURE_LOG_CAP: a line that would pass it
// starts the file afresh, so the newest lines are always there and the
// oldest go in one piece.  The program has no wall clock, so a line starts
// with the tick (milliseconds since the system started) at which it was
// written.  Nothing here can fail a download: a log that cannot be opened
// or written is skipped.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "engine/download_table.h"
#include "platform/platform.h"
#include "web/web.h"

void log_item_failure(int i, const char *reason) {
    ASSERT_ITEM_INDEX(i);
    const DownloadItem &item = downloads.items[i];
    char line[sizeof item.pageAddress + 96];
    int address_length = (int)strnlen(item.pageAddress, sizeof item.pageAddress);
    int n = snprintf(line, sizeof line, "t+%u %.*s %s\n", (unsigned)app_state.now_tick, address_length,
                     item.pageAddress, reason ? reason : "");
    if (n <= 0) return;
    if (n >= (int)sizeof line) {
        n = (int)sizeof line - 1;
        line[n - 1] = '\n';
    }
    plat_file file = plat_open_existing_rw(FAILURE_LOG_NAME);
    if (file == PLAT_INVALID_FILE) file = plat_create_new_rw(FAILURE_LOG_NAME);
    if (!file_is_open(file)) return;
    int64_t size = plat_file_size(file);
    if (size < 0 || size + n > FAILURE_LOG_CAP) {
        plat_truncate(file, 0);
        size = 0;
    }
    plat_write_at(file, size, line, (uint32_t)n);
    plat_close(file);
}

void give_up_item_logged(int i, const char *reason) {
    log_item_failure(i, reason);
    give_up_item(i);
}
