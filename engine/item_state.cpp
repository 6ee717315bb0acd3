// item_state.cpp - the names of the item states and request stages.
//
// Kept free of every other dependency: the list tool links this file alone.
#include "engine/download_table.h"

static const char *const state_names[] = {
    "Analysing",        // 1
    "Stopped",          // 2
    "Downloading",      // 3
    "Failed",           // 4
    "Queued",           // 5
    "Finished",         // 6
    "RestartFromZero",  // 7
    "Connecting",       // 8
    "ReceivingHeaders", // 9
    "WaitingRetry",     // 10
};
static_assert(sizeof state_names / sizeof state_names[0] == (size_t)ITEM_STATE_COUNT,
              "one name per item state");
static_assert(WaitingRetry == (uint32_t)ITEM_STATE_COUNT, "state codes run 1..ITEM_STATE_COUNT");

const char *item_state_name(uint32_t code) {
    if (code < 1 || code > (uint32_t)ITEM_STATE_COUNT) return nullptr;
    return state_names[code - 1];
}

static const char *const stage_names[] = {
    "page",            // 0
    "stream address",  // 1
    "stream",          // 2
};
static_assert(sizeof stage_names / sizeof stage_names[0] == (size_t)REQUEST_STAGE_COUNT,
              "one name per request stage");
static_assert(STAGE_STREAM == REQUEST_STAGE_COUNT - 1, "stages run 0..REQUEST_STAGE_COUNT - 1");

const char *request_stage_name(int stage) {
    if (stage < 0 || stage >= REQUEST_STAGE_COUNT) return nullptr;
    return stage_names[stage];
}
