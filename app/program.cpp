// program.cpp - the program's entry sequence and its message loop.
#include "app/app.h"

#include "app/app_state.h"
#include "engine/engine.h"
#include "ui/ui.h"

int run_program(void) {
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
