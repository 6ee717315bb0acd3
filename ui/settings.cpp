// settings.cpp - the settings panel: opening it, applying and saving what
// it holds, and the digits typed into it.
//
// The panel's controls (check boxes, number fields, the folder button) and
// their editing by the digit keys are tracked and pressed through
// track_settings_hover and press_settings_element; until the panel's
// controls are built they react to nothing, and the panel only opens,
// applies and closes.
#include "ui/settings.h"

#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "listfile/listfile.h"

void open_settings_panel(void) {
    AppState &s = app_state;
    s.settings_open = 1;
    s.proxy_edit_on = s.use_proxy;
    for (int octet = 0; octet < 4; octet++) s.proxy_edit[octet] = s.proxy_address[octet];
    s.proxy_edit[4] = s.proxy_port;
    s.edit_field = 0;
}

// The proxy takes effect only here: requests made while the panel is open
// still go the way they went.  Saving puts the downloads-at-once limit in
// force too.
void apply_settings(void) {
    AppState &s = app_state;
    for (int octet = 0; octet < 4; octet++) s.proxy_address[octet] = s.proxy_edit[octet];
    s.proxy_port = s.proxy_edit[4];
    s.use_proxy = s.proxy_edit_on;
    repaint_all();
    s.edit_field = 0;
    // No element is left when the pointer next moves: the panel's own
    // controls are gone from under it.
    s.hover_id = ELEMENT_PANEL_CLOSED;
    save_settings();
}

void close_settings_panel(void) {
    app_state.settings_open = 0;
    apply_settings();
}

void track_settings_hover(void) {}

void press_settings_element(int id) { (void)id; }

void apply_settings_key(void) {
    if (!app_state.settings_open) return;
}
