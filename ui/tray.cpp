// tray.cpp - the notification-area icon.
//
// The tip starts as the program's name and later carries the status text
// of the speed sample; the heartbeat re-submits it so changes show.
#include "app/app_state.h"
#include "resources/resources.h"
#include "ui/ui.h"

static const char INITIAL_TIP[] = "Quorvax";

// The tip: the status text once the first sample has written it.
static const char *tray_tip(void) {
    return app_state.status_text[0] ? app_state.status_text : INITIAL_TIP;
}

void add_tray_icon(void) {
    if (!app_state.tray_icon) {
        int w = 0, h = 0;
        const uint32_t *pixels = find_icon_resource("iCOO2", &w, &h);
        if (pixels) app_state.tray_icon = plat_create_icon(pixels, w, h);
    }
    plat_tray(PLAT_TRAY_ADD, app_state.window, app_state.tray_icon, tray_tip(),
              TRAY_CALLBACK_MESSAGE);
    // Set even when the desktop has no tray: shut-down then deletes nothing
    // harmful, and the window stays usable without the icon.
    app_state.tray_icon_added = 1;
}

void modify_tray_icon(void) {
    plat_tray(PLAT_TRAY_MODIFY, app_state.window, app_state.tray_icon, tray_tip(),
              TRAY_CALLBACK_MESSAGE);
}

void remove_tray_icon(void) {
    plat_tray(PLAT_TRAY_DELETE, app_state.window, app_state.tray_icon, tray_tip(),
              TRAY_CALLBACK_MESSAGE);
    app_state.tray_icon_added = 0;
}
