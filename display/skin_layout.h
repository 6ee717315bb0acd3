// skin_layout.h - where every piece of the window's face lies in the skin
// picture and where it is drawn in the window.
//
// One table serves three users: the painting code copies pieces by these
// names, the skin generator (tools/skin) draws each piece at its place, and
// the tests check that every piece lies inside the picture.  Positions are
// pixels; (sx, sy) is the piece's top-left corner in the 472x487 skin
// picture, (dx, dy) its place in the 288x417 window, or -1 where the place is
// decided at run time (notes, menus, the thumb).  The hit areas, the list's
// geometry and the other positions of the face are in
// display/window_layout.h, which builds on this table.
#pragma once

struct SkinPiece {
    const char *name;
    int sx, sy;     // source in the skin picture
    int w, h;       // size
    int dx, dy;     // destination in the window; -1 = chosen at run time
};

// ---- the window face and the strips that frame the list
inline constexpr SkinPiece SKIN_FACE = {"window face", 0, 0, 288, 417, 0, 0};
inline constexpr SkinPiece SKIN_FRAME_BELOW_LIST = {"frame below the list", 0, 397, 288, 23, 0, 397};
inline constexpr SkinPiece SKIN_STRIP_ABOVE_ROWS = {"strip above the rows", 1, 48, 288, 14, 1, 48};
inline constexpr SkinPiece SKIN_STRIP_RIGHT_OF_LIST = {"strip right of the list", 270, 56, 18, 349, 270, 56};
inline constexpr SkinPiece SKIN_TOTALS_AREA = {"totals area", 93, 27, 190, 20, 93, 27};

// ---- web-page link
inline constexpr SkinPiece SKIN_LINK_NORMAL = {"web link", 88, 405, 112, 10, 88, 405};
inline constexpr SkinPiece SKIN_LINK_HOVER = {"web link hovered", 7, 476, 112, 10, 88, 405};

// ---- scrollbar
inline constexpr SkinPiece SKIN_UP_NORMAL = {"scroll up", 273, 58, 11, 12, 273, 58};
inline constexpr SkinPiece SKIN_UP_HOVER = {"scroll up hovered", 197, 444, 11, 12, 273, 58};
inline constexpr SkinPiece SKIN_DOWN_NORMAL = {"scroll down", 273, 389, 11, 12, 273, 389};
inline constexpr SkinPiece SKIN_DOWN_HOVER = {"scroll down hovered", 209, 444, 11, 12, 273, 389};
inline constexpr SkinPiece SKIN_SCROLL_TRACK = {"scroll track", 273, 70, 10, 319, 273, 70};
// The thumb is cut from a tall column: a top cap taken from row 2 down, a
// 10-pixel grip at row 161, and a bottom cap that ends at row 322.
inline constexpr SkinPiece SKIN_THUMB_PLAIN = {"scroll thumb column", 290, 2, 10, 321, -1, -1};
inline constexpr SkinPiece SKIN_THUMB_HIGHLIGHT = {"scroll thumb column highlighted", 303, 2, 10, 321, -1, -1};
inline constexpr SkinPiece SKIN_THUMB_GRIP_PLAIN = {"scroll thumb grip", 290, 161, 10, 10, -1, -1};
inline constexpr SkinPiece SKIN_THUMB_GRIP_HIGHLIGHT = {"scroll thumb grip highlighted", 303, 161, 10, 10, -1, -1};

