// items.cpp - adding, starting, stopping and removing downloads.
//
// These run between engine steps, from the window procedure, the Delete key
// and the engine's own regulation.  Each leaves the record in a state the
// engine can pick up (socket, buffer and file either valid or cleared) and
// keeps the list file in step with the table.
//
// Calls upward, because a change of the table changes what the window
// lists: the visible rows are rebuilt and the scroll thumb placed again
// (ui/list_view.h), and a capture empties the clipboard to end the offer
// (ui/clipboard.h).
//
// Sections: [HELPERS] [ADDING] [STARTING AND STOPPING] [MENU] [REMOVAL]
//           [AFTER LOADING]
#include "engine/engine.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "listfile/address_text.h"
#include "listfile/listfile.h"
#include "ui/clipboard.h"
#include "ui/list_view.h"
#include "web/text.h"

static const int NOTE_TICKS = 40;   // timer messages the already-listed note stays

// -------------------------------------------------------------- [HELPERS]

static int valid_index(int32_t i) { return i >= 0 && i < downloads.item_count; }

// Checks item i's output file before a transfer from doneSize: a missing
// file means starting from byte 0; a file shorter than doneSize (its last
// bytes never reached the disk) means resuming from the file's length, so
// that no hole is left in it.  Returns the file's length, -1 when there is
// none or it is not known.
static int64_t check_output_file(DownloadItem &item) {
    char path[OUTPUT_PATH_CAP];
    plat_file file = PLAT_INVALID_FILE;
    if (build_output_path(path, sizeof path, item.fileName)) file = open_existing_rw(path);
    if (file == PLAT_INVALID_FILE) {
        item.doneSize = 0;
        return -1;
    }
    int64_t length = plat_file_size(file);
    if (length >= 0 && length < (int64_t)item.doneSize) item.doneSize = (uint32_t)length;
    close_file(file);
    item.file = 0;
    return length;
}

// An item about to be fetched from doneSize whose file already holds the
// whole stream is finished instead: the program ended (killed, or the
// machine went down) after the last block reached the file and before the
// finish was recorded.  Asking for the stream from its last byte would only
// be refused, and the item given up with its file complete.  1 when it was
// finished here.
static int finish_if_stored_whole(int i, int64_t file_length) {
    DownloadItem &item = downloads.items[i];
    if (item.totalSize == 0 || item.doneSize < item.totalSize || file_length < (int64_t)item.totalSize)
        return 0;
    release_item(item);
    clear_item_run(item, Finished);
    write_item_record(i);
    return 1;
}

// Keeps the scroll position over a rebuild of the visible rows.
static void rebuild_keeping_scroll(void) {
    int32_t top = app_state.thumb_top;
    rebuild_visible_list();
    set_scroll_thumb(0, top, 1);
}

// --------------------------------------------------------------- [ADDING]

// Index of the first item the candidate repeats, or -1.  A site pattern's
// address repeats an item whose address it contains (the same page with
// more after it); the search stops at the candidate's NUL, never in stale
// bytes behind it.  A link kept with its scheme repeats only an item with
// exactly that address: containing it would make every later address of a
// host a repeat of its first.  The two kinds never repeat each other (only
// links keep a scheme).
static int32_t find_duplicate(const DownloadItem &candidate) {
    const size_t field = sizeof candidate.pageAddress;
    const bool exact = site_kind_keeps_scheme(candidate.siteKind);
    int32_t length = (int32_t)strnlen(candidate.pageAddress, field);
    for (int32_t i = 0; i < downloads.item_count; i++) {
        const DownloadItem &item = downloads.items[i];
        const char *address = item.pageAddress;
        if (!address[0]) continue;  // an empty address would match anything
        if (exact) {
            if (strncmp(candidate.pageAddress, address, field) == 0) return i;
            continue;
        }
        if (site_kind_keeps_scheme(item.siteKind)) continue;
        begin_search(0, length);
        if (find_text(candidate.pageAddress, address)) return i;
    }
    return -1;
}

// Shows the duplicate: the already-listed note, finished items shown when
// it is a hidden finished one, and the list scrolled to it and selected.
static void show_duplicate(int32_t i) {
    AppState &s = app_state;
    s.note_ticks = NOTE_TICKS;
    if (downloads.items[i].state == Finished && s.show_finished == 0) {
        s.show_finished = 1;
        rebuild_visible_list();
    }
    downloads.selected_item = i;
    scroll_to_item(i);
    empty_clipboard();
}

