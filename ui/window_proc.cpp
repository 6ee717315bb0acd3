// window_proc.cpp - the main window's procedure and its heartbeat.
//
// The 25 ms timer is the program's heartbeat: every second tick notes the
// window position, re-submits the tray icon when due and repaints; every
// tick ends with one engine step, shown or hidden.
#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "ui/ui.h"

static const int TRAY_WM_LBUTTONDOWN = 513;
static const int TRAY_WM_LBUTTONDBLCLK = 515;

static void heartbeat(void) {
    AppState &s = app_state;
    s.tick_count++;
    if (s.tick_count % 2 == 1) {
        if (s.tick_count % 64 == 23) modify_tray_icon();
        if (s.window_shown) {
            PlatRect r;
            if (plat_window_rect(s.window, &r)) {
                s.window_x = r.left;
                s.window_y = r.top;
                s.save_on_exit = 1;
            }
        }
        refresh_window();
    }
    if (s.note_ticks > 0) {
        s.note_ticks--;
        // The face under the note, from the same place of the skin.
        if (s.note_ticks == 0)
            copy_skin_piece(s.note_x, s.note_y, SKIN_DUPLICATE_NOTE.w, SKIN_DUPLICATE_NOTE.h, s.note_x, s.note_y);
    }
    pointer_tick();
}

void show_main_window(int how) {
    AppState &s = app_state;
    plat_show_window(s.window, how);
    s.window_shown = 1;
    // While hidden the pointer went elsewhere: nothing is under it or held
    // from before, and everything is drawn anew.
    s.hover_id = 0;
    s.press_id = 0;
    repaint_all();
}

int32_t main_window_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    AppState &s = app_state;
    switch (message) {
    case PLAT_WM_DESTROY:
        plat_post_quit(0);
        return 0;
    case PLAT_WM_PAINT:
        // Validated whether anything is drawn or not: a paint left pending
        // would come back at once, ahead of the timer, and stop the engine.
        plat_begin_paint(window);
        if (s.window_shown) refresh_window();
        plat_end_paint(window);
        return 0;
    case PLAT_WM_TIMER:
        heartbeat();
        return 0;
    case TRAY_CALLBACK_MESSAGE:
        if (lparam == TRAY_WM_LBUTTONDOWN || lparam == TRAY_WM_LBUTTONDBLCLK) {
            show_main_window(PLAT_SHOW);
            const SkinPiece &plain = *FACE_HIDE.normal;   // the hide button in its plain look
            copy_skin_piece(plain.dx, plain.dy, plain.w, plain.h, plain.sx, plain.sy);
            present();
        }
        return 0;
    default:
        return plat_default_window_proc(window, message, wparam, lparam);
    }
}
