// window_layout.h - the window's face as one table: every element's id, hit
// area and looks, the list's geometry, the totals, the scrollbar, the title
// strip, the item menu, the duplicate note and the settings panel.
//
// Positions are pixels of the 288x417 window (client coordinates).  Hit
// areas include their bounds; a circle holds the points whose squared
// distance from its centre is at most radiusSquared.  Where a position is
// the place of a skin piece, it is taken from display/skin_layout.h rather
// than written again.  Painting reads this table; the window procedure, the
// pointer code and the settings panel test the pointer against it.
//
// Sections: [ELEMENT IDS] [HIT AREAS] [FACE ELEMENTS] [LIST] [TOTALS]
//           [SCROLLBAR] [POINTER ZONES] [MENU] [DUPLICATE NOTE]
//           [SETTINGS PANEL]
#pragma once

#include "app/app_state.h"
#include "display/skin_layout.h"

// ---------------------------------------------------------- [ELEMENT IDS]

// What hover_id and press_id hold: the element under the pointer or
// pressed.  Ids 1-8 are the face's own elements, 9-19 the settings panel's
// (12 is not used).
enum ElementId {
    ELEMENT_NONE = 0,
    ELEMENT_CAPTURE = 1,
    ELEMENT_SETTINGS = 2,
    ELEMENT_HIDE = 3,
    ELEMENT_QUIT = 4,
    ELEMENT_WEB_LINK = 5,
    ELEMENT_SCROLL_UP = 6,
    ELEMENT_SCROLL_DOWN = 7,
    ELEMENT_THUMB = 8,
    ELEMENT_CHECK_SHOW_FINISHED = 9,
    ELEMENT_CHECK_REMOVE_FINISHED = 10,
    ELEMENT_CHECK_USE_PROXY = 11,
    ELEMENT_MAX_FIELD = 13,
    ELEMENT_FOLDER_BUTTON = 14,
    ELEMENT_OCTET_1 = 15,
    ELEMENT_OCTET_2 = 16,
    ELEMENT_OCTET_3 = 17,
    ELEMENT_OCTET_4 = 18,
    ELEMENT_PORT = 19,
    // press_id of a press that began on no element: it matches no hover_id,
    // so such a press never completes a click.
    ELEMENT_NO_MATCH = -1222,
    // hover_id once the settings panel has closed: no element is left when
    // the pointer next moves, and no press matches it either.
    ELEMENT_PANEL_CLOSED = -1,
};

// Names for traces, indexed by id; null where no element has the id.
inline constexpr const char *ELEMENT_NAMES[] = {
    "none",
    "capture button",
    "settings button",
    "hide button",
    "quit button",
    "web link",
    "scroll up",
    "scroll down",
    "scroll thumb",
    "show-finished check",
    "remove-finished check",
    "use-proxy check",
    nullptr,
    "downloads-at-once field",
    "folder button",
    "proxy octet 1",
    "proxy octet 2",
    "proxy octet 3",
    "proxy octet 4",
    "proxy port",
};
static_assert(sizeof(ELEMENT_NAMES) / sizeof(ELEMENT_NAMES[0]) == ELEMENT_PORT + 1,
              "one name for every id up to the last element");

inline const char *element_name(int id) {
    if (id == ELEMENT_NO_MATCH) return "no element";
    if (id == ELEMENT_PANEL_CLOSED) return "panel closed";
    if (id < 0 || id > ELEMENT_PORT || !ELEMENT_NAMES[id]) return "unknown";
    return ELEMENT_NAMES[id];
}

static_assert(sizeof(SKIN_MENU_ENTRY) / sizeof(SKIN_MENU_ENTRY[0]) == MENU_ENTRY_SHOW_FILE,
              "one highlight strip for every menu entry");


// ------------------------------------------------------------ [HIT AREAS]

struct HitArea {
    int left, top, right, bottom;          // a box, bounds included
    int centreX, centreY, radiusSquared;   // a circle when radiusSquared > 0
};

