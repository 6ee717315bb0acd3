// app_state.cpp - the global state record and its start values.
#include "app/app_state.h"

#include <cstring>

#include "engine/download_table.h"

AppState app_state;

void reset_app_state(void) {
    memset(&app_state, 0, sizeof app_state);
    app_state.list_file = PLAT_INVALID_FILE;
    app_state.max_active_edit = 1;   // replaced by the list file's value
    app_state.thumb_length = 40;
    app_state.thumb_grab = -1;
    downloads.selected_item = -1;
}
