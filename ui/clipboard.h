// clipboard.h - watching the clipboard for a supported page address.
#pragma once

// The heartbeat's clipboard poll.
void poll_clipboard(void);
