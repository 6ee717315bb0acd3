// settings.cpp - the settings panel: opening it, its controls under the
// pointer, what a press on each does, the digits typed into its number
// fields, and applying and saving what it holds.
//
// Check boxes and the folder act at once; the proxy (address, port and its
// switch) is an edited copy that takes effect when applied, and the
// downloads-at-once digit when saved.  The panel is painted from this state
// (display/paint.cpp), so a control's look drawn here is also what every
// later refresh draws.
//
// Sections: [OPEN AND APPLY] [HOVER] [PRESS] [DIGITS]
#include "ui/settings.h"

#include "app/app_state.h"
#include "display/display.h"
#include "display/window_layout.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "ui/folder_chooser.h"
#include "ui/list_view.h"

// Number fields: an octet stays within 0..255, the port within 0..65535.
static const int32_t OCTET_MAX = 255;
static const int32_t PORT_MAX = 65535;
// edit_field values: none, the downloads-at-once digit, the first octet,
// the port (octets 2-4 lie between).
static const int32_t FIELD_NONE = 0;
static const int32_t FIELD_MAX_ACTIVE = 1;
static const int32_t FIELD_FIRST_OCTET = 2;
static const int32_t FIELD_PORT = 6;

static const int KEY_DIGIT_0 = 48;
static const int KEY_DIGIT_9 = 57;

// ------------------------------------------------------- [OPEN AND APPLY]

void open_settings_panel(void) {
    AppState &s = app_state;
    s.settings_open = 1;
    s.proxy_edit_on = s.use_proxy;
    for (int octet = 0; octet < 4; octet++) s.proxy_edit[octet] = s.proxy_address[octet];
    s.proxy_edit[4] = s.proxy_port;
    s.edit_field = FIELD_NONE;
}

// The proxy takes effect only here: requests made while the panel is open
// still go the way they went.  Saving puts the downloads-at-once limit in
// force too.
void apply_settings(void) {
    AppState &s = app_state;
    for (int octet = 0; octet < 4; octet++) s.proxy_address[octet] = s.proxy_edit[octet];
    s.proxy_port = s.proxy_edit[4];
    s.use_proxy = s.proxy_edit_on;
    repaint_all();
    s.edit_field = FIELD_NONE;
    // No element is left when the pointer next moves: the panel's own
    // controls are gone from under it.
    s.hover_id = ELEMENT_PANEL_CLOSED;
    save_settings();
}

void close_settings_panel(void) {
    app_state.settings_open = 0;
    apply_settings();
}

// ---------------------------------------------------------------- [HOVER]

// The proxy fields are there only while the proxy is ticked.
static bool control_live(const PanelElement &e) {
    return e.editField < FIELD_FIRST_OCTET || app_state.proxy_edit_on;
}

// Whether the control shows its "on" look: a ticked box, the field being
// edited.
static bool control_on(const PanelElement &e) {
    const AppState &s = app_state;
    switch (e.id) {
    case ELEMENT_CHECK_SHOW_FINISHED: return s.show_finished != 0;
    case ELEMENT_CHECK_REMOVE_FINISHED: return s.auto_remove_finished != 0;
    case ELEMENT_CHECK_USE_PROXY: return s.proxy_edit_on != 0;
    default: return e.editField != FIELD_NONE && s.edit_field == e.editField;
    }
}

static void draw_control(const PanelElement &e, bool hover) {
    copy_piece_at(panel_look(e, control_on(e), hover), e.x, e.y);
}

// Enter and leave as the face's elements do.  The refresh repaints the whole
// panel from its state, the digit and the five numbers with it.
void track_settings_hover(void) {
    AppState &s = app_state;
    if (!s.settings_open || s.modal_depth > 0) return;
    for (const PanelElement *e : PANEL_ELEMENTS) {
        const bool inside = control_live(*e) && in_area(e->area, s.pointer_x, s.pointer_y);
        if (inside && s.hover_id != e->id) {
            draw_control(*e, true);
            refresh_window();
            s.hover_id = e->id;
        } else if (!inside && s.hover_id == e->id) {
            draw_control(*e, false);
            refresh_window();
            s.hover_id = ELEMENT_NONE;
        }
    }
}

// ---------------------------------------------------------------- [PRESS]

