// settings_keys.cpp - digits and Backspace typed into the settings panel.
//
// per_message_step calls this for every message while the panel is open,
// after it has latched a fresh key in pending_key (48..57 a digit, 8
// Backspace).  The field editing itself comes with the settings panel; until
// then a key typed while the panel is open changes nothing.
#include "app/app_state.h"
#include "ui/settings.h"

void apply_settings_key(void) {
    if (!app_state.settings_open) return;
}
