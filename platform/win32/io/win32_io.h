// win32_io.h - what the Windows I/O layer offers beyond platform.h: the
// name look-up that plat_resolve runs, replaceable so that a check can
// stand a hanging name server in for the system's.
#pragma once

#include <cstdint>

// The blocking look-up plat_resolve runs on its worker threads: 1 and the
// IPv4 address in network order, or 0.  Null puts back the system's
// (getaddrinfo).
typedef int (*Win32Lookup)(const char *host, uint32_t *address);
void win32_set_lookup(Win32Lookup lookup);
// Look-up workers still running (an abandoned one runs until its look-up
// returns).
int win32_lookups_running(void);