void add_offered_download(void) {
    AppState &s = app_state;
    if (!downloads.items) return;
    DownloadItem &candidate = downloads.items[downloads.item_count];
    int32_t duplicate = find_duplicate(candidate);
    if (duplicate >= 0) {
        show_duplicate(duplicate);
        s.offer_pending = 0;
        return;
    }

    empty_clipboard();
    candidate.state = Analysing;
    candidate.redirectedPage = 0;
    candidate.lastActivityTick = s.now_tick;
    candidate.buffer = buffer_alloc();
    candidate.socket = 0;
    candidate.totalSize = 0;
    candidate.doneSize = 0;
    candidate.bufferFill = 0;
    candidate.sampleBytes = 0;
    candidate.speed = 0;
    candidate.retryCount = 0;
    candidate.userStarted = 0;
    candidate.file = 0;
    memset(candidate.streamAddress, 0, sizeof candidate.streamAddress);
    memset(candidate.fileName, 0, sizeof candidate.fileName);
    candidate.requestStage = STAGE_PAGE;

    // The table may move while it grows: the candidate is addressed by index
    // from here on.
    int32_t index = downloads.item_count;
    if (!grow_table_if_needed() || !append_item_record()) {
        // No room for another item: the candidate stays a candidate.
        buffer_release(&downloads.items[index].buffer);
        s.offer_pending = 0;
        return;
    }
    rebuild_visible_list();
    set_scroll_thumb(0, 500, 1);
    s.offer_pending = 0;
}

// ------------------------------------------------ [STARTING AND STOPPING]

void start_item(int i, int user_started) {
    ASSERT_ITEM_INDEX(i);
    if (!valid_index(i)) return;
    DownloadItem &item = downloads.items[i];
    if (item.state == Finished) item.doneSize = 0;
    item.state = Connecting;
    item.lastActivityTick = app_state.now_tick;
    buffer_release(&item.buffer);
    item.buffer = buffer_alloc();
    // A connection or file still open (an item restarted while connecting)
    // is closed rather than forgotten.
    close_item_socket(item);
    close_item_file(item);
    item.bufferFill = 0;
    item.sampleBytes = 0;
    item.speed = 0;
    item.userStarted = (int16_t)user_started;
    item.requestStage = STAGE_PAGE;
    item.redirectedPage = 0;
    finish_if_stored_whole(i, check_output_file(item));
}

void reset_item(int i, uint32_t new_state) {
    ASSERT_ITEM_INDEX(i);
    if (!valid_index(i)) return;
    DownloadItem &item = downloads.items[i];
    item.lastActivityTick = app_state.now_tick;
    clear_item_run(item, new_state);
    release_item(item);
    write_item_record(i);
}

// ----------------------------------------------------------------- [MENU]

static int state_is_one_of(uint32_t state, const uint32_t *states, int n) {
    for (int k = 0; k < n; k++)
        if (state == states[k]) return 1;
    return 0;
}

// The page goes to the browser as the stored address when it keeps its
// scheme ("http://" or "https://"), else as the scheme prefix and the
// address; either way only an address that the browser cannot take as
// anything else (a user name before the host, a second argument, markup).
// The text is built here, in a buffer of its own.
static void open_item_page(const DownloadItem &item) {
    const int scheme = address_scheme_length(item.pageAddress);
    if (!page_address_openable(item.pageAddress + scheme, (int)sizeof item.pageAddress - scheme)) return;
    char text[OUTPUT_PATH_CAP] = "";
    if (!scheme && !append_text_whole(text, sizeof text, string_entry(STR_SCHEME_PREFIX))) return;
    if (!append_text_whole(text, sizeof text, item.pageAddress)) return;
    per_message_step(text, nullptr);
}

// The file manager is shown the file by its absolute path (the download
// folder may be relative to the working folder, which the file manager does
// not share), and only a file that exists under a name of the program's own
// kind.
static void show_item_file(const DownloadItem &item) {
    char path[FULL_PATH_CAP];
    if (!build_open_path(path, sizeof path, item.fileName, (int)sizeof item.fileName)) return;
    plat_file file = plat_open_read(path);
    if (file == PLAT_INVALID_FILE) return;
    close_file(file);
    char params[FULL_PATH_CAP + 64] = "";
    if (!append_text_whole(params, sizeof params, string_entry(STR_SHOW_PARAM_PREFIX))) return;
    if (!append_text_whole(params, sizeof params, path)) return;
    per_message_step(string_entry(STR_SHOW_PROGRAM), params);
}

