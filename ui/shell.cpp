// shell.cpp - hand-overs to the desktop: opening and the clipboard.
#include "app/app_state.h"
#include "ui/shell.h"

void shell_open(const char *target, const char *params) {
    if (target && target[0]) plat_shell_open(target, params);
}

// Ends the offer.  The emptying is tried even when the clipboard would not
// open; every failure is ignored.
void empty_clipboard(void) {
    plat_clipboard_open(0);
    plat_clipboard_empty();
    plat_clipboard_close();
}