inline constexpr HitArea box_area(int left, int top, int right, int bottom) {
    return {left, top, right, bottom, 0, 0, 0};
}
inline constexpr HitArea circle_area(int centre_x, int centre_y, int radius_squared) {
    return {0, 0, -1, -1, centre_x, centre_y, radius_squared};
}

// Whether (x, y) lies in the area.  The squares are taken in 64 bits so that
// a pointer far outside the window cannot overflow them.
inline constexpr bool in_area(const HitArea &a, int x, int y) {
    if (a.radiusSquared > 0) {
        const long long dx = (long long)x - a.centreX, dy = (long long)y - a.centreY;
        return dx * dx + dy * dy <= a.radiusSquared;
    }
    return x >= a.left && x <= a.right && y >= a.top && y <= a.bottom;
}

// -------------------------------------------------------- [FACE ELEMENTS]

// An element of the face with its three looks.  The capture button's normal
// look is SKIN_CAPTURE_OFFERED while an offer is pending, and it counts as
// hovered only then.
struct FaceElement {
    int id;
    HitArea area;
    const SkinPiece *normal;    // away from the pointer
    const SkinPiece *hover;     // under the pointer
    const SkinPiece *pressed;   // drawn by a press; null where a press draws nothing
};

inline constexpr FaceElement FACE_CAPTURE = {ELEMENT_CAPTURE, circle_area(30, 29, 599), &SKIN_CAPTURE_PLAIN,
                                             &SKIN_CAPTURE_OFFERED_HOVER, &SKIN_CAPTURE_PRESSED};
inline constexpr FaceElement FACE_SETTINGS = {ELEMENT_SETTINGS, box_area(64, 28, 78, 43), &SKIN_SETTINGS_NORMAL,
                                              &SKIN_SETTINGS_HOVER, &SKIN_SETTINGS_PRESSED};
inline constexpr FaceElement FACE_HIDE = {ELEMENT_HIDE, circle_area(260, 9, 39), &SKIN_HIDE_NORMAL,
                                          &SKIN_HIDE_HOVER, &SKIN_HIDE_PRESSED};
inline constexpr FaceElement FACE_QUIT = {ELEMENT_QUIT, circle_area(275, 9, 39), &SKIN_QUIT_NORMAL,
                                          &SKIN_QUIT_HOVER, &SKIN_QUIT_PRESSED};
// The link and the arrows show their normal look while pressed.
inline constexpr FaceElement FACE_WEB_LINK = {ELEMENT_WEB_LINK, box_area(82, 407, 201, 412), &SKIN_LINK_NORMAL,
                                              &SKIN_LINK_HOVER, &SKIN_LINK_NORMAL};
inline constexpr FaceElement FACE_SCROLL_UP = {ELEMENT_SCROLL_UP, box_area(274, 59, 282, 68), &SKIN_UP_NORMAL,
                                               &SKIN_UP_HOVER, &SKIN_UP_NORMAL};
inline constexpr FaceElement FACE_SCROLL_DOWN = {ELEMENT_SCROLL_DOWN, box_area(274, 390, 282, 399),
                                                 &SKIN_DOWN_NORMAL, &SKIN_DOWN_HOVER, &SKIN_DOWN_NORMAL};
// The thumb moves: its area here spans its columns but no rows (it holds
// no point), and thumb_area() below gives the rows of the thumb where it
// is.  Its looks are the two thumb columns, drawn by draw_scroll_thumb.
inline constexpr FaceElement FACE_THUMB = {ELEMENT_THUMB, box_area(273, 0, 282, -1), &SKIN_THUMB_PLAIN,
                                           &SKIN_THUMB_HIGHLIGHT, nullptr};

// The face's elements in the order the pointer tests them, which is id order.
inline constexpr const FaceElement *FACE_ELEMENTS[] = {
    &FACE_CAPTURE, &FACE_SETTINGS, &FACE_HIDE, &FACE_QUIT,
    &FACE_WEB_LINK, &FACE_SCROLL_UP, &FACE_SCROLL_DOWN, &FACE_THUMB,
};
inline constexpr int FACE_ELEMENT_COUNT = (int)(sizeof(FACE_ELEMENTS) / sizeof(FACE_ELEMENTS[0]));

