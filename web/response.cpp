// response.cpp - reading what arrives for a download item and the two
// response headers the program acts on.
//
//   [READING]   query_available, read_page_data (the page window)
//   [HEADERS]   find_header, read_header_value, response_status
//   [REDIRECT]  follow_stream_redirect (stages 1 and 2)
//   [LENGTH]    take_stream_answer: status, length, probe end, output file

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "platform/platform.h"
#include "web/text.h"
#include "web/web.h"

namespace {

const int LENGTH_TEXT_CAP = 32;

}  // namespace

// --------------------------------------------------------------- [READING]

uint32_t query_available(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    return item.socket ? plat_readable(item.socket) : 0;
}

int read_page_data(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    uint32_t available = query_available(i);
    if (available == 0 || !item.buffer) return 0;
    // A full window is analysed as it stands, then overwritten from the
    // start; the analysis result shows in the item (a success has closed
    // the connection and moved the stage on).
    if ((uint64_t)available + item.bufferFill > PAGE_WINDOW) {
        extract_stream_address(i);
        item.bufferFill = 0;
    }
    if (item.socket) {
        // Page text never passes the window: what does not fit now is read
        // on the next step, into the next window.
        uint32_t room = item.bufferFill < PAGE_WINDOW ? PAGE_WINDOW - item.bufferFill : 0;
        receive_into_buffer(i, available < room ? available : room);
    }
    item.lastActivityTick = app_state.now_tick;
    return 1;
}

// --------------------------------------------------------------- [HEADERS]

int find_header(int i, const char *name) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (!text) return 0;
    begin_search(0, (int32_t)item.bufferFill);
    if (!find_text(text, name)) return 0;
    // The rest of the line must have arrived and hold something.
    for (uint32_t k = (uint32_t)search_cursor; k < item.bufferFill; k++)
        if (text[k] == '\r') return k > (uint32_t)search_cursor;
    return 0;
}

int read_header_value(int i, int stop_at_space, char *out, int out_size) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    if (out_size <= 0) return 0;
    int n = 0;
    if (text) {
        uint32_t k = search_cursor < 0 ? 0 : (uint32_t)search_cursor;
        while (k < item.bufferFill && text[k] == ' ') k++;
        // Values longer than out are cut to fit.
        for (; k < item.bufferFill && n < out_size - 1; k++) {
            char c = text[k];
            if (c == '\r' || c == 0 || (stop_at_space && c == ' ')) break;
            out[n++] = c;
        }
    }
    out[n] = 0;
    return n;
}

int response_status(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    const char *text = buffer_data(item.buffer);
    uint32_t fill = item.bufferFill;
    if (!text || fill < 5 || memcmp(text, "HTTP/", 5) != 0) return 0;
    uint32_t k = 5;
    while (k < fill && text[k] != ' ' && text[k] != '\r') k++;   // version
    while (k < fill && text[k] == ' ') k++;
    int code = 0, digits = 0;
    for (; k < fill && digits < 3 && text[k] >= '0' && text[k] <= '9'; k++, digits++)
        code = code * 10 + (text[k] - '0');
    if (digits != 3) return 0;
    for (; k < fill; k++)
        if (text[k] == '\r') return code;   // the status line is complete
    return 0;
}

// -------------------------------------------------------------- [REDIRECT]

int follow_stream_redirect(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    if (!find_header(i, string_entry(STR_REDIRECT_HEADER))) return 0;
    if (!count_redirect(i)) {
        give_up_item(i);
        return 1;
    }
    char target[sizeof item.streamAddress];
    read_header_value(i, 0, target, (int)sizeof target);
    plat_close_socket(item.socket);
    item.socket = 0;
    item.lastActivityTick = app_state.now_tick;
    item.requestStage = STAGE_STREAM;
    item.bufferFill = 0;
    // Stored as it came (scheme prefix included): the request skips it.
    resolve_redirect(i, target, item.streamAddress, (int)sizeof item.streamAddress);
    return 1;
}

// ---------------------------------------------------------------- [LENGTH]

namespace {

// The announced length: 1 and the value when the text starts with digits
// that make a length from 1 to 4 GiB - 1.  Anything else cannot be a
// stream this program can hold in its 32-bit sizes.
int parse_length(const char *text, uint32_t *length) {
    uint64_t value = 0;
    int digits = 0;
    for (; text[digits] >= '0' && text[digits] <= '9'; digits++) {
        value = value * 10 + (uint64_t)(text[digits] - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    if (digits == 0 || value == 0) return 0;
    *length = (uint32_t)value;
    return 1;
}

// Opens the output file for a transfer that is starting.  Returns 1 when
// the item may go on to its headers, 0 when it has been given up or sent
// back to ask for the stream again.
int open_output_file(int i, uint32_t announced, uint32_t range_start, int status) {
    DownloadItem &item = downloads.items[i];
    // The body starts at byte 0 when no range was asked for, or when the
    // server ignored the range (200 instead of 206).  The file is then
    // written from its start, cut to nothing first.
    bool from_zero = range_start == 0 || status == 200;
    char path[OUTPUT_PATH_CAP];
    if (!file_name_is_safe(item.fileName) || !build_output_path(path, (int)sizeof path, item.fileName)) {
        give_up_item(i);
        return 0;
    }
    plat_file file = open_existing_rw(path);
    if (file_is_open(file)) {
        if (from_zero) {
            // Written anew: the whole stream's length is the one to reach.
            item.doneSize = 0;
            item.totalSize = announced;
            plat_truncate(file, 0);
        }
        seek_from_start(file, (int64_t)item.doneSize);
    } else if (!from_zero && !plat_file_exists(path)) {
        // The file vanished while a ranged answer is on its way: that answer
        // would leave a file with a hole at its start.  Ask again from byte 0.
        plat_close_socket(item.socket);
        item.socket = 0;
        item.bufferFill = 0;
        item.doneSize = 0;
        item.requestStage = STAGE_STREAM;
        item.lastActivityTick = app_state.now_tick;
        write_item_record(i);
        return 0;
    } else {
        item.totalSize = announced;
        item.doneSize = 0;
        file = create_new_rw(path);
        if (!file_is_open(file)) {
            // Neither opened nor created (held by another program, or no
            // such folder): writing on with no file would lose the stream.
            give_up_item(i);
            return 0;
        }
    }
    item.file = file;
    return 1;
}

}  // namespace

void take_stream_answer(int i, uint32_t range_start, int stream_mode) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    // An error answer is not the stream, whatever length it announces.
    int status = response_status(i);
    if (status >= 400 && status <= 599) {
        give_up_item(i);
        return;
    }
    if (!find_header(i, string_entry(STR_LENGTH_HEADER))) return;
    item.lastActivityTick = app_state.now_tick;
    char text[LENGTH_TEXT_CAP];
    read_header_value(i, 1, text, (int)sizeof text);
    uint32_t announced = 0;
    if (!parse_length(text, &announced)) {
        // No digits, 0, or 4 GiB and more: not a video this program can save.
        give_up_item(i);
        return;
    }
    if (item.totalSize < announced) item.totalSize = announced;
    write_item_record(i);

    if (!stream_mode) {
        // The length probe of a new item ends here.
        plat_close_socket(item.socket);
        item.socket = 0;
        buffer_release(&item.buffer);
        item.bufferFill = 0;
        item.state = Queued;
        item.totalSize = announced;
        write_item_record(i);
        return;
    }
    if (!open_output_file(i, announced, range_start, status)) return;
    item.state = ReceivingHeaders;
}
