// pointer.h - what the window procedure asks of the pointer code: hit
// tests, hover tracking, window dragging and scrolling.
#pragma once

#include <cstdint>

// The face element (ids 1 to 8 of display/window_layout.h) whose area holds
// the client point, or 0.  The capture button counts only while an address
// is on offer; a point outside the window holds nothing.
int element_at(int x, int y);
// The item of the list row under the client point, or -1: only inside the
// list's area, and never where the offline notice, the settings panel or an
// entry of the open menu lies over the list.
int32_t row_item_at(int x, int y);

// Recomputes pointer_zone, menu_entry and the cursor from pointer_x,
// pointer_y.
void update_hover(void);
// Hover looks of the face's elements for the client point: an element
// entered takes its hover look and becomes hover_id, one left its normal
// look (only while no thumb is held and the settings panel is closed).
void track_elements(int x, int y);
// Hover tracking of a pointer move to pointer_x, pointer_y (update_hover has
// run): the held thumb follows, elements entered and left change their
// looks, the settings panel's controls are tracked, and a window drag
// follows.
void track_pointer(int x, int y);
// Moves the window so that the drag's anchor stays under the cursor.
void drag_window(void);

// One row up (-1) or down (+1): the arrows and their auto-repeat.
void scroll_one_row(int direction);
// The wheel: wparam as WM_MOUSEWHEEL carries it.
void scroll_wheel(uint32_t wparam);