inline constexpr bool face_elements_in_id_order() {
    for (int i = 0; i < FACE_ELEMENT_COUNT; i++)
        if (FACE_ELEMENTS[i]->id != i + 1) return false;
    return true;
}
static_assert(face_elements_in_id_order(), "FACE_ELEMENTS[i] is the element with id i + 1");

// The thumb's area with its top at thumb_top: its columns, and the rows
// strictly between its top and its end.
inline constexpr HitArea thumb_area(int thumb_top, int thumb_length) {
    return box_area(FACE_THUMB.area.left, thumb_top + 1, FACE_THUMB.area.right, thumb_top + thumb_length - 1);
}

// ----------------------------------------------------------------- [LIST]

// Each row is ROW_PITCH pixels: its separator line, then its band of text
// and fills below it.  With the list at its top the first separator falls
// at y 61, just above the band, and is not drawn.
inline constexpr int ROW_PITCH = 12;
inline constexpr int ROWS_TOP = 62;            // first pixel row the rows may fill
inline constexpr int ROWS_BOTTOM = 397;        // first pixel row below them
inline constexpr int ROWS_PAINT_END = 399;     // rows are painted while their separator y is at most this
inline constexpr int SEPARATOR_LEFT = 8;       // separators run from here...
inline constexpr int SEPARATOR_END = 271;      // ...up to, not including, this x

// The three columns by their fills (right edge excluded).
struct ListColumn {
    int left, right;
};
inline constexpr ListColumn LIST_NAME_COLUMN = {8, 214};
inline constexpr ListColumn LIST_SIZE_COLUMN = {214, 248};
inline constexpr ListColumn LIST_SPEED_COLUMN = {248, 271};
// Vertical grid lines, drawn from ROWS_TOP down to (not including) ROWS_BOTTOM.
inline constexpr int COLUMN_LINE_X[2] = {213, 248};

inline constexpr int PROGRESS_WIDTH = 205;     // a complete item's bar, from the name column's left
inline constexpr int ADDRESS_TEXT_X = 9;       // page address, at the row's top
inline constexpr int SIZE_TEXT_RIGHT = 247;    // total size, right-aligned
inline constexpr int SIZE_PLACEHOLDER_X = 236; // the placeholder of an unknown size
inline constexpr int SPEED_TEXT_RIGHT = 270;   // speed, right-aligned

// The list as the pointer sees it.  Three slightly different x ranges are
// in use and kept apart on purpose: a press selects a row and a right press
// opens the menu in LIST_AREA, the hand cursor shows over LIST_HAND_AREA,
// and painting lights the row under the pointer between LIST_HOVER_LEFT and
// LIST_HOVER_RIGHT (rows by their own bands).
inline constexpr HitArea LIST_AREA = box_area(9, 63, 268, 395);
inline constexpr HitArea LIST_HAND_AREA = box_area(9, 63, 269, 395);
inline constexpr int LIST_HOVER_LEFT = 9, LIST_HOVER_RIGHT = 270;

// --------------------------------------------------------------- [TOTALS]

inline constexpr int TOTALS_BAR_LEFT = 94;
inline constexpr int TOTALS_BAR_TOP = 28;
inline constexpr int TOTALS_BAR_BOTTOM = 45;   // excluded
inline constexpr int TOTALS_WIDTH = 139;       // the bar with everything complete
inline constexpr int TOTALS_TEXT_Y = 30;
inline constexpr int TOTAL_DONE_RIGHT = 154;   // bytes done, right-aligned
inline constexpr int TOTALS_SEPARATOR_X = 160; // the one-character separator
inline constexpr int TOTAL_SIZE_X = 170;       // bytes in all, from here
inline constexpr int TOTAL_SPEED_RIGHT = 278;  // overall speed, right-aligned

