// item_state.cpp - the names of the item states.
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
