// shell.h - hand-overs to the desktop, and emptying the clipboard.
#pragma once

// Opens a file, address or program through the shell.
void shell_open(const char *target, const char *params);
// Empties the clipboard, which ends the offer.
void empty_clipboard(void);
