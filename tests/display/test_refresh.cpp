// The refresh decision's signature against the painting itself: every
// change of something the painting shows changes the signature (else the
// heartbeat would keep a stale picture), and changes the painting does not
// show leave it alone (else an idle window would not stay quiet).  What the
// painting shows is taken from the fake platform: the back buffer of a
// whole paint and the texts drawn, with their places, colours and fonts.
#include <functional>

#include "display_fixture.h"
#include "display/window_layout.h"

namespace {

// What a whole paint draws: pixels and texts.
struct Drawn {
    std::vector<uint32_t> pixels;
    std::vector<std::string> texts;
    bool operator==(const Drawn &o) const { return pixels == o.pixels && texts == o.texts; }
};

struct RefreshSignatureTest : DisplayTest {
    // The whole face, the thumb and the list from the state as it is, into
    // a cleared buffer; the state is put back afterwards (painting moves
    // hovered_item, the thumb's top and the text colour).
    static Drawn whole_paint() {
        AppState &s = app_state;
        const AppState kept = s;
        const size_t n = (size_t)WINDOW_WIDTH * WINDOW_HEIGHT;
        std::memset(s.back_buffer, 0x5A, n * 4);
        fake_text_calls().clear();
        copy_piece(SKIN_FACE);
        draw_scroll_thumb(0, s.thumb_top);
        paint_list();
        Drawn d;
        d.pixels.assign(s.back_buffer, s.back_buffer + n);
        for (const FakeTextCall &c : fake_text_calls())
            d.texts.push_back(std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.colour) +
                              " " + std::to_string(c.font) + " " + c.text);
        s = kept;
        return d;
    }
    // The signature as the refresh takes it: the pointer read first.
    static uint64_t signature() {
        cursor_in_client(&app_state.pointer_x, &app_state.pointer_y);
        return paint_signature();
    }
};

struct Change {
    const char *what;
    bool shown;                   // the painting shows it
    std::function<void()> apply;
    std::function<void()> setup = nullptr;  // the state before it, when not the common one
};

}  // namespace

