// folder_chooser.cpp - choosing the download folder from the settings
// panel, and the state kept while a modal dialog runs over the window.
//
// Sections: [MODAL] [FOLDER CHOOSER]
#include "ui/folder_chooser.h"

#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/window_layout.h"
#include "engine/engine.h"
#include "listfile/listfile.h"

// ---------------------------------------------------------------- [MODAL]

void enter_modal(void) { app_state.modal_depth++; }

void leave_modal(void) {
    AppState &s = app_state;
    if (s.modal_depth > 0) s.modal_depth--;
    if (s.modal_depth > 0) return;
    // The dialog had the pointer: the button that opened it went up there,
    // and the pointer is somewhere else now.  The next move finds what is
    // under it afresh.
    s.press_id = ELEMENT_NONE;
    s.hover_id = ELEMENT_NONE;
    s.dragging = 0;
    s.thumb_grab = -1;
    s.repeat_ticks = 0;
    // Digits still held from typing into the dialog count as handled, so
    // they do not land in the settings panel as well.
    poll_keys();
    mark_key_handled();
    // Enter or Space that confirmed the dialog is not the capture shortcut.
    s.offer_key_down =
        plat_key_down(PLAT_VK_RETURN) || plat_key_down(PLAT_VK_SPACE) ? OFFER_KEY_FROM_DIALOG : 0;
}

// ------------------------------------------------------- [FOLDER CHOOSER]

void choose_download_folder(void) {
    AppState &s = app_state;
    if (s.modal_depth > 0) return;   // one dialog at a time

    // The answer goes into a buffer of its own: a cancelled chooser, an
    // empty answer or one too long leaves the folder in use untouched.
    char chosen[DOWNLOAD_FOLDER_SIZE];
    chosen[0] = 0;
    enter_modal();
    const int confirmed = plat_choose_folder(s.window, string_entry(STR_FOLDER_TITLE), s.download_folder, chosen,
                                             (int)sizeof chosen);
    leave_modal();
    chosen[sizeof chosen - 1] = 0;

    // The list file holds LIST_FOLDER_MAX characters of the folder: a longer
    // path would be cut when saved and name another folder at the next
    // start.
    const size_t length = strlen(chosen);
    if (!confirmed || length == 0 || length > (size_t)LIST_FOLDER_MAX) return;
    memcpy(s.download_folder, chosen, length + 1);
}
