// clock.cpp - the program's clock and the half-second speed sample.
//
// now_tick is read once per message (per_message_step) and is the time every
// engine decision uses.  The speed sample turns received bytes into a
// smoothed speed per item, size sums and the tray's status text, once every
// half second inside the engine step.
//
// Sections: [CLOCK] [SPEED]
#include "engine/engine.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "app/text_copy.h"
#include "engine/download_table.h"
#include "engine/size_text.h"

// ---------------------------------------------------------------- [CLOCK]

void read_clock(void) { app_state.now_tick = plat_tick(); }

// Takes the speed sample when more than SAMPLE_PERIOD_MS have passed, or
// when the clock went back (then the period counts as SAMPLE_PERIOD_MS).
void sample_if_due(void) {
    app_state.sample_due = 0;
    app_state.sample_factor = 0.0f;
    int32_t elapsed = (int32_t)(app_state.now_tick - (uint32_t)app_state.sample_tick);
    if (elapsed > SAMPLE_PERIOD_MS || elapsed < 0) {
        app_state.sample_due = 1;
        if (elapsed < 0) elapsed = SAMPLE_PERIOD_MS;
        app_state.sample_tick = (int32_t)app_state.now_tick;
        app_state.sample_factor = (float)SAMPLE_PERIOD_MS / (float)elapsed;
        take_speed_sample();
    }
}

// ---------------------------------------------------------------- [SPEED]

// Status text: "<prefix><downloading items><separator><total speed>", the
// speed shown per second (twice the stored per-500-ms figure), cut to the
// tip's 63 characters.
static void write_status_text(void) {
    AppState &s = app_state;
    char speed[128] = "";
    format_speed(speed, (uint32_t)s.total_speed * 2u);
    char text[256];
    snprintf(text, sizeof text, "%s%d%s%s", string_entry(STR_TRAY_PREFIX), (int)s.downloading_count,
             string_entry(STR_TRAY_SEPARATOR), speed);
    copy_text_cut(s.status_text, sizeof s.status_text, text);
}

void take_speed_sample(void) {
    AppState &s = app_state;
    double total = 0.0, done = 0.0;
    for (int32_t i = 0; i < downloads.item_count; i++) {
        total += (double)downloads.items[i].totalSize;
        done += (double)downloads.items[i].doneSize;
    }
    s.sum_total_size = total;
    s.sum_done_size = done;
    if (s.auto_remove_finished == 1) remove_finished_items();
    write_status_text();
    refresh_after_sample();
}

// Exponential average with weight one half: a steady rate converges to
// itself, a stall halves the speed at every sample.
void update_item_speed(int i) {
    ASSERT_ITEM_INDEX(i);
    DownloadItem &item = downloads.items[i];
    float scaled = (float)item.sampleBytes * app_state.sample_factor;
    uint32_t s = 0;
    if (scaled >= 4294967040.0f) s = 0xFFFFFFFFu;  // the largest float below 2^32
    else if (scaled > 0.0f) s = (uint32_t)scaled;
    item.speed = (s + item.speed) / 2;
    item.sampleBytes = 0;
}
