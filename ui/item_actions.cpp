// item_actions.cpp - what the user opens from the window: a download's file
// (a double press on its row) and the program's web page (the link).
//
// Both go to the desktop through the per-message step's shell hand-over.
// A file goes by its absolute path, and only under a name of the program's
// own kind (listfile/: build_open_path).
#include "ui/item_actions.h"

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/listfile.h"

void open_selected_file(void) {
    int32_t i = downloads.selected_item;
    if (i < 0 || i >= downloads.item_count) return;
    const DownloadItem &item = downloads.items[i];
    char path[FULL_PATH_CAP];
    if (!build_open_path(path, sizeof path, item.fileName, (int)sizeof item.fileName)) return;
    per_message_step(path, nullptr);
}

void open_web_page(void) { per_message_step(string_entry(STR_WEB_PAGE), nullptr); }