// ---- buttons of the face, with their looks
inline constexpr SkinPiece SKIN_CAPTURE_PLAIN = {"capture button", 4, 3, 52, 53, 4, 3};
inline constexpr SkinPiece SKIN_CAPTURE_OFFERED = {"capture button offered", 61, 421, 52, 53, 4, 3};
inline constexpr SkinPiece SKIN_CAPTURE_OFFERED_HOVER = {"capture button offered, hovered", 118, 420, 52, 53, 4, 3};
inline constexpr SkinPiece SKIN_CAPTURE_PRESSED = {"capture button pressed", 3, 419, 52, 53, 4, 3};
inline constexpr SkinPiece SKIN_SETTINGS_NORMAL = {"settings button", 63, 27, 17, 18, 63, 27};
inline constexpr SkinPiece SKIN_SETTINGS_HOVER = {"settings button hovered", 214, 421, 17, 18, 63, 27};
inline constexpr SkinPiece SKIN_SETTINGS_PRESSED = {"settings button pressed", 178, 438, 17, 18, 63, 27};
inline constexpr SkinPiece SKIN_HIDE_NORMAL = {"hide button", 254, 3, 13, 13, 254, 3};
inline constexpr SkinPiece SKIN_HIDE_HOVER = {"hide button hovered", 181, 422, 13, 13, 254, 3};
inline constexpr SkinPiece SKIN_HIDE_PRESSED = {"hide button pressed", 178, 459, 13, 13, 254, 3};
inline constexpr SkinPiece SKIN_QUIT_NORMAL = {"quit button", 269, 3, 13, 13, 269, 3};
inline constexpr SkinPiece SKIN_QUIT_HOVER = {"quit button hovered", 196, 422, 13, 13, 269, 3};
inline constexpr SkinPiece SKIN_QUIT_PRESSED = {"quit button pressed", 193, 459, 13, 13, 269, 3};

// ---- notes, notices and the item menu
inline constexpr SkinPiece SKIN_DUPLICATE_NOTE = {"duplicate note", 360, 248, 96, 18, -1, -1};
inline constexpr SkinPiece SKIN_OFFLINE_NOTICE = {"offline notice", 316, 268, 107, 58, 83, 175};
inline constexpr SkinPiece SKIN_MENU = {"context menu", 291, 327, 70, 78, -1, -1};
// Highlighted entries; each is drawn at the menu's corner plus MENU_ENTRY_OFFSET.
inline constexpr SkinPiece SKIN_MENU_ENTRY[5] = {
    {"menu entry 1 highlighted", 291, 406, 70, 16, -1, -1},
    {"menu entry 2 highlighted", 291, 421, 70, 16, -1, -1},
    {"menu entry 3 highlighted", 291, 436, 70, 16, -1, -1},
    {"menu entry 4 highlighted", 291, 452, 70, 16, -1, -1},
    {"menu entry 5 highlighted", 291, 468, 70, 16, -1, -1},
};
inline constexpr int MENU_ENTRY_OFFSET[5] = {0, 15, 30, 46, 62};

// ---- settings panel and its controls (all 14 pixels high)
inline constexpr SkinPiece SKIN_PANEL = {"settings panel", 316, 0, 153, 154, 74, 38};
inline constexpr SkinPiece SKIN_CHECK_ON = {"check box on", 339, 210, 14, 14, -1, -1};
inline constexpr SkinPiece SKIN_CHECK_ON_HOVER = {"check box on, hovered", 323, 210, 14, 14, -1, -1};
inline constexpr SkinPiece SKIN_CHECK_OFF = {"check box off", 323, 7, 14, 14, -1, -1};
inline constexpr SkinPiece SKIN_CHECK_OFF_HOVER = {"check box off, hovered", 355, 210, 14, 14, -1, -1};
inline constexpr SkinPiece SKIN_MAX_FIELD = {"downloads-at-once field", 323, 31, 14, 14, 81, 69};
inline constexpr SkinPiece SKIN_MAX_FIELD_HOVER = {"downloads-at-once field hovered", 362, 229, 14, 14, 81, 69};
inline constexpr SkinPiece SKIN_MAX_FIELD_EDIT = {"downloads-at-once field editing", 379, 229, 14, 14, 81, 69};
inline constexpr SkinPiece SKIN_FOLDER_BUTTON = {"folder button", 322, 59, 14, 14, 80, 97};
inline constexpr SkinPiece SKIN_FOLDER_BUTTON_HOVER = {"folder button hovered", 323, 230, 14, 14, 80, 97};
inline constexpr SkinPiece SKIN_OCTET_FIELD = {"address field", 395, 226, 18, 14, -1, 173};
inline constexpr SkinPiece SKIN_OCTET_FIELD_HOVER = {"address field hovered", 374, 209, 18, 14, -1, 173};
inline constexpr SkinPiece SKIN_OCTET_FIELD_EDIT = {"address field editing", 394, 209, 18, 14, -1, 173};
inline constexpr SkinPiece SKIN_PORT_FIELD = {"port field", 322, 250, 34, 14, 180, 173};
inline constexpr SkinPiece SKIN_PORT_FIELD_HOVER = {"port field hovered", 418, 225, 34, 14, 180, 173};
inline constexpr SkinPiece SKIN_PORT_FIELD_EDIT = {"port field editing", 418, 208, 34, 14, 180, 173};

