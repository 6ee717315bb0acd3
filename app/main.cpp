// main.cpp - the program's entry on desktop systems.
#include "app/app.h"
#include "platform/platform.h"

int main(void) {
    if (!plat_init()) return 1;
    plat_quit_on_termination();
    int code = run_program();
    plat_finish();
    return code;
}
