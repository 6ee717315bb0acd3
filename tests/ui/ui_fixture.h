// ui_fixture.h - a started program on the fake platform whose window
// procedure the tests drive with messages, as the system would deliver
// them: the pointer (fake cursor) and each mouse message agree.
#pragma once

#include "engine/engine_fixture.h"
#include "ui/clipboard.h"
#include "ui/ui.h"

// Where the fixture puts the window on the fake screen, so that screen and
// client coordinates differ.
static const int UI_WINDOW_X = 100, UI_WINDOW_Y = 50;

struct UiFixture : EngineFixture {
    // Starts the program with n queued items ("reelbox.test/watch/0", ...),
    // online but with no download allowed to run (so the items stay as they
    // are and nothing goes to the network), and moves its window to
    // UI_WINDOW_X, UI_WINDOW_Y.
    void open(int n = 0) {
        std::vector<DownloadItem> items;
        for (int i = 0; i < n; i++) {
            std::string page = "reelbox.test/watch/" + std::to_string(i);
            items.push_back(engine_item(page.c_str(), 0, Queued, 0, 1000u * (uint32_t)(i + 1)));
        }
        fake_set_cursor(0, 0);
        start(items, 0);
        plat_show_window(app_state.window, PLAT_SHOW);   // as the program's entry does
        go_online();
        plat_move_window(app_state.window, UI_WINDOW_X, UI_WINDOW_Y, 288, 417);
    }

    static int32_t lparam(int x, int y) { return (int32_t)(((uint32_t)y << 16) | ((uint32_t)x & 0xFFFFu)); }
    // One message to the window procedure, the cursor put where it happened.
    static int32_t send(uint32_t message, int x, int y, uint32_t wparam = 0) {
        fake_set_cursor(UI_WINDOW_X + x, UI_WINDOW_Y + y);
        app_state.current_message = PlatMessage{app_state.window, message, wparam, lparam(x, y)};
        return main_window_proc(app_state.window, message, wparam, lparam(x, y));
    }
    static void move(int x, int y) { send(PLAT_WM_MOUSEMOVE, x, y); }
    static void press(int x, int y) { send(PLAT_WM_LBUTTONDOWN, x, y, 1); }
    static void release(int x, int y) { send(PLAT_WM_LBUTTONUP, x, y); }
    static void click(int x, int y) {
        move(x, y);
        press(x, y);
        release(x, y);
    }
    // Press, release, double press, release: the order the system delivers.
    static void double_click(int x, int y) {
        click(x, y);
        send(PLAT_WM_LBUTTONDBLCLK, x, y, 1);
        release(x, y);
    }
    static void right_press(int x, int y) {
        move(x, y);
        send(PLAT_WM_RBUTTONDOWN, x, y, 2);
    }
    static void wheel(int notches, int x = 150, int y = 200) {
        uint32_t wparam = (uint32_t)((int32_t)notches * 120) << 16;
        send(PLAT_WM_MOUSEWHEEL, x, y, wparam);
    }
    // n timer messages, each after its 25 ms, through the per-message step
    // as the main loop runs them.
    static void ticks(int n) {
        for (int k = 0; k < n; k++) {
            fake_advance(25);
            app_state.current_message = PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
            per_message_step(nullptr, nullptr);
            main_window_proc(app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0);
        }
    }
    static void tray(int32_t mouse_message) {
        main_window_proc(app_state.window, TRAY_CALLBACK_MESSAGE, 0, mouse_message);
    }

    // Whether the back buffer shows the w x h skin piece at (sx, sy) at (x, y).
    static bool shows(int x, int y, int w, int h, int sx, int sy) {
        for (int r = 0; r < h; r++)
            for (int c = 0; c < w; c++)
                if ((app_state.back_buffer[(size_t)(y + r) * 288 + (size_t)(x + c)] & 0xFFFFFFu) !=
                    (app_state.skin_bitmap[(size_t)(sy + r) * 476 + (size_t)(sx + c)] & 0xFFFFFFu))
                    return false;
        return true;
    }

    // Copies text to the clipboard and runs the heartbeat's poll on it.
    static void offer(const char *text) {
        fake_set_clipboard(text);
        poll_clipboard();
    }
};