// Window positions of the panel's controls (their hit areas, and the
// positions of the texts drawn over them, are in display/window_layout.h).
inline constexpr int CHECK_SHOW_FINISHED_X = 81, CHECK_SHOW_FINISHED_Y = 45;
inline constexpr int CHECK_REMOVE_FINISHED_X = 81, CHECK_REMOVE_FINISHED_Y = 126;
inline constexpr int CHECK_USE_PROXY_X = 81, CHECK_USE_PROXY_Y = 156;
inline constexpr int OCTET_FIELD_X[4] = {100, 119, 138, 157};

// Every piece, for the generator and the tests.
inline constexpr const SkinPiece *SKIN_PIECES[] = {
    &SKIN_FACE, &SKIN_FRAME_BELOW_LIST, &SKIN_STRIP_ABOVE_ROWS, &SKIN_STRIP_RIGHT_OF_LIST,
    &SKIN_TOTALS_AREA, &SKIN_LINK_NORMAL, &SKIN_LINK_HOVER, &SKIN_UP_NORMAL, &SKIN_UP_HOVER,
    &SKIN_DOWN_NORMAL, &SKIN_DOWN_HOVER, &SKIN_SCROLL_TRACK, &SKIN_THUMB_PLAIN,
    &SKIN_THUMB_HIGHLIGHT, &SKIN_THUMB_GRIP_PLAIN, &SKIN_THUMB_GRIP_HIGHLIGHT,
    &SKIN_CAPTURE_PLAIN, &SKIN_CAPTURE_OFFERED, &SKIN_CAPTURE_OFFERED_HOVER,
    &SKIN_CAPTURE_PRESSED, &SKIN_SETTINGS_NORMAL, &SKIN_SETTINGS_HOVER, &SKIN_SETTINGS_PRESSED,
    &SKIN_HIDE_NORMAL, &SKIN_HIDE_HOVER, &SKIN_HIDE_PRESSED, &SKIN_QUIT_NORMAL,
    &SKIN_QUIT_HOVER, &SKIN_QUIT_PRESSED, &SKIN_DUPLICATE_NOTE, &SKIN_OFFLINE_NOTICE,
    &SKIN_MENU, &SKIN_MENU_ENTRY[0], &SKIN_MENU_ENTRY[1], &SKIN_MENU_ENTRY[2],
    &SKIN_MENU_ENTRY[3], &SKIN_MENU_ENTRY[4], &SKIN_PANEL, &SKIN_CHECK_ON,
    &SKIN_CHECK_ON_HOVER, &SKIN_CHECK_OFF, &SKIN_CHECK_OFF_HOVER, &SKIN_MAX_FIELD,
    &SKIN_MAX_FIELD_HOVER, &SKIN_MAX_FIELD_EDIT, &SKIN_FOLDER_BUTTON, &SKIN_FOLDER_BUTTON_HOVER,
    &SKIN_OCTET_FIELD, &SKIN_OCTET_FIELD_HOVER, &SKIN_OCTET_FIELD_EDIT, &SKIN_PORT_FIELD,
    &SKIN_PORT_FIELD_HOVER, &SKIN_PORT_FIELD_EDIT,
};
inline constexpr int SKIN_PIECE_COUNT = (int)(sizeof(SKIN_PIECES) / sizeof(SKIN_PIECES[0]));
