// The layout table probed at window points written out as numbers: every
// element's area holds its edges and not the pixel beyond them, every
// element has its own looks, and the menu is placed and picked as the
// window expects.  The numbers are never taken from the table itself, so
// a wrong entry fails here.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "display/window_layout.h"

namespace {

struct Box {
    const char *what;
    HitArea area;
    int left, top, right, bottom;   // inclusive
};

struct Point {
    const char *what;
    HitArea area;
    int x, y;
    bool inside;
};

// Where a look comes from in the skin picture.
struct Source {
    int sx, sy;
};
bool operator==(const SkinPiece &p, Source s) { return p.sx == s.sx && p.sy == s.sy; }

}  // namespace

TEST(WindowLayoutTest, boxes_hold_their_corners_and_not_the_pixel_beyond) {
    const Box boxes[] = {
        {"settings button", FACE_SETTINGS.area, 64, 28, 78, 43},
        {"web link", FACE_WEB_LINK.area, 82, 407, 201, 412},
        {"scroll up", FACE_SCROLL_UP.area, 274, 59, 282, 68},
        {"scroll down", FACE_SCROLL_DOWN.area, 274, 390, 282, 399},
        {"thumb at 100", thumb_area(100, 40), 273, 101, 282, 139},
        {"list rows", LIST_AREA, 9, 63, 268, 395},
        {"hand cursor", LIST_HAND_AREA, 9, 63, 269, 395},
        {"title strip", TITLE_STRIP, 61, 4, 247, 15},
        {"offline notice", OFFLINE_NOTICE_ZONE, 84, 176, 189, 232},
        {"thumb hold band", THUMB_HOLD_BAND, 245, 9, 300, 490},
        {"panel release box", PANEL_RELEASE_BOX, 75, 39, 225, 193},
        {"panel right-press box", PANEL_RIGHT_PRESS_BOX, 75, 39, 225, 240},
        {"show-finished check", PANEL_SHOW_FINISHED.area, 79, 43, 209, 57},
        {"remove-finished check", PANEL_REMOVE_FINISHED.area, 79, 124, 217, 139},
        {"use-proxy check", PANEL_USE_PROXY.area, 78, 154, 221, 166},
        {"downloads-at-once field", PANEL_MAX_FIELD.area, 80, 69, 218, 82},
        {"folder button", PANEL_FOLDER_BUTTON.area, 80, 97, 184, 109},
        {"octet 1", PANEL_OCTET_1.area, 101, 174, 115, 184},
        {"octet 2", PANEL_OCTET_2.area, 120, 174, 134, 184},
        {"octet 3", PANEL_OCTET_3.area, 139, 174, 153, 184},
        {"octet 4", PANEL_OCTET_4.area, 158, 174, 172, 184},
        {"port", PANEL_PORT.area, 181, 174, 211, 184},
    };
    for (const Box &b : boxes) {
        SCOPED_TRACE(b.what);
        EXPECT_TRUE(in_area(b.area, b.left, b.top));
        EXPECT_TRUE(in_area(b.area, b.right, b.top));
        EXPECT_TRUE(in_area(b.area, b.left, b.bottom));
        EXPECT_TRUE(in_area(b.area, b.right, b.bottom));
        EXPECT_FALSE(in_area(b.area, b.left - 1, b.top));
        EXPECT_FALSE(in_area(b.area, b.right + 1, b.bottom));
        EXPECT_FALSE(in_area(b.area, b.left, b.top - 1));
        EXPECT_FALSE(in_area(b.area, b.right, b.bottom + 1));
    }
    // The thumb's own entry holds no point: where it is comes from thumb_top.
    EXPECT_FALSE(in_area(FACE_THUMB.area, 278, 100));
}

