// seam_run_in.h - the part of support/seam_connection.h that is the same on
// every system: it reads the program's end through the platform only.  Each
// system's seam_connection file supplies seam_send_some for its own end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/seam_connection.h"

// Sends up to n bytes into the peer without blocking: the count sent, 0
// when its send buffer is full, -1 on an error.  One per system.
int seam_send_some(int peer, const char *data, size_t n);

// Waits up to wait_ms until at least n bytes are readable on the socket.
int seam_wait_readable_count(plat_socket s, uint32_t n, int wait_ms);
// Runs a fresh connection in until a write of burst bytes arrives whole
// (the kernel widens the receive window only as a reader takes bytes in).
// 1 on success; otherwise both ends are closed and c's socket is 0.
int seam_run_in(SeamConnection *c, size_t burst);
