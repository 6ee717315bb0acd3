// pointer.cpp - the window's feel: hit tests, hover looks, the two cursors,
// dragging the window by its title strip, the scrollbar (one-row steps,
// auto-repeat, the wheel, the held thumb) and the capture shortcut, and the
// end of every timer message.
//
// Every area, look and geometry comes from display/window_layout.h.
//
// Sections: [HIT TESTS] [HOVER] [DRAGGING] [SCROLLING] [TICK]
#include "ui/pointer.h"

#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "ui/list_view.h"
#include "ui/settings.h"
#include "ui/ui.h"

// A wheel's notch of 120 in wparam's high word is 7,864,320: three rows of
// units per notch, against the wheel's direction.
static const int32_t WHEEL_UNIT_DIVISOR = 2000000;
// Auto-repeat of a held arrow: the first repeat after this many ticks, then
// every second tick.
static const int32_t REPEAT_DELAY_TICKS = 13;

// ------------------------------------------------------------ [HIT TESTS]

static bool in_window(int x, int y) { return x >= 0 && y >= 0 && x < WINDOW_WIDTH && y < WINDOW_HEIGHT; }

// Whether the face element holds the client point: the thumb where it is
// now, the capture button only while an address is on offer.
static bool element_holds(const FaceElement &e, int x, int y) {
    const AppState &s = app_state;
    if (!in_window(x, y)) return false;
    if (e.id == ELEMENT_CAPTURE && !s.offer_pending) return false;
    if (e.id == ELEMENT_THUMB) return in_area(thumb_area(s.thumb_top, s.thumb_length), x, y);
    return in_area(e.area, x, y);
}

int element_at(int x, int y) {
    for (const FaceElement *e : FACE_ELEMENTS)
        if (element_holds(*e, x, y)) return e->id;
    return ELEMENT_NONE;
}

int32_t row_item_at(int x, int y) {
    const AppState &s = app_state;
    if (!in_area(LIST_AREA, x, y) || s.settings_open) return -1;
    if (s.offline_notice == 1 && in_area(OFFLINE_NOTICE_ZONE, x, y)) return -1;
    if (s.menu_open && menu_entry_at(s.menu_x, s.menu_y, x, y) != MENU_ENTRY_NONE) return -1;
    int32_t item = list_item_at(y);
    return item >= 0 && item < downloads.item_count ? item : -1;
}

// ---------------------------------------------------------------- [HOVER]

static void set_cursor(PlatCursor cursor, int hand) {
    plat_set_class_cursor(app_state.window, cursor);
    app_state.hand_cursor_on = hand;
}

void update_hover(void) {
    AppState &s = app_state;
    const int x = s.pointer_x, y = s.pointer_y;

    // Over the offline notice the pointer selects no row and gets no hand.
    s.pointer_zone = 0;
    if (in_area(OFFLINE_NOTICE_ZONE, x, y) && s.settings_open == 0 && s.offline_notice == 1) s.pointer_zone = 1;

    int entry = s.menu_open ? menu_entry_at(s.menu_x, s.menu_y, x, y) : MENU_ENTRY_NONE;
    if (entry != MENU_ENTRY_NONE) {
        if (entry != s.menu_entry) {
            s.menu_entry = entry;
            refresh_window();
        }
    } else if (s.menu_entry != MENU_ENTRY_NONE) {
        s.menu_entry = MENU_ENTRY_NONE;
        refresh_window();
    }

    const bool on_rows = in_area(LIST_HAND_AREA, x, y) && s.settings_open == 0 && s.pointer_zone == 0 &&
                         s.menu_entry == MENU_ENTRY_NONE && s.thumb_grab < 0;
    if (on_rows || s.hover_id == ELEMENT_WEB_LINK) {
        refresh_window();   // the row highlight follows the pointer
        if (!s.hand_cursor_on) set_cursor(PLAT_CURSOR_HAND, 1);
    } else if (s.hand_cursor_on) {
        set_cursor(PLAT_CURSOR_ARROW, 0);
    }
}

// An element's look: its hover look or its normal one (the capture button's
// normal look is the offer while one is pending; the thumb is drawn in
// place).
static void draw_element(const FaceElement &e, bool hovered) {
    AppState &s = app_state;
    if (e.id == ELEMENT_THUMB) {
        set_scroll_thumb(hovered ? 1 : 0, s.thumb_top, 0);
        return;
    }
    if (!hovered && e.id == ELEMENT_CAPTURE && s.offer_pending) {
        copy_piece(SKIN_CAPTURE_OFFERED);
        return;
    }
    copy_piece(hovered ? *e.hover : *e.normal);
}

void track_elements(int x, int y) {
    AppState &s = app_state;
    if (s.thumb_grab >= 0 || s.settings_open) return;
    for (const FaceElement *e : FACE_ELEMENTS) {
        const bool inside = element_holds(*e, x, y);
        if (inside && s.hover_id != e->id) {
            draw_element(*e, true);
            refresh_window();
            s.hover_id = e->id;
            if (e->id == ELEMENT_WEB_LINK) set_cursor(PLAT_CURSOR_HAND, 1);
        } else if (!inside && s.hover_id == e->id) {
            draw_element(*e, false);
            refresh_window();
            s.hover_id = ELEMENT_NONE;
            if (e->id == ELEMENT_WEB_LINK) set_cursor(PLAT_CURSOR_ARROW, 0);
        }
    }
}

