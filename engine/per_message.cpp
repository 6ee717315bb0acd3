// per_message.cpp - the step every message passes before it is dispatched:
// the key latch of the digit keys and Backspace, the clock, hand-overs to
// the shell, the settings panel's digits and the Delete key.
//
// Calls upward, because that is what this step is for: it opens what the
// user asked to open through the desktop (ui/shell.h) and feeds the digits
// typed into the settings panel (ui/settings.h).
#include "engine/engine.h"

#include "app/app_state.h"
#include "ui/settings.h"
#include "ui/shell.h"

static const int KEY_DIGIT_0 = 48;
static const int KEY_DIGIT_9 = 57;

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
    read_clock();
    if (text) shell_open(text, params);
    // While a modal dialog (the folder chooser) runs, keys are its own: a
    // key latched meanwhile is only marked handled.
    const bool modal = s.modal_depth > 0;
    if (s.settings_open && !modal) apply_settings_key();
    const PlatMessage &msg = s.current_message;
    if (s.window_shown && !modal && msg.message == PLAT_WM_KEYDOWN && msg.wparam == (uint32_t)PLAT_VK_DELETE) {
        s.removal_by_key = 1;
        s.removal_requested = 1;
        apply_pending_removal();
        s.removal_requested = 0;
    }
    mark_key_handled();
}