void run_menu_command(void) {
    AppState &s = app_state;
    s.removal_by_key = 0;
    s.removal_requested = 0;
    int32_t selected = downloads.selected_item;
    if (!valid_index(selected)) {
        s.removal_requested = 1;
        return;
    }
    DownloadItem &item = downloads.items[selected];
    static const uint32_t start_states[] = {Queued, Stopped, Finished, Failed, Connecting};
    static const uint32_t stop_states[] = {Downloading, Stopped, Queued, Failed, Connecting};
    switch (s.menu_entry) {
    case MENU_ENTRY_START:
        if (!state_is_one_of(item.state, start_states, 5)) break;
        start_item(selected, 1);
        // The next engine step probes the network at once when offline.
        s.engine_tick = (int32_t)(s.now_tick + USER_START_PROBE_LEAD);
        return;
    case MENU_ENTRY_STOP:
        if (!state_is_one_of(item.state, stop_states, 5)) break;
        reset_item(selected, Stopped);
        return;
    case MENU_ENTRY_OPEN_PAGE:
        open_item_page(item);
        return;
    case MENU_ENTRY_SHOW_FILE:
        show_item_file(item);
        return;
    default:
        break;
    }
    // Remove, and every case not handled above: apply_pending_removal acts
    // only for the Remove entry.
    s.removal_requested = 1;
}

// -------------------------------------------------------------- [REMOVAL]

// The count at offset 32 follows a rewrite of the records, so the stored
// list never claims items it no longer holds.
static void save_after_removal(void) {
    rewrite_all_records();
    write_item_count();
}

// Takes item i out of the table.  The selection and the row under the
// pointer stay on the download they named (one index less when a row above
// went, none when it was this one), and the item menu, whose command was
// aimed at a row, closes: no later command can reach another download.
static void remove_item(int32_t i) {
    AppState &s = app_state;
    release_item(downloads.items[i]);
    remove_table_record(i);
    int32_t *marks[] = {&downloads.selected_item, &s.hovered_item};
    for (int32_t *mark : marks) {
        if (*mark == i)
            *mark = -1;
        else if (*mark > i)
            (*mark)--;
    }
    s.menu_open = 0;
}

static int32_t first_unfinished_from(int32_t i) {
    for (int32_t k = i; k < downloads.item_count; k++)
        if (downloads.items[k].state != Finished) return k;
    return -1;
}

void apply_pending_removal(void) {
    AppState &s = app_state;
    if (s.removal_requested == 0) return;
    int32_t i = downloads.selected_item;
    if ((s.menu_entry == MENU_ENTRY_REMOVE || s.removal_by_key == 1) && valid_index(i)) {
        int32_t top = s.thumb_top;
        remove_item(i);
        if (s.removal_by_key == 1) {
            if (s.show_finished == 1 && i != downloads.item_count)
                downloads.selected_item = i;
            else if (s.show_finished == 0)
                downloads.selected_item = first_unfinished_from(i);
        }
        save_after_removal();
        rebuild_visible_list();
        set_scroll_thumb(0, top, 1);
    }
    s.removal_requested = 0;
}

// Every finished item goes in one pass: each item that stays moves down
// once, to its place among those that stay (taken out one by one, every
// removal moved the whole rest of the table, which held the window for
// seconds to minutes on a list of some ten thousand items).  The candidate
// record follows the last item, the places behind it are cleared, and the
// selection and the row under the pointer stay on the download they named,
// or name none when it went.
void remove_finished_items(void) {
    AppState &s = app_state;
    int32_t top = s.thumb_top;
    int32_t *const marks[] = {&downloads.selected_item, &s.hovered_item};
    if (remove_table_records_in_state(Finished, marks, 2) == 0) return;
    s.menu_open = 0;
    save_after_removal();
    rebuild_visible_list();
    set_scroll_thumb(0, top, 1);
}

void refresh_after_sample(void) {
    if (app_state.show_finished == 0) rebuild_keeping_scroll();
}

// -------------------------------------------------------- [AFTER LOADING]

void resume_loaded_items(void) {
    uint32_t now = plat_tick();
    for (int32_t i = 0; i < downloads.item_count; i++) {
        DownloadItem &item = downloads.items[i];
        uint32_t state = item.state;
        if (state != Connecting && state != ReceivingHeaders && state != WaitingRetry &&
            state != RestartFromZero)
            continue;
        item.buffer = buffer_alloc();
        // The stored tick belongs to the earlier run; idle time starts now.
        item.lastActivityTick = now;
        item.requestStage = STAGE_PAGE;
        item.redirectedPage = 0;
        if (state == RestartFromZero) {
            // The stream is asked for from byte 0, so the file is written from
            // byte 0 too (a transfer from 0 cuts the file first).
            item.doneSize = 0;
        } else {
            item.state = Connecting;
            finish_if_stored_whole(i, check_output_file(item));
        }
    }
}
