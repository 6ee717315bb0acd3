// engine.h - the engine step, the stream transfer and the item operations.
#pragma once

#include <cstdint>

struct DownloadItem;

// Engine timing and sizes.
static const int32_t SAMPLE_PERIOD_MS = 500;     // speed sample when more has passed
static const int32_t PROBE_PERIOD_MS = 6000;     // probe period while offline
static const uint32_t ITEM_TIMEOUT_MS = 20000;   // idle time before a retry
static const int ITEM_RETRIES = 3;               // retries before giving up
static const uint32_t FLUSH_THRESHOLD = 54736;   // body bytes held before a write
static const int32_t USER_START_PROBE_LEAD = 8000; // engine_tick lead on a hand start

// One step of every download; run once per timer message.
void run_engine_step(void);

// Header step (ReceivingHeaders) and body step (Downloading).  Each returns
// 1 when the item left the transfer in this step (finished, or given up
// because its bytes could not be stored), else 0.
int receive_headers_step(int i);
int receive_body_step(int i);

void add_offered_download(void);
void start_item(int i, int user_started);
void reset_item(int i, uint32_t new_state);
void run_menu_command(void);
void apply_pending_removal(void);
void remove_finished_items(void);
void refresh_after_sample(void);
// Run once by start-up right after the list is loaded: transfers that were
// under way when the program last ended get a receive buffer and carry on
// (one whose file holds the whole stream is finished, as start_item does).
void resume_loaded_items(void);

// Clock, key latches, Delete key and shell hand-over; run for every message.
void per_message_step(const char *text, const char *params);
// now_tick := the platform's tick.
void read_clock(void);
// At the start of every engine step: the speed sample when one is due
// (sample_due and sample_factor tell the rest of the step).
void sample_if_due(void);
// Its key latch: poll_keys latches a fresh digit (48..57) or Backspace (8)
// in pending_key; mark_key_handled turns a fresh key into a held one.
void poll_keys(void);
void mark_key_handled(void);
// The sample-time work: sums, automatic removal, status text, list refresh.
void take_speed_sample(void);
// Speed of item i after a sample: the mean of its old speed and the bytes of
// the period scaled to 500 ms by sample_factor; clears sampleBytes.
void update_item_speed(int i);