TEST(WindowLayoutTest, circles_hold_what_is_within_their_radius) {
    const Point points[] = {
        // capture: centre (30,29), squared radius 599
        {"capture right edge", FACE_CAPTURE.area, 54, 29, true},   // 576
        {"capture right, beyond", FACE_CAPTURE.area, 55, 29, false},   // 625
        {"capture left edge", FACE_CAPTURE.area, 6, 29, true},
        {"capture left, beyond", FACE_CAPTURE.area, 5, 29, false},
        {"capture top edge", FACE_CAPTURE.area, 30, 5, true},
        {"capture top, beyond", FACE_CAPTURE.area, 30, 4, false},
        {"capture diagonal", FACE_CAPTURE.area, 47, 46, true},   // 289 + 289
        {"capture diagonal, beyond", FACE_CAPTURE.area, 48, 46, false},   // 324 + 289
        {"capture, nearest inside", FACE_CAPTURE.area, 50, 43, true},   // 400 + 196 = 596
        {"capture, nearest outside", FACE_CAPTURE.area, 54, 34, false},   // 576 + 25 = 601
        // hide: centre (260,9), squared radius 39
        {"hide right edge", FACE_HIDE.area, 266, 9, true},   // 36
        {"hide right, beyond", FACE_HIDE.area, 267, 9, false},   // 49
        {"hide bottom edge", FACE_HIDE.area, 260, 15, true},
        {"hide bottom, beyond", FACE_HIDE.area, 260, 16, false},
        {"hide diagonal", FACE_HIDE.area, 256, 5, true},   // 16 + 16
        {"hide diagonal, beyond", FACE_HIDE.area, 255, 5, false},   // 25 + 16
        {"hide, nearest inside", FACE_HIDE.area, 266, 10, true},   // 36 + 1
        {"hide, nearest outside", FACE_HIDE.area, 266, 11, false},   // 36 + 4
        // quit: centre (275,9), squared radius 39
        {"quit left edge", FACE_QUIT.area, 269, 9, true},
        {"quit left, beyond", FACE_QUIT.area, 268, 9, false},
        {"quit right edge", FACE_QUIT.area, 281, 9, true},
        {"quit right, beyond", FACE_QUIT.area, 282, 9, false},
        {"quit top edge", FACE_QUIT.area, 275, 3, true},
        {"quit top, beyond", FACE_QUIT.area, 275, 2, false},
        {"quit, nearest inside", FACE_QUIT.area, 269, 8, true},   // 36 + 1
        {"quit, nearest outside", FACE_QUIT.area, 269, 7, false},   // 36 + 4
        // far away: no overflow turns a distant point into a near one
        {"capture, far off", FACE_CAPTURE.area, 2000000000, -2000000000, false},
    };
    for (const Point &p : points) EXPECT_EQ(in_area(p.area, p.x, p.y), p.inside) << p.what;
}

