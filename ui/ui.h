// ui.h - window procedure, pointer interaction, clipboard capture, tray,
// folder chooser, item actions, settings panel and the connectivity probe.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The window procedure of the main window.
int32_t main_window_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam);
// End of every timer message: keyboard shortcut, drags, auto-repeat, then
// exactly one engine step.
void pointer_tick(void);

// Rebuilds the rows the list shows and puts the list at its top.
void rebuild_visible_list(void);
// Places and draws the scroll thumb; recompute also sets list_offset.
void set_scroll_thumb(int highlight, int top, int recompute);

// Tray icon: added after the window is first shown, re-submitted by the
// heartbeat, deleted at shut-down.
void add_tray_icon(void);
void modify_tray_icon(void);
void remove_tray_icon(void);

// Applies a fresh digit or Backspace to the settings field being edited.
void apply_settings_key(void);

// Sends one test request; 1 when any answer came back.
int probe_connectivity(void);

// Opens a file, address or program through the shell.
void shell_open(const char *target, const char *params);
// Empties the clipboard, which ends the offer.
void empty_clipboard(void);
