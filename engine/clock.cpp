// clock.cpp - the per-message step and the speed measurement.
//
// per_message_step runs for every message before it is dispatched: it keeps
// the key latch of the digit keys and Backspace, refreshes now_tick, hands
// texts to the shell, feeds the settings panel and removes the selected
// item on the Delete key.  The speed sample turns received bytes into a
// smoothed speed per item, size sums and the tray's status text, once every
// half second inside the engine step.
//
// Sections: [PER MESSAGE] [SPEED]
#include "engine/engine.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/display.h"
#include "engine/download_table.h"
#include "ui/settings.h"
#include "ui/shell.h"

static const int KEY_DIGIT_0 = 48;
static const int KEY_DIGIT_9 = 57;

// ---------------------------------------------------------- [PER MESSAGE]

// pending_key: 0 none, +code newly pressed, -code handled and still held.
// A key is thus acted on once per press, at the first message after it
// went down, and only the lowest of several held digits counts.
void poll_keys(void) {
    AppState &s = app_state;
    for (int key = KEY_DIGIT_0; key <= KEY_DIGIT_9; key++) {
        if (plat_key_down(key)) {
            if (s.pending_key != -key) s.pending_key = key;
            break;
        }
        if (s.pending_key == -key) s.pending_key = 0;
    }
    if (plat_key_down(PLAT_VK_BACK)) {
        if (s.pending_key != -PLAT_VK_BACK) s.pending_key = PLAT_VK_BACK;
    } else if (s.pending_key == -PLAT_VK_BACK) {
        s.pending_key = 0;
    }
}

void mark_key_handled(void) {
    if (app_state.pending_key > 0) app_state.pending_key = -app_state.pending_key;
}

void per_message_step(const char *text, const char *params) {
    AppState &s = app_state;
    poll_keys();
    s.now_tick = plat_tick();
    if (text) shell_open(text, params);
    if (s.settings_open) apply_settings_key();
    const PlatMessage &msg = s.current_message;
    if (s.window_shown && msg.message == PLAT_WM_KEYDOWN && msg.wparam == (uint32_t)PLAT_VK_DELETE) {
        s.removal_by_key = 1;
        s.removal_requested = 1;
        apply_pending_removal();
        s.removal_requested = 0;
    }
    mark_key_handled();
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
    size_t n = strnlen(text, STATUS_TEXT_SIZE - 1);
    memcpy(s.status_text, text, n);
    s.status_text[n] = 0;
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
    DownloadItem &item = downloads.items[i];
    float scaled = (float)item.sampleBytes * app_state.sample_factor;
    uint32_t s = 0;
    if (scaled >= 4294967040.0f) s = 0xFFFFFFFFu;  // the largest float below 2^32
    else if (scaled > 0.0f) s = (uint32_t)scaled;
    item.speed = (s + item.speed) / 2;
    item.sampleBytes = 0;
}
