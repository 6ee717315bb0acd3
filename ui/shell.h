// shell.h - hand-overs to the desktop.
#pragma once

// Opens a file, address or program through the shell; the show-file
// program of the string table with its parameter prefix and a path shows
// that file in the file manager instead.
void shell_open(const char *target, const char *params);