TEST_F(RefreshSignatureTest, the_signature_follows_exactly_what_the_painting_shows) {
    AppState &s = app_state;
    add_item(Downloading, 2000000, 500000, 300000, "http://reelbox.test/v/alpha");
    add_item(Queued, 3000000, 1000000, 7000, "http://redclips.test/watch/beta");
    add_item(Finished, 1536, 1536, 900, "http://filer2.test/gamma");
    for (int k = 0; k < 40; k++) add_item(Queued, 0, 0, 0, ("tubeon.test/watch/" + std::to_string(k)).c_str());
    s.hovered_item = -1;
    s.sum_done_size = 2501536;
    s.sum_total_size = 5001536;
    s.total_speed = 300000;
    s.thumb_top = 70;
    s.note_x = 60;
    s.note_y = 40;
    s.menu_x = 100;
    s.menu_y = 150;
    s.proxy_edit[0] = 127;
    s.proxy_edit[4] = 8080;

    auto item = [](int i) -> DownloadItem & { return downloads.items[i]; };
    const Change changes[] = {
        // The rows.
        {"a download moves its bar by pixels", true, [&] { item(0).doneSize += 400000; }},
        {"a download moves on by less than a pixel", false, [&] { item(0).doneSize += 100; }},
        {"a download's size becomes known", true, [&] { item(3).totalSize = 900000; }},
        {"a download starts", true, [&] { item(1).state = Downloading; }},
        {"the speed of a download", true, [&] { item(0).speed = 450000; }},
        {"the speed kept by a queued download", false, [&] { item(1).speed = 123; }},
        {"a finished download's done count", false, [&] { item(2).doneSize = 1000; }},
        {"a page address", true, [&] { item(1).pageAddress[8] = 'R'; }},
        {"bytes after an address's end", false, [&] { item(1).pageAddress[200] = 'x'; }},
        {"the stream address", false, [&] { item(0).streamAddress[0] = 'z'; }},
        {"a row leaves the list", true, [&] { s.visible_count = 2; }},
        {"rows change places", true, [&] { std::swap(s.visible_rows[0], s.visible_rows[1]); }},
        {"a row past the visible ones", false, [&] { item(42).totalSize = 5; }},
        {"the selection", true, [&] { downloads.selected_item = 1; }},
        {"the hovered row", true, [&] { s.hovered_item = 2; }},
        {"the list scrolls", true, [&] { s.list_offset = 30; }},
        {"a row of an unknown state takes the colour before it", true,
         [&] {
             item(0).state = 11;
             s.text_colour = 0x123456;
         }},
        // The pointer.
        {"the pointer onto a row", true, [&] { pointer_at(100, row_top(4) + 3); }},
        {"the pointer moves within its row", false, [&] { pointer_at(150, row_top(4) + 6); },
         [&] { pointer_at(100, row_top(4) + 3); }},
        {"the pointer onto the web link", true, [&] { pointer_at(120, 409); }},
        {"the pointer onto the thumb", true, [&] { pointer_at(277, 80); }},
        {"the pointer onto the up arrow", true, [&] { pointer_at(278, 62); }},
        {"the pointer moves on the frame", false, [&] { pointer_at(3, 200); }},
        {"the pointer moves outside the window", false, [&] { pointer_at(-40, 200); }},
        {"the thumb is held over a row", true, [&] { s.thumb_grab = 5; }, [&] { pointer_at(100, row_top(4) + 3); }},
        {"the thumb is held elsewhere", false, [&] { s.thumb_grab = 5; }},
        {"the pointer is over the offline notice", true, [&] { s.pointer_zone = 1; },
         [&] { pointer_at(100, row_top(4) + 3); }},
        // Scrollbar, capture button, totals, note, menu, notice.
        {"the thumb moves", true, [&] { s.thumb_top = 150; }},
        {"an address on offer", true, [&] { s.offer_pending = 1; }},
        {"the capture key held", true,
         [&] {
             s.offer_pending = 1;
             s.offer_key_down = 1;
         }},
        {"the capture button pressed", true, [&] { s.capture_pressed = 1; },
         [&] {
             s.offer_pending = 1;
             pointer_at(30, 29);
         }},
        {"the capture button pressed while nothing is offered", false, [&] { s.capture_pressed = 1; },
         [&] { pointer_at(30, 29); }},
        {"the done total", true, [&] { s.sum_done_size = 3600000; }},
        {"the size total", true, [&] { s.sum_total_size = 9000000; }},
        {"the total speed", true, [&] { s.total_speed = 8000; }},
        {"the status text", false, [&] { s.status_text[0] = '!'; }},
        {"the already-listed note", true, [&] { s.note_ticks = 40; }},
        {"the note counting down", false, [&] { s.note_ticks = 39; }, [&] { s.note_ticks = 40; }},
        {"where a note would show", false, [&] { s.note_x = 120; }},
        {"the item menu", true, [&] { s.menu_open = 1; }},
        {"the menu's entry", true, [&] { s.menu_entry = MENU_ENTRY_REMOVE; }, [&] { s.menu_open = 1; }},
        {"where a menu would open", false, [&] { s.menu_x = 20; }},
        {"the offline notice", true, [&] { s.offline_notice = 1; }},
        // The settings panel.
        {"the settings panel", true, [&] { s.settings_open = 1; }},
        {"show finished, in the panel", true,
         [&] {
             s.settings_open = 1;
             s.show_finished = !s.show_finished;
         }},
        {"remove finished, in the panel", true,
         [&] {
             s.settings_open = 1;
             s.auto_remove_finished = 1;
         }},
        {"use a proxy, in the panel", true,
         [&] {
             s.settings_open = 1;
             s.proxy_edit_on = 1;
         }},
        {"the field being edited", true,
         [&] {
             s.settings_open = 1;
             s.edit_field = PANEL_MAX_FIELD.editField;
         }},
        {"downloads at once", true,
         [&] {
             s.settings_open = 1;
             s.max_active_edit = 7;
         }},
        {"a proxy number", true,
         [&] {
             s.settings_open = 1;
             s.proxy_edit[3] = 42;
         }},
        {"a panel control under the pointer", true,
         [&] {
             s.settings_open = 1;
             pointer_at(100, 50);
         }},
        {"the settings with the panel closed", false,
         [&] {
             s.show_finished = !s.show_finished;
             s.max_active_edit = 7;
             s.proxy_edit[3] = 42;
         }},
        // Neither painted nor read by the painting.
        {"the hover of a face element", false, [&] { s.hover_id = ELEMENT_HIDE; }},
        {"the heartbeat's count", false, [&] { s.tick_count += 7; }},
        {"the clock", false, [&] { s.now_tick += 1000; }},
        {"the window hidden", true, [&] { s.window_shown = 0; }},
    };

    const AppState base_state = s;
    const std::vector<DownloadItem> base_items(downloads.items, downloads.items + downloads.item_count);
    const std::vector<int32_t> base_rows(s.visible_rows, s.visible_rows + s.visible_count);
    const int32_t base_selected = downloads.selected_item;
    auto restore = [&] {
        s = base_state;
        std::copy(base_items.begin(), base_items.end(), downloads.items);
        std::copy(base_rows.begin(), base_rows.end(), s.visible_rows);
        downloads.selected_item = base_selected;
        pointer_at(3, 300);
    };

    for (const Change &c : changes) {
        SCOPED_TRACE(c.what);
        restore();
        if (c.setup) c.setup();
        const uint64_t before = signature();
        const Drawn drawn_before = whole_paint();
        c.apply();
        const uint64_t after = signature();
        const Drawn drawn_after = whole_paint();
        if (c.shown) {
            EXPECT_FALSE(drawn_before == drawn_after) << "the change is not seen in the painting at all";
            EXPECT_NE(before, after) << "shown, but the refresh would keep the old picture";
        } else {
            EXPECT_TRUE(drawn_before == drawn_after) << "the painting shows it after all";
            EXPECT_EQ(before, after) << "not shown, yet an idle window would repaint for it";
        }
    }
    restore();
}
