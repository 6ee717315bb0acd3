// program.cpp - the program's entry sequence and its message loop.
#include "app/app.h"

#include "app/app_state.h"
#include "engine/engine.h"
#include "ui/ui.h"

int run_program(void) {
    // A start that handed over to the instance already running on this list
    // has done what the user wanted and ends with 0; so does a failed start,
    // which has shown whatever message it had (app_state.handed_over tells
    // the two apart).
    if (!startup()) {
        shutdown();
        return 0;
    }
    plat_show_window(app_state.window, PLAT_SHOW);
    add_tray_icon();

    // Every message passes the per-message step (clock, keys, Delete)
    // before it reaches the window procedure.
    PlatMessage msg;
    while (plat_get_message(&msg)) {
        app_state.current_message = msg;
        per_message_step(nullptr, nullptr);
        plat_dispatch_message(&msg);
    }
    shutdown();
    return (int)msg.wparam;
}
