// ui.h - the window procedure, the end of every timer message and the tray
// icon: what the application shell calls of the user interaction.
//
// The parts of the user interaction that lower layers call back into have
// headers of their own, so that each such call names exactly what it needs:
//   ui/list_view.h  the rows the list shows and the scroll thumb
//   ui/shell.h      hand-overs to the desktop
//   ui/clipboard.h  the clipboard poll and emptying the clipboard
//   ui/probe.h      the connectivity probe
//   ui/settings.h   digits typed into the settings panel
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The window procedure of the main window.
int32_t main_window_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam);
// End of every timer message: keyboard shortcut, drags, auto-repeat, then
// exactly one engine step.
void pointer_tick(void);
// Shows the hidden window (how: a PlatShow) and draws it whole, with no
// element taken as hovered or pressed from before it was hidden.
void show_main_window(int how);

// Tray icon: added after the window is first shown, re-submitted by the
// heartbeat, deleted at shut-down.
void add_tray_icon(void);
void modify_tray_icon(void);
void remove_tray_icon(void);
