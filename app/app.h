// app.h - the process's life: start-up, the message loop and shut-down.
#pragma once

// Builds everything the program runs on; 1 on success, 0 on failure (the
// missing-list-file message has then been shown where it applies).  0 also
// when the list is held by an instance already running on it, which has
// been asked to show its window: app_state.handed_over is then 1 and no
// message is shown.
int startup(void);
// Releases what exists; safe after a start-up that failed part-way.
void shutdown(void);
// Start-up, the window shown, the message loop, shut-down.  Returns the exit
// code carried by the quit message, or 0 when start-up fails.
int run_program(void);