TEST(WindowLayoutTest, elements_carry_their_ids_names_and_looks) {
    struct Looks {
        const FaceElement &element;
        int id;
        Source normal, hover, pressed;
    };
    const Looks face[] = {
        {FACE_CAPTURE, 1, {4, 3}, {118, 420}, {3, 419}},
        {FACE_SETTINGS, 2, {63, 27}, {214, 421}, {178, 438}},
        {FACE_HIDE, 3, {254, 3}, {181, 422}, {178, 459}},
        {FACE_QUIT, 4, {269, 3}, {196, 422}, {193, 459}},
        {FACE_WEB_LINK, 5, {88, 405}, {7, 476}, {88, 405}},
        {FACE_SCROLL_UP, 6, {273, 58}, {197, 444}, {273, 58}},
        {FACE_SCROLL_DOWN, 7, {273, 389}, {209, 444}, {273, 389}},
    };
    for (const Looks &l : face) {
        SCOPED_TRACE(element_name(l.id));
        EXPECT_EQ(l.element.id, l.id);
        EXPECT_TRUE(*l.element.normal == l.normal);
        EXPECT_TRUE(*l.element.hover == l.hover);
        EXPECT_TRUE(*l.element.pressed == l.pressed);
    }
    EXPECT_EQ(FACE_THUMB.id, 8);
    EXPECT_EQ(FACE_THUMB.pressed, nullptr);

    // Panel controls: id, edit field, place, and the looks off/on x plain/hovered.
    struct PanelLooksAt {
        const PanelElement &element;
        int id, field, x, y;
        Source off, off_hover, on, on_hover;
    };
    const PanelLooksAt panel[] = {
        {PANEL_SHOW_FINISHED, 9, 0, 81, 45, {323, 7}, {355, 210}, {339, 210}, {323, 210}},
        {PANEL_REMOVE_FINISHED, 10, 0, 81, 126, {323, 7}, {355, 210}, {339, 210}, {323, 210}},
        {PANEL_USE_PROXY, 11, 0, 81, 156, {323, 7}, {355, 210}, {339, 210}, {323, 210}},
        {PANEL_MAX_FIELD, 13, 1, 81, 69, {323, 31}, {362, 229}, {379, 229}, {362, 229}},
        {PANEL_FOLDER_BUTTON, 14, 0, 80, 97, {322, 59}, {323, 230}, {322, 59}, {323, 230}},
        {PANEL_OCTET_1, 15, 2, 100, 173, {395, 226}, {374, 209}, {394, 209}, {374, 209}},
        {PANEL_OCTET_2, 16, 3, 119, 173, {395, 226}, {374, 209}, {394, 209}, {374, 209}},
        {PANEL_OCTET_3, 17, 4, 138, 173, {395, 226}, {374, 209}, {394, 209}, {374, 209}},
        {PANEL_OCTET_4, 18, 5, 157, 173, {395, 226}, {374, 209}, {394, 209}, {374, 209}},
        {PANEL_PORT, 19, 6, 180, 173, {322, 250}, {418, 225}, {418, 208}, {418, 225}},
    };
    for (const PanelLooksAt &l : panel) {
        SCOPED_TRACE(element_name(l.id));
        EXPECT_EQ(l.element.id, l.id);
        EXPECT_EQ(l.element.editField, l.field);
        EXPECT_EQ(l.element.x, l.x);
        EXPECT_EQ(l.element.y, l.y);
        EXPECT_TRUE(panel_look(l.element, false, false) == l.off);
        EXPECT_TRUE(panel_look(l.element, false, true) == l.off_hover);
        EXPECT_TRUE(panel_look(l.element, true, false) == l.on);
        EXPECT_TRUE(panel_look(l.element, true, true) == l.on_hover);
    }
    EXPECT_EQ(PANEL_ELEMENT_COUNT, 10);

    // Every element has a name of its own for traces; so has "no element".
    std::set<std::string> names = {element_name(0), element_name(-1222)};
    for (const FaceElement *e : FACE_ELEMENTS) names.insert(element_name(e->id));
    for (const PanelElement *e : PANEL_ELEMENTS) names.insert(element_name(e->id));
    EXPECT_EQ(names.size(), (size_t)(2 + 8 + 10));
    EXPECT_EQ(names.count("unknown"), 0u);
    EXPECT_STREQ(element_name(12), "unknown");
    EXPECT_STREQ(element_name(20), "unknown");
    EXPECT_STREQ(menu_entry_name(5), "show file");
    EXPECT_STREQ(menu_entry_name(6), "unknown");
}

TEST(WindowLayoutTest, menu_opens_inside_the_window_and_picks_entries_by_17_rows) {
    // A right press at (250, 350) opens the menu at (180, 272); at the
    // flip points it stays where the press was.
    EXPECT_EQ(menu_left(250), 180);
    EXPECT_EQ(menu_top(350), 272);
    EXPECT_EQ(menu_left(201), 201);
    EXPECT_EQ(menu_left(202), 132);
    EXPECT_EQ(menu_top(320), 320);
    EXPECT_EQ(menu_top(321), 243);

    const int mx = 100, my = 150;
    struct Pick {
        int x, y, entry;
    };
    const Pick picks[] = {
        {150, my, 0},       {150, my + 1, 1},   {150, my + 16, 1},  {150, my + 17, 2},
        {150, my + 33, 2},  {150, my + 34, 3},  {150, my + 50, 3},  {150, my + 51, 4},
        {150, my + 67, 4},  {150, my + 68, 5},  {150, my + 77, 5},  {150, my + 78, 0},
        {mx, my + 20, 0},   {mx + 1, my + 20, 2}, {mx + 70, my + 20, 2}, {mx + 71, my + 20, 0},
    };
    for (const Pick &p : picks)
        EXPECT_EQ(menu_entry_at(mx, my, p.x, p.y), p.entry) << "at " << p.x << "," << p.y;
}
