// list_view.h - the rows the list shows and the scroll thumb.
//
// The item operations call these when the table changes under the list.
#pragma once

#include <cstdint>

// Rebuilds the rows the list shows and puts the list at its top.
void rebuild_visible_list(void);
// Places and draws the scroll thumb; recompute also sets list_offset.
void set_scroll_thumb(int highlight, int top, int recompute);
// Scrolls the list and the thumb so that item i's row shows (the duplicate
// of a capture).  Selecting the item is left to the caller.
void scroll_to_item(int32_t i);
