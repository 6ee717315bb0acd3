// window_proc.cpp - the main window's procedure: its heartbeat, and where
// the user's pointer actions become commands.
//
// The 25 ms timer is the program's heartbeat: every second tick notes the
// window position, re-submits the tray icon when due, polls the clipboard
// and refreshes the window - painting and presenting only when something
// the painting reads has changed, so that an idle window costs next to
// nothing; every tick ends with one engine step, shown or hidden.  A paint
// request from the desktop and every show always present the whole
// picture.
// Presses, releases and right presses are decided at the point the message
// itself carries, against the layout table's areas: a click is complete
// when it is released on the element it was pressed on.  While a modal
// dialog runs over the window (the folder chooser), only the timer and the
// tray icon reach it: pointer messages are dropped.
//
// Sections: [SHOWING] [HEARTBEAT] [PRESS] [RELEASE] [CONTEXT MENU]
//           [PROCEDURE]
#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "ui/clipboard.h"
#include "ui/item_actions.h"
#include "ui/list_view.h"
#include "ui/pointer.h"
#include "ui/settings.h"
#include "ui/ui.h"

static const int32_t TRAY_WM_LBUTTONDOWN = 513;
static const int32_t TRAY_WM_LBUTTONDBLCLK = 515;

// The tray icon's tip is re-submitted whenever tick_count modulo this is
// TRAY_RESUBMIT_TICK (about every 1.6 s).
static const uint32_t TRAY_RESUBMIT_PERIOD = 64;
static const uint32_t TRAY_RESUBMIT_TICK = 23;

// A double click is press, release, double press, release.  The release
// that ends it does not run the release command its first click ran already
// (hiding, quitting, opening the web page or the settings twice), and a
// double press whose first press ran a menu entry ends there: the menu is
// gone, and the row under it was not what the user pointed at.  The fields
// (app_state: last_click_element, swallow_release, last_press_ran_menu)
// carry that from one message to the next.

// The client point of a mouse message: x in the low word, y in the high
// word, both unsigned.
static int point_x(int32_t lparam) { return (int)((uint32_t)lparam & 0xFFFFu); }
static int point_y(int32_t lparam) { return (int)(((uint32_t)lparam >> 16) & 0xFFFFu); }

// -------------------------------------------------------------- [SHOWING]

void show_main_window(int how) {
    AppState &s = app_state;
    plat_show_window(s.window, how);
    s.window_shown = 1;
    // While hidden the pointer went elsewhere: nothing is under it or held
    // from before, and everything is drawn anew.
    s.hover_id = ELEMENT_NONE;
    s.press_id = ELEMENT_NONE;
    repaint_all();
}

// ------------------------------------------------------------ [HEARTBEAT]

static void heartbeat(void) {
    AppState &s = app_state;
    // The clock first: a timer message can arrive without the main loop's
    // per-message step (inside a modal dialog's own loop), and a clock left
    // behind would time every download out at once when it catches up.
    read_clock();
    s.tick_count++;
    if (s.tick_count % 2 == 1) {
        if (s.tick_count % TRAY_RESUBMIT_PERIOD == TRAY_RESUBMIT_TICK) modify_tray_icon();
        if (s.window_shown) {
            PlatRect r;
            if (plat_window_rect(s.window, &r)) {
                s.window_x = r.left;
                s.window_y = r.top;
                s.save_on_exit = 1;
            }
        }
        poll_clipboard();
        refresh_window_if_changed();
    }
    if (s.note_ticks > 0) {
        s.note_ticks--;
        // The face under the note, from the same place of the skin.
        if (s.note_ticks == 0)
            copy_skin_piece(s.note_x, s.note_y, SKIN_DUPLICATE_NOTE.w, SKIN_DUPLICATE_NOTE.h, s.note_x, s.note_y);
    }
    pointer_tick();
}

// ---------------------------------------------------------------- [PRESS]