// ------------------------------------------------------------ [SCROLLBAR]

// The thumb stays within the track: its top at SCROLL_TRACK_TOP or below,
// its end at SCROLL_TRACK_BOTTOM or above.
inline constexpr int SCROLL_TRACK_TOP = 70;
inline constexpr int SCROLL_TRACK_BOTTOM = 389;
static_assert(SKIN_SCROLL_TRACK.dy == SCROLL_TRACK_TOP &&
                  SKIN_SCROLL_TRACK.dy + SKIN_SCROLL_TRACK.h == SCROLL_TRACK_BOTTOM,
              "the track piece covers the thumb's travel");
inline constexpr int THUMB_X = SKIN_SCROLL_TRACK.dx;
inline constexpr int THUMB_WIDTH = SKIN_THUMB_PLAIN.w;
// The thumb is cut from one of the two columns (SKIN_THUMB_PLAIN,
// SKIN_THUMB_HIGHLIGHT): its top cap from the column's top row down, the
// grip from THUMB_GRIP_ROW, and its bottom cap ending just above
// THUMB_COLUMN_END.
inline constexpr int THUMB_TOP_CAP_ROW = SKIN_THUMB_PLAIN.sy;
inline constexpr int THUMB_GRIP_ROW = SKIN_THUMB_GRIP_PLAIN.sy;
inline constexpr int THUMB_GRIP_HEIGHT = SKIN_THUMB_GRIP_PLAIN.h;
inline constexpr int THUMB_COLUMN_END = SKIN_THUMB_PLAIN.sy + SKIN_THUMB_PLAIN.h;

// For scrolling the list counts as SCROLL_VIEW_HEIGHT pixels (25 rows) high,
// and the thumb of length 40 travels THUMB_TRAVEL pixels (70 to 349).
inline constexpr int SCROLL_VIEW_HEIGHT = 300;
inline constexpr int THUMB_TRAVEL = 279;
// List pixels left above a row the list is scrolled to (five rows).
inline constexpr int SCROLL_TO_LEAD = 60;
// A held thumb is let go when the pointer leaves this band.
inline constexpr HitArea THUMB_HOLD_BAND = box_area(245, 9, 300, 490);

// ------------------------------------------------------- [POINTER ZONES]

// A left press here starts dragging the window.
inline constexpr HitArea TITLE_STRIP = box_area(61, 4, 247, 15);
// Over the offline notice (while it shows) the pointer selects no row,
// opens no menu and gets no hand cursor.
inline constexpr HitArea OFFLINE_NOTICE_ZONE = box_area(84, 176, 189, 232);

// ----------------------------------------------------------------- [MENU]

// The menu opens at the right press, moved left by its width when the
// press is right of MENU_FLIP_RIGHT and up by its height when it is below
// MENU_FLIP_BELOW, so that the whole menu stays inside the window.
inline constexpr int MENU_WIDTH = SKIN_MENU.w;
inline constexpr int MENU_HEIGHT = SKIN_MENU.h;
inline constexpr int MENU_FLIP_RIGHT = 201;
inline constexpr int MENU_FLIP_BELOW = 320;
// Entries are picked strictly inside MENU_PICK_WIDTH x MENU_PICK_HEIGHT from
// the menu's corner, MENU_ENTRY_PITCH rows each; the highlight strips are
// drawn at MENU_ENTRY_OFFSET (display/skin_layout.h).
inline constexpr int MENU_PICK_WIDTH = 71;
inline constexpr int MENU_PICK_HEIGHT = 78;
inline constexpr int MENU_ENTRY_PITCH = 17;

inline constexpr int menu_left(int x) { return x > MENU_FLIP_RIGHT ? x - MENU_WIDTH : x; }
inline constexpr int menu_top(int y) { return y > MENU_FLIP_BELOW ? y - MENU_HEIGHT : y; }

