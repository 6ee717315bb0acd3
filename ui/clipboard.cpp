// clipboard.cpp - watching the clipboard (placeholder until the capture lands).
#include "ui/clipboard.h"

void poll_clipboard(void) {}
