// ui.h - window procedure, pointer interaction, clipboard capture, tray,
// folder chooser, item actions, settings panel and the connectivity probe.
#pragma once

#include <cstdint>

#include "platform/platform.h"

int32_t main_window_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam);

void rebuild_visible_list(void);
void set_scroll_thumb(int highlight, int top, int recompute);

// Sends one test request; 1 when any answer came back.
int probe_connectivity(void);

void shell_open(const char *target, const char *params);
void empty_clipboard(void);
