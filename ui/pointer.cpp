// pointer.cpp - the end of every timer message.
#include "app/app_state.h"
#include "engine/engine.h"
#include "ui/ui.h"

void pointer_tick(void) {
    // Keyboard shortcut, drags and auto-repeat come here, before the step.
    run_engine_step();
}