// The entry under (x, y) of a menu with its corner at (menu_x, menu_y), or
// MENU_ENTRY_NONE.
inline constexpr int menu_entry_at(int menu_x, int menu_y, int x, int y) {
    if (x > menu_x && x < menu_x + MENU_PICK_WIDTH && y > menu_y && y < menu_y + MENU_PICK_HEIGHT)
        return (y - menu_y) / MENU_ENTRY_PITCH + 1;
    return MENU_ENTRY_NONE;
}

// ------------------------------------------------------- [DUPLICATE NOTE]

// The note (SKIN_DUPLICATE_NOTE, 96x18) shows this far from the click on
// the capture button that found the address already listed.
inline constexpr int NOTE_OFFSET_X = 8;
inline constexpr int NOTE_OFFSET_Y = -2;

// ------------------------------------------------------- [SETTINGS PANEL]

// The panel is drawn at SKIN_PANEL's place.  A left release outside the
// release box closes it; a right press outside the larger right-press box
// applies the settings and leaves it open.
inline constexpr HitArea PANEL_RELEASE_BOX = box_area(75, 39, 225, 193);
inline constexpr HitArea PANEL_RIGHT_PRESS_BOX = box_area(75, 39, 225, 240);

// The looks of a panel control: "on" is a ticked box or the field being
// edited.  A field shows its hover look even while edited; the folder
// button has no "on" look of its own.
struct PanelLooks {
    const SkinPiece *normal, *hover;
    const SkinPiece *on, *onHover;
};
inline constexpr PanelLooks CHECK_BOX_LOOKS = {&SKIN_CHECK_OFF, &SKIN_CHECK_OFF_HOVER, &SKIN_CHECK_ON,
                                               &SKIN_CHECK_ON_HOVER};
inline constexpr PanelLooks MAX_FIELD_LOOKS = {&SKIN_MAX_FIELD, &SKIN_MAX_FIELD_HOVER, &SKIN_MAX_FIELD_EDIT,
                                               &SKIN_MAX_FIELD_HOVER};
inline constexpr PanelLooks FOLDER_BUTTON_LOOKS = {&SKIN_FOLDER_BUTTON, &SKIN_FOLDER_BUTTON_HOVER,
                                                   &SKIN_FOLDER_BUTTON, &SKIN_FOLDER_BUTTON_HOVER};
inline constexpr PanelLooks OCTET_FIELD_LOOKS = {&SKIN_OCTET_FIELD, &SKIN_OCTET_FIELD_HOVER,
                                                 &SKIN_OCTET_FIELD_EDIT, &SKIN_OCTET_FIELD_HOVER};
inline constexpr PanelLooks PORT_FIELD_LOOKS = {&SKIN_PORT_FIELD, &SKIN_PORT_FIELD_HOVER, &SKIN_PORT_FIELD_EDIT,
                                                &SKIN_PORT_FIELD_HOVER};

struct PanelElement {
    int id;
    HitArea area;
    int x, y;            // where its looks are drawn
    PanelLooks looks;
    int editField;       // the edit_field a press selects, 0 none
};

inline constexpr PanelElement PANEL_SHOW_FINISHED = {ELEMENT_CHECK_SHOW_FINISHED, box_area(79, 43, 209, 57),
                                                     CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y,
                                                     CHECK_BOX_LOOKS, 0};
inline constexpr PanelElement PANEL_REMOVE_FINISHED = {ELEMENT_CHECK_REMOVE_FINISHED, box_area(79, 124, 217, 139),
                                                       CHECK_REMOVE_FINISHED_X, CHECK_REMOVE_FINISHED_Y,
                                                       CHECK_BOX_LOOKS, 0};
inline constexpr PanelElement PANEL_USE_PROXY = {ELEMENT_CHECK_USE_PROXY, box_area(78, 154, 221, 166),
                                                 CHECK_USE_PROXY_X, CHECK_USE_PROXY_Y, CHECK_BOX_LOOKS, 0};
inline constexpr PanelElement PANEL_MAX_FIELD = {ELEMENT_MAX_FIELD, box_area(80, 69, 218, 82), SKIN_MAX_FIELD.dx,
                                                 SKIN_MAX_FIELD.dy, MAX_FIELD_LOOKS, 1};