// The look and command a left press gives the element it landed on.
static void press_element(int id, int y) {
    AppState &s = app_state;
    switch (id) {
    case ELEMENT_CAPTURE:
        if (!s.offer_pending) return;
        s.capture_pressed = 1;
        copy_piece(*FACE_CAPTURE.pressed);
        break;
    case ELEMENT_SETTINGS: copy_piece(*FACE_SETTINGS.pressed); break;
    case ELEMENT_HIDE: copy_piece(*FACE_HIDE.pressed); break;
    case ELEMENT_QUIT: copy_piece(*FACE_QUIT.pressed); break;
    case ELEMENT_WEB_LINK: copy_piece(*FACE_WEB_LINK.pressed); break;
    case ELEMENT_SCROLL_UP:
        copy_piece(*FACE_SCROLL_UP.pressed);
        scroll_one_row(-1);
        break;
    case ELEMENT_SCROLL_DOWN:
        copy_piece(*FACE_SCROLL_DOWN.pressed);
        scroll_one_row(1);
        break;
    case ELEMENT_THUMB: s.thumb_grab = y - s.thumb_top; break;
    default:
        if (id >= ELEMENT_CHECK_SHOW_FINISHED && id <= ELEMENT_PORT && s.settings_open) {
            press_settings_element(id);
            break;
        }
        return;
    }
    refresh_window();
}

// WM_LBUTTONDOWN (double 0) and WM_LBUTTONDBLCLK (double 1).
static void left_press(int x, int y, int is_double) {
    AppState &s = app_state;
    if (!is_double) {
        s.swallow_release = 0;
        if (in_area(TITLE_STRIP, x, y)) {
            s.dragging = 1;
            s.drag_anchor_x = x;
            s.drag_anchor_y = y;
        }
    } else {
        s.swallow_release = s.last_click_element != ELEMENT_NONE;
        if (s.last_press_ran_menu) {
            s.last_press_ran_menu = 0;
            return;
        }
    }
    s.last_click_element = ELEMENT_NONE;
    s.last_press_ran_menu = 0;
    const int32_t selected_before = downloads.selected_item;

    s.pointer_x = x;
    s.pointer_y = y;
    update_hover();
    track_elements(x, y);
    if (s.settings_open) track_settings_hover();
    s.press_id = s.hover_id;

    // A press on an entry of the open menu runs that entry and ends there:
    // the row under the menu is not selected, nor its file opened.
    if (s.hand_cursor_on == 0 && s.menu_open == 1 && s.menu_entry > MENU_ENTRY_NONE && s.pointer_zone == 0 &&
        s.settings_open == 0) {
        run_menu_command();
        apply_pending_removal();
        refresh_window();
        s.menu_open = 0;
        s.last_press_ran_menu = 1;
        return;
    }
    // A press anywhere else closes the menu.
    if (s.menu_open == 1) {
        s.menu_open = 0;
        paint_list();
        refresh_window();
    }

    const int32_t row = row_item_at(x, y);
    if (row >= 0 && s.pointer_zone == 0 && s.settings_open == 0) {
        s.menu_open = 0;
        downloads.selected_item = row;
        // The file opens only for a double press whose first press chose
        // this same download.
        if (is_double && selected_before == row) open_selected_file();
        refresh_window();
    }

    press_element(s.hover_id, y);
}

// -------------------------------------------------------------- [RELEASE]

// The command a completed click on the element runs at its release.
static void release_element(int id, int x, int y) {
    AppState &s = app_state;
    switch (id) {
    case ELEMENT_CAPTURE:
        s.note_x = x + NOTE_OFFSET_X;
        s.note_y = y + NOTE_OFFSET_Y;
        copy_piece(SKIN_CAPTURE_PLAIN);
        if (s.offer_pending) add_offered_download();
        break;
    case ELEMENT_SETTINGS:
        copy_piece(*FACE_SETTINGS.hover);
        open_settings_panel();
        s.edit_field = 0;
        s.press_id = ELEMENT_NONE;
        s.hover_id = ELEMENT_NONE;
        break;
    case ELEMENT_HIDE:
        copy_piece(*FACE_HIDE.hover);
        refresh_window();
        plat_show_window(s.window, PLAT_HIDE);
        s.window_shown = 0;
        break;
    case ELEMENT_QUIT:
        copy_piece(*FACE_QUIT.hover);
        refresh_window();
        plat_post_quit(0);
        s.window_shown = 0;
        break;
    case ELEMENT_WEB_LINK:
        copy_piece(*FACE_WEB_LINK.hover);
        open_web_page();
        break;
    case ELEMENT_SCROLL_UP: copy_piece(*FACE_SCROLL_UP.hover); break;
    case ELEMENT_SCROLL_DOWN: copy_piece(*FACE_SCROLL_DOWN.hover); break;
    default: return;
    }
    s.last_click_element = id;
}