void track_pointer(int x, int y) {
    AppState &s = app_state;
    if (s.thumb_grab >= 0) {
        set_scroll_thumb(0, y - s.thumb_grab, 1);
        refresh_window();
    }
    track_elements(x, y);
    if (s.settings_open) track_settings_hover();
    if (s.dragging) drag_window();
}

// ------------------------------------------------------------- [DRAGGING]

void drag_window(void) {
    AppState &s = app_state;
    int cx = 0, cy = 0;
    plat_cursor_pos(&cx, &cy);
    if (cx == s.last_drag_cursor_x && cy == s.last_drag_cursor_y) return;
    plat_move_window(s.window, cx - s.drag_anchor_x, cy - s.drag_anchor_y, WINDOW_WIDTH, WINDOW_HEIGHT);
    s.last_drag_cursor_x = cx;
    s.last_drag_cursor_y = cy;
}

// ------------------------------------------------------------ [SCROLLING]

// A thumb step of step list pixels' worth, bounded to the track's length so
// that no scale, however small, can take the thumb's top out of range.
static int32_t bounded_step(float step) {
    if (step > (float)THUMB_TRAVEL) return THUMB_TRAVEL;
    if (step < -(float)THUMB_TRAVEL) return -THUMB_TRAVEL;
    return (int32_t)step;
}

// With every row in view (scroll_scale 0) nothing scrolls: the thumb stays
// at the track's top and the list at its first pixel.  Otherwise the arrows
// move the thumb by one row's worth, and at least one pixel, so that they
// still move a very long list.
void scroll_one_row(int direction) {
    AppState &s = app_state;
    int32_t step = 0;
    if (s.scroll_scale > 0.0f) {
        step = bounded_step((float)ROW_PITCH / s.scroll_scale);
        if (step < 1) step = 1;
    }
    s.thumb_top += direction < 0 ? -step : step;
    paint_list();
    set_scroll_thumb(0, s.thumb_top, 1);
    refresh_window();
}

void scroll_wheel(uint32_t wparam) {
    AppState &s = app_state;
    const int32_t units = -((int32_t)wparam / WHEEL_UNIT_DIVISOR);
    if (s.scroll_scale > 0.0f) {
        float step = (float)ROW_PITCH / s.scroll_scale * (float)units;
        if (step > 0.0f && step < 1.0f) step = 1.0f;
        if (step < 0.0f && step > -1.0f) step = -1.0f;
        s.thumb_top += bounded_step(step);
    }
    set_scroll_thumb(0, s.thumb_top, 1);
    s.menu_open = 0;
    paint_list();
    refresh_window();
}

// ----------------------------------------------------------------- [TICK]

// Enter or Space held while an address is on offer presses the capture
// button; letting go of it captures the address, as a click on the button
// does.  A key still held from a dialog (Enter confirming the folder
// chooser) counts only once it has been let go and pressed again.
static void capture_shortcut(void) {
    AppState &s = app_state;
    const bool held = plat_key_down(PLAT_VK_RETURN) || plat_key_down(PLAT_VK_SPACE);
    if (s.offer_key_down == OFFER_KEY_FROM_DIALOG) {
        if (!held) s.offer_key_down = 0;
        return;
    }
    if (!s.offer_pending) return;
    if (held) {
        copy_piece(*FACE_CAPTURE.pressed);
        refresh_window();
        s.offer_key_down = 1;
    } else if (s.offer_key_down == 1) {
        copy_piece(SKIN_CAPTURE_PLAIN);
        add_offered_download();
        s.offer_pending = 0;
        refresh_window();
        s.offer_key_down = 0;
    }
}

// The held thumb follows the cursor even outside the window; it is let go
// when the button is up or the cursor leaves the band around the scrollbar.
static void follow_held_thumb(void) {
    AppState &s = app_state;
    int32_t cx = 0, cy = 0;
    cursor_in_client(&cx, &cy);
    set_scroll_thumb(0, cy - s.thumb_grab, 1);
    refresh_window();
    if (!plat_key_down(PLAT_VK_LBUTTON)) s.thumb_grab = -1;
    if (!in_area(THUMB_HOLD_BAND, cx, cy)) {
        s.thumb_grab = -1;
        if (s.scroll_scale <= 0.0f) {
            s.scroll_scale = 0.0f;
            s.thumb_top = 0;
            set_scroll_thumb(0, 0, 1);
            refresh_window();
        }
    }
}

// A held arrow steps again at the 15th tick and then at every second one.
static void repeat_held_arrow(void) {
    AppState &s = app_state;
    static const int arrows[] = {ELEMENT_SCROLL_UP, ELEMENT_SCROLL_DOWN};
    for (int id : arrows) {
        if (s.hover_id != id || s.press_id != id) continue;
        s.repeat_ticks++;
        if (s.repeat_ticks > REPEAT_DELAY_TICKS && s.repeat_ticks % 2 == 1)
            scroll_one_row(id == ELEMENT_SCROLL_UP ? -1 : 1);
    }
}

void pointer_tick(void) {
    AppState &s = app_state;
    // While a modal dialog runs, keys and the pointer are the dialog's: no
    // shortcut, drag or auto-repeat, but the engine still steps.
    if (s.window_shown && s.modal_depth == 0) {
        capture_shortcut();
        if (s.dragging) {
            if (!plat_key_down(PLAT_VK_LBUTTON)) s.dragging = 0;
            drag_window();
        }
        if (s.thumb_grab >= 0) follow_held_thumb();
        repeat_held_arrow();
    }
    run_engine_step();
}
