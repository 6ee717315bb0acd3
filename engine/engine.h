// engine.h - the engine step, the stream transfer and the item operations.
#pragma once

#include <cstdint>

// One step of every download; run once per timer message.
void run_engine_step(void);

// Reads bytes_available bytes (bounded by the room left) into item i's buffer.
void receive_into_buffer(int i);
// Header step (ReceivingHeaders) and body step (Downloading); the body step
// returns 1 when it completed the item.
void receive_headers_step(int i);
int receive_body_step(int i);
// Gives item i up as Failed, releasing what it holds.
void fail_item(int i);

void add_offered_download(void);
void start_item(int i, int user_started);
void reset_item(int i, uint32_t new_state);
void run_menu_command(void);
void apply_pending_removal(void);
void remove_finished_items(void);
void refresh_after_sample(void);

// Clock, key latches, Delete key and shell hand-over; run for every message.
void per_message_step(const char *text, const char *params);
// The sample-time work: sums, automatic removal, status text, list refresh.
void take_speed_sample(void);