static void left_release(int x, int y) {
    AppState &s = app_state;
    s.repeat_ticks = 0;
    const bool second_of_double = s.swallow_release != 0;
    s.swallow_release = 0;
    if (!second_of_double && s.settings_open && !in_area(PANEL_RELEASE_BOX, x, y)) close_settings_panel();
    s.dragging = 0;
    // A thumb let go while every row fits goes back to the top.
    if (s.scroll_scale <= 0.0f && s.thumb_grab >= 0) {
        s.scroll_scale = 0.0f;
        s.thumb_top = 0;
        set_scroll_thumb(0, 0, 1);
        refresh_window();
    }
    s.thumb_grab = -1;
    s.capture_pressed = 0;
    // A press that began on no element never completes a click.
    if (s.press_id == ELEMENT_NONE) s.press_id = ELEMENT_NO_MATCH;

    s.pointer_x = x;
    s.pointer_y = y;
    track_elements(x, y);
    if (!second_of_double && s.press_id == s.hover_id && s.settings_open == 0) {
        for (const FaceElement *e : FACE_ELEMENTS)
            if (in_area(e->area, x, y) && x < WINDOW_WIDTH && y < WINDOW_HEIGHT) release_element(e->id, x, y);
    }
    s.press_id = ELEMENT_NONE;
    if (s.window_shown) refresh_window();
}

// --------------------------------------------------------- [CONTEXT MENU]

// A right press on a listed row opens the item menu there (shifted so the
// whole menu stays inside the window) and selects the row; elsewhere in the
// list it changes nothing, outside the list it closes the menu.
static void right_press(int x, int y) {
    AppState &s = app_state;
    s.pointer_x = x;
    s.pointer_y = y;
    if (in_area(LIST_AREA, x, y)) {
        const int32_t row = row_item_at(x, y);
        if (row >= 0) {
            s.menu_x = menu_left(x);
            s.menu_y = menu_top(y);
            s.menu_open = 1;
            paint_list();
            refresh_window();
            downloads.selected_item = row;
        }
    } else {
        s.menu_open = 0;
    }
    if (s.settings_open && !in_area(PANEL_RIGHT_PRESS_BOX, x, y)) apply_settings();
}

// ------------------------------------------------------------ [PROCEDURE]

int32_t main_window_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    AppState &s = app_state;
    const int x = point_x(lparam), y = point_y(lparam);
    // The pointer reaches the window only while it is shown and no modal
    // dialog (the folder chooser) runs over it; the timer always does.
    const bool takes_pointer = s.window_shown && s.modal_depth == 0;
    switch (message) {
    case PLAT_WM_DESTROY:
        plat_post_quit(0);
        return 0;
    case PLAT_WM_PAINT:
        // Validated whether anything is drawn or not: a paint left pending
        // would come back at once, ahead of the timer, and stop the engine.
        // The desktop asks because the window's face was lost (uncovered,
        // shown again): always painted and presented, never skipped.
        plat_begin_paint(window);
        if (s.window_shown) refresh_window();
        plat_end_paint(window);
        return 0;
    case PLAT_WM_TIMER:
        heartbeat();
        return 0;
    case PLAT_WM_MOUSEMOVE:
        if (takes_pointer) {
            s.pointer_x = x;
            s.pointer_y = y;
            update_hover();
            track_pointer(x, y);
        }
        return 0;
    case PLAT_WM_LBUTTONDOWN:
        if (takes_pointer) left_press(x, y, 0);
        return 0;
    case PLAT_WM_LBUTTONDBLCLK:
        if (takes_pointer) left_press(x, y, 1);
        return 0;
    case PLAT_WM_LBUTTONUP:
        if (takes_pointer) left_release(x, y);
        return 0;
    case PLAT_WM_RBUTTONDOWN:
        if (takes_pointer) right_press(x, y);
        return 0;
    case PLAT_WM_MOUSEWHEEL:
        if (takes_pointer) scroll_wheel(wparam);
        return 0;
    case TRAY_CALLBACK_MESSAGE:
        if (lparam == TRAY_WM_LBUTTONDOWN || lparam == TRAY_WM_LBUTTONDBLCLK) {
            show_main_window(PLAT_SHOW);
            copy_piece(*FACE_HIDE.normal);   // the hide button in its plain look
            present();
        }
        return 0;
    case SECOND_START_MESSAGE:
        // The program was started again on this list: the user wants this
        // window, shown and in front as a press on the tray icon gives it.
        show_main_window(PLAT_SHOW);
        copy_piece(*FACE_HIDE.normal);
        present();
        return 0;
    default:
        return plat_default_window_proc(window, message, wparam, lparam);
    }
}