inline constexpr PanelElement PANEL_FOLDER_BUTTON = {ELEMENT_FOLDER_BUTTON, box_area(80, 97, 184, 109),
                                                     SKIN_FOLDER_BUTTON.dx, SKIN_FOLDER_BUTTON.dy,
                                                     FOLDER_BUTTON_LOOKS, 0};
// The proxy fields are tracked and pressed only while the proxy is ticked.
inline constexpr PanelElement PANEL_OCTET_1 = {ELEMENT_OCTET_1, box_area(101, 174, 115, 184), OCTET_FIELD_X[0],
                                               SKIN_OCTET_FIELD.dy, OCTET_FIELD_LOOKS, 2};
inline constexpr PanelElement PANEL_OCTET_2 = {ELEMENT_OCTET_2, box_area(120, 174, 134, 184), OCTET_FIELD_X[1],
                                               SKIN_OCTET_FIELD.dy, OCTET_FIELD_LOOKS, 3};
inline constexpr PanelElement PANEL_OCTET_3 = {ELEMENT_OCTET_3, box_area(139, 174, 153, 184), OCTET_FIELD_X[2],
                                               SKIN_OCTET_FIELD.dy, OCTET_FIELD_LOOKS, 4};
inline constexpr PanelElement PANEL_OCTET_4 = {ELEMENT_OCTET_4, box_area(158, 174, 172, 184), OCTET_FIELD_X[3],
                                               SKIN_OCTET_FIELD.dy, OCTET_FIELD_LOOKS, 5};
inline constexpr PanelElement PANEL_PORT = {ELEMENT_PORT, box_area(181, 174, 211, 184), SKIN_PORT_FIELD.dx,
                                            SKIN_PORT_FIELD.dy, PORT_FIELD_LOOKS, 6};

// The look of a control that is on (ticked, edited) or not, under the
// pointer or not.
inline constexpr const SkinPiece &panel_look(const PanelElement &e, bool on, bool hover) {
    return on ? (hover ? *e.looks.onHover : *e.looks.on) : (hover ? *e.looks.hover : *e.looks.normal);
}

// Every control in id order; the proxy fields (octets 1-4, then the port)
// also on their own.
inline constexpr const PanelElement *PANEL_ELEMENTS[] = {
    &PANEL_SHOW_FINISHED, &PANEL_REMOVE_FINISHED, &PANEL_USE_PROXY, &PANEL_MAX_FIELD, &PANEL_FOLDER_BUTTON,
    &PANEL_OCTET_1,       &PANEL_OCTET_2,         &PANEL_OCTET_3,   &PANEL_OCTET_4,   &PANEL_PORT,
};
inline constexpr int PANEL_ELEMENT_COUNT = (int)(sizeof(PANEL_ELEMENTS) / sizeof(PANEL_ELEMENTS[0]));

inline constexpr bool panel_elements_in_id_order() {
    for (int i = 1; i < PANEL_ELEMENT_COUNT; i++)
        if (PANEL_ELEMENTS[i]->id <= PANEL_ELEMENTS[i - 1]->id) return false;
    return true;
}
static_assert(panel_elements_in_id_order(), "PANEL_ELEMENTS is in id order");
inline constexpr const PanelElement *PANEL_PROXY_FIELDS[5] = {&PANEL_OCTET_1, &PANEL_OCTET_2, &PANEL_OCTET_3,
                                                             &PANEL_OCTET_4, &PANEL_PORT};

// The downloads-at-once digit, drawn from here.
inline constexpr int MAX_DIGIT_X = 84, MAX_DIGIT_Y = 69;
// The proxy numbers end at these x positions (right-aligned), at y 173:
// octets 1-4, then the port.
inline constexpr int PROXY_NUMBER_RIGHT[5] = {115, 134, 153, 172, 211};
inline constexpr int PROXY_NUMBER_Y = 173;
