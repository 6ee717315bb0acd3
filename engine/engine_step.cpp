// engine_step.cpp - one step of every download, once per timer message.
//
// The engine is a polled state machine: each step takes a speed sample when
// one is due, probes the network while offline, serves every item a little
// in index order, times out items idle for too long, and at a sample starts
// or pushes back at most one download to keep the running ones at
// max_active.  Reads never wait: every read takes only what the socket says
// is waiting.
//
// Calls upward, because the engine decides when the network is tried: it
// runs the connectivity probe of ui/probe.h while offline.
#include "engine/engine.h"

#include "app/app_state.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "ui/probe.h"
#include "web/web.h"

// While offline, a probe starts every PROBE_PERIOD_MS and is taken one look
// further by every step until it ends; it never waits, so the window keeps
// its timer meanwhile.  Nothing changes before its end: the engine stays
// offline, and the period restarts only then.  A failed probe queues every
// failed item again so that what was given up while the network was down
// is retried once it is back.
static void probe_if_due(void) {
    // Only the probe sets online; a probe still going when online is set
    // some other way has nothing left to find out.
    if (app_state.probe_phase != PROBE_IDLE && app_state.online != 0) probe_abandon();
    if (app_state.probe_phase == PROBE_IDLE) {
        int32_t since = (int32_t)(app_state.now_tick - (uint32_t)app_state.engine_tick);
        if (since <= PROBE_PERIOD_MS && since >= -PROBE_PERIOD_MS) return;
        if (app_state.online != 0) {
            app_state.engine_tick = (int32_t)plat_tick();
            return;
        }
    }
    int result = probe_connectivity();
    if (result == PROBE_IN_FLIGHT) return;
    app_state.online = result;
    if (app_state.online) {
        app_state.offline_notice = 0;
    } else {
        app_state.offline_notice = 1;
        for (int32_t i = 0; i < downloads.item_count; i++)
            if (downloads.items[i].state == Failed) downloads.items[i].state = Queued;
    }
    app_state.engine_tick = (int32_t)plat_tick();
}

static void count_active(const DownloadItem &item) {
    if (!item.userStarted) app_state.active_count++;
}

// An item idle for longer than ITEM_TIMEOUT_MS: retried from a fresh page
// fetch while it has retries left, else given up, which also makes the
// engine assume the network is down.
static void time_out_item(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    if (item.retryCount <= ITEM_RETRIES - 1) {
        item.state = item.state == Analysing ? Analysing : Connecting;
        item.lastActivityTick = app_state.now_tick;
        close_item_socket(item);
        // Unlike a release, the retry leaves the invalid value in file.
        if (file_is_open(item.file)) close_file(item.file);
        item.file = PLAT_INVALID_FILE;
        item.bufferFill = 0;
        item.sampleBytes = 0;
        item.speed = 0;
        item.requestStage = STAGE_PAGE;
        // The retry asks for the page the user captured again: a redirect
        // target the buffer held has been received over since.
        item.redirectedPage = 0;
        // Every running item holds a buffer; without one it could only time
        // out again (an item the same step had moved out of the transfer).
        if (!item.buffer) item.buffer = buffer_alloc();
        item.retryCount++;
        return;
    }
    if (item.state == Failed) return;  // its page failed in this very step
    fail_item(i);
    app_state.online = 0;
    app_state.engine_tick = (int32_t)app_state.now_tick;
}

// Serves item i in its state; returns its idle time taken before the work,
// or 0 for a state that is not served (or an item that left the transfer
// in this step and is not to be timed out).
static uint32_t serve_item(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    uint32_t now = app_state.now_tick;
    uint32_t idle = 0;
    // The state is read again before each test; no handler moves an item to
    // a state tested later, so an item gets at most one handler per step.
    if (item.state == WaitingRetry) {
        idle = now - item.lastActivityTick;
        count_active(item);
    }
    if (item.state == Analysing) {
        idle = now - item.lastActivityTick;
        fetch_page(i, 0, 0);
    }
    if (item.state == Downloading) {
        idle = now - item.lastActivityTick;
        app_state.downloading_count++;
        count_active(item);
        if (app_state.sample_due) update_item_speed(i);
        app_state.total_speed += (int32_t)item.speed;
        if (receive_body_step(i)) return 0;
    }
    if (item.state == ReceivingHeaders) {
        idle = now - item.lastActivityTick;
        count_active(item);
        if (receive_headers_step(i)) return 0;
    }
    if (item.state == Connecting) {
        idle = now - item.lastActivityTick;
        count_active(item);
        fetch_page(i, item.doneSize, 1);
    }
    if (item.state == RestartFromZero) {
        idle = now - item.lastActivityTick;
        count_active(item);
        fetch_page(i, 0, 1);
    }
    return idle;
}

// At a sample: one surplus download goes back to the queue (the highest
// index first), or one queued download starts (the lowest index first).
static void regulate(void) {
    if (app_state.active_count > app_state.max_active) {
        for (int32_t i = downloads.item_count - 1; i >= 0; i--) {
            DownloadItem &item = downloads.items[i];
            if (item.state == Downloading && item.userStarted == 0) {
                reset_item(i, Queued);
                return;
            }
        }
    } else if (app_state.active_count < app_state.max_active) {
        for (int32_t i = 0; i < downloads.item_count; i++) {
            if (downloads.items[i].state == Queued) {
                start_item(i, 0);
                app_state.active_count++;
                return;
            }
        }
    }
}

void run_engine_step(void) {
    sample_if_due();
    probe_if_due();
    if (app_state.online != 1) return;

    app_state.total_speed = 0;
    app_state.active_count = 0;
    app_state.downloading_count = 0;
    for (int32_t i = 0; i < downloads.item_count; i++) {
        uint32_t idle = serve_item(i);
        if (idle > ITEM_TIMEOUT_MS) time_out_item(i);
    }

    if (app_state.sample_due == 1) regulate();
}
