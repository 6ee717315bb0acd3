// qt_backend.h - state shared by the files of the Qt backend.
//
// The backend is split by subject:
//   qt_window.cpp   application, message queue, timers, the window, input
//   qt_desktop.cpp  clipboard, shell, dialogs, icons, tray
//   qt_text.cpp     fonts and text drawing
//   qt_instance.cpp listening for later starts on the same list
// Files, sockets and the clock come from POSIX (platform/posix/).
// Everything runs on the GUI thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

class QWidget;
class QDialog;
class QIcon;

// The top-level widget behind a window handle; null when there is none.
QWidget *qt_widget_of(plat_window window);
// The icon behind an icon handle; null when there is none.
const QIcon *qt_icon_of(plat_icon icon);
// The icon registered with the class of the window (may be null).
const QIcon *qt_class_icon_of(plat_window window);
// 1 once plat_init has made the application object.
int qt_app_ready(void);

// A modal dialog runs its own event loop: while it is open, timer ticks are
// handed straight to the window procedure, and a quit message closes it.
void qt_modal_enter(QDialog *dialog);
void qt_modal_leave(QDialog *dialog);

// Releases what qt_desktop.cpp and qt_text.cpp hold (called by plat_finish
// before the application object goes).
void qt_desktop_release(void);
void qt_text_release(void);
void qt_instance_release(void);
// Ends the listening for later starts that posts to window (called as the
// window is destroyed).
void qt_instance_window_destroyed(plat_window window);

// The Windows virtual-key code of a Qt key (0 for keys the program has no
// code for): keypad says the key is on the keypad, x11_keycode is its X11
// key code, 0 where the platform is not X11.
int qt_virtual_key(int key, int keypad, uint32_t x11_keycode);

// Length of the longest prefix of text[0..length) that is at most max bytes
// and does not end inside a UTF-8 sequence.
size_t qt_utf8_prefix(const char *text, size_t length, size_t max);
