// The rows the list shows, the thumb placement and the list offset it
// gives, and scrolling to one item (as a captured duplicate does), on the
// display fixture's shown window.
#include "display/display_fixture.h"
#include "ui/list_view.h"

namespace {

struct ScrollTest : DisplayTest {
    // n queued items, every one listed.
    void list_items(int n) {
        for (int i = 0; i < n; i++) add_item(Queued, 0, 0, 0, "http://reelbox.test/v/x");
        rebuild_visible_list();
    }
};

}  // namespace

TEST_F(ScrollTest, thumb_stays_on_the_track_and_sets_the_offset_when_asked) {
    list_items(40);   // (480 - 300) / 279 list pixels per thumb pixel
    EXPECT_FLOAT_EQ(app_state.scroll_scale, 180.0f / 279.0f);
    EXPECT_EQ(app_state.thumb_top, 70);
    EXPECT_EQ(app_state.list_offset, 0);

    set_scroll_thumb(0, 10, 1);
    EXPECT_EQ(app_state.thumb_top, 70);
    EXPECT_EQ(app_state.list_offset, 0);
    set_scroll_thumb(0, 380, 1);
    EXPECT_EQ(app_state.thumb_top, 349);
    EXPECT_EQ(app_state.list_offset, 180);   // the list's last 25 rows
    set_scroll_thumb(0, 100, 0);             // placed, offset left as it was
    EXPECT_EQ(app_state.thumb_top, 100);
    EXPECT_EQ(app_state.list_offset, 180);
    set_scroll_thumb(0, 101, 1);
    EXPECT_EQ(app_state.list_offset, 20);    // 31 x 0.645, truncated

    // A list that fits: no scale, the thumb at the top.
    downloads.item_count = 0;
    app_state.visible_count = 0;
    list_items(25);
    EXPECT_EQ(app_state.scroll_scale, 0.0f);
    EXPECT_EQ(app_state.thumb_top, 70);
    EXPECT_EQ(app_state.list_offset, 0);
}

TEST_F(ScrollTest, scrolling_to_an_item_shows_its_row_fifth_from_the_top) {
    list_items(40);
    scroll_to_item(5);   // row 6: offset 72 - 60
    EXPECT_EQ(app_state.list_offset, 12);
    EXPECT_EQ(app_state.thumb_top, 69 + 18);   // 12 / 0.645 = 18.6, truncated
    EXPECT_EQ(block_mismatches(SKIN_THUMB_GRIP_PLAIN, 273, 87 + 15), 0);

    // Near the end the track stops the thumb and the offset follows it.
    scroll_to_item(39);
    EXPECT_EQ(app_state.thumb_top, 349);
    EXPECT_EQ(app_state.list_offset, 180);
    // An item not listed counts as the last row.
    scroll_to_item(5);
    scroll_to_item(1000);
    EXPECT_EQ(app_state.thumb_top, 349);
    EXPECT_EQ(app_state.list_offset, 180);
}

TEST_F(ScrollTest, scrolling_to_an_item_of_a_list_that_fits_keeps_the_thumb_at_the_top) {
    list_items(20);
    scroll_to_item(1);   // row 2: 24 - 60 is below 0
    EXPECT_EQ(app_state.list_offset, 0);
    EXPECT_EQ(app_state.thumb_top, 70);
    // The offset is still taken from the row, though the thumb cannot move.
    scroll_to_item(19);
    EXPECT_EQ(app_state.list_offset, 180);
    EXPECT_EQ(app_state.thumb_top, 70);
}