static const PanelElement *panel_element(int id) {
    for (const PanelElement *e : PANEL_ELEMENTS)
        if (e->id == id) return e;
    return nullptr;
}

// The list follows at once.  A finished download that is no longer listed
// cannot stay selected; the list keeps its scroll position.
static void toggle_show_finished(const PanelElement &e) {
    AppState &s = app_state;
    s.show_finished = !s.show_finished;
    draw_control(e, true);
    s.edit_field = FIELD_NONE;
    const int32_t kept_top = s.thumb_top;
    const int32_t selected = downloads.selected_item;
    if (!s.show_finished && downloads.items && selected >= 0 && selected < downloads.item_count &&
        downloads.items[selected].state == Finished)
        downloads.selected_item = -1;
    rebuild_visible_list();
    set_scroll_thumb(0, kept_top, 1);
    refresh_window();
}

// A press on control id.  Presses arrive for the press and for the double
// press of a double click alike, so a double click on a check box toggles
// it twice.
void press_settings_element(int id) {
    AppState &s = app_state;
    if (!s.settings_open || s.modal_depth > 0) return;
    const PanelElement *e = panel_element(id);
    if (!e || !control_live(*e)) return;
    switch (id) {
    case ELEMENT_CHECK_SHOW_FINISHED: toggle_show_finished(*e); return;
    case ELEMENT_CHECK_REMOVE_FINISHED:
        s.auto_remove_finished = !s.auto_remove_finished;
        draw_control(*e, true);
        s.edit_field = FIELD_NONE;
        break;
    case ELEMENT_CHECK_USE_PROXY:
        s.proxy_edit_on = !s.proxy_edit_on;
        draw_control(*e, true);
        s.edit_field = FIELD_NONE;
        break;
    case ELEMENT_MAX_FIELD:
        s.edit_field = FIELD_MAX_ACTIVE;
        draw_control(*e, false);   // the edited look; the digit turns black with it
        break;
    case ELEMENT_FOLDER_BUTTON:
        draw_control(*e, false);
        refresh_window();
        choose_download_folder();
        return;
    default:
        // A proxy field: selecting it again keeps what is being typed.
        if (s.edit_field != e->editField) {
            s.edit_field = e->editField;
            s.edit_fresh = 1;
        }
        break;
    }
    refresh_window();
}

// --------------------------------------------------------------- [DIGITS]

// A digit typed into an octet: appended while the octet is below 26 (so
// 25 and 9 give 259, kept at 255), ignored from 26 on.
static int32_t octet_with_digit(int32_t v, int d) {
    if (v * 10 >= OCTET_MAX) return v;
    v = v * 10 + d;
    return v > OCTET_MAX ? OCTET_MAX : v;
}

// A digit typed into the port: appended unless the port would pass 65535.
static int32_t port_with_digit(int32_t p, int d) {
    const int64_t next = (int64_t)p * 10 + d;
    return next > PORT_MAX ? p : (int32_t)next;
}

// The key latched by the per-message step (pending_key > 0 is a fresh one):
// a digit goes into the field being edited, Backspace takes the last digit
// off a proxy field.  A freshly selected field starts over.
void apply_settings_key(void) {
    AppState &s = app_state;
    if (!s.settings_open || s.modal_depth > 0) return;
    const int32_t key = s.pending_key;
    const bool backspace = key == PLAT_VK_BACK;
    if (!backspace && (key < KEY_DIGIT_0 || key > KEY_DIGIT_9)) return;
    const int d = key - KEY_DIGIT_0;

    if (s.edit_field == FIELD_MAX_ACTIVE) {
        // A single digit; Backspace leaves it alone.
        if (backspace) return;
        s.max_active_edit = d;
        refresh_window();
        return;
    }
    if (s.edit_field < FIELD_FIRST_OCTET || s.edit_field > FIELD_PORT) return;

    int32_t &value = s.proxy_edit[s.edit_field - FIELD_FIRST_OCTET];
    if (s.edit_fresh) value = 0;
    if (backspace)
        value /= 10;
    else if (s.edit_field == FIELD_PORT)
        value = port_with_digit(value, d);
    else
        value = octet_with_digit(value, d);
    s.edit_fresh = 0;
    refresh_window();
}
