// win32_backend.h - what the files of the Windows backend share.
//
// The backend is split by subject:
//   win32_window.cpp     message loop, the window and its class, timers,
//                        painting and the back buffer, icons, input, the
//                        start and end of the windowing system
//   win32_text_draw.cpp  fonts, and text drawn by GDI into 32-bit pictures
//   io/                  files, clock, sockets and text conversion
// Everything runs on the GUI thread unless a function says otherwise.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

// The seam's handles are 32-bit: on 32-bit Windows every HWND, HFONT and
// HICON fits, so a handle is the system's own value cast to an integer.
static_assert(sizeof(void *) == 4, "the Windows backend is built for 32-bit Windows only");

inline HWND win32_hwnd(plat_window window) { return (HWND)(uintptr_t)window; }
inline plat_window win32_window_of(HWND hwnd) { return (plat_window)(uintptr_t)hwnd; }

// The memory device context holding the back buffer whose pixels are
// pixels (a width x height picture from plat_create_back_buffer), or null
// when pixels is no back buffer of that size.
HDC win32_back_buffer_dc(const uint32_t *pixels, int width, int height);

// A width x height DIB section of 32-bit pixels, top row first, made for
// dc, and its pixels in *bits; null (and nothing left behind) on failure.
HBITMAP win32_create_top_down_dib(HDC dc, int width, int height, void **bits);

// Releases what win32_text_draw.cpp holds (called by plat_finish).
void win32_text_release(void);
