// Clipboard capture on a started program: the heartbeat's poll, which
// pattern wins and what address it leaves in the candidate record, the
// pop-up of a hidden window, a clipboard that will not open or hand out its
// text, and the capture emptying only the text that made its offer.
#include <string>

#include "engine/engine_fixture.h"
#include "ui/clipboard.h"
#include "ui/ui.h"

namespace {

struct ClipboardTest : EngineFixture {
    // The user copies text; the next heartbeat polls the clipboard.
    static void copy_and_poll(const char *text) {
        fake_set_clipboard(text);
        poll_clipboard();
    }
    static void hide_window() {
        plat_show_window(app_state.window, PLAT_HIDE);
        app_state.window_shown = 0;
    }
    static const DownloadItem &candidate() { return downloads.items[downloads.item_count]; }
    static std::string offered() { return candidate().pageAddress; }
    // The sum of the characters, each a signed 8-bit value.
    static int32_t signed_sum(const std::string &text) {
        int32_t sum = 0;
        for (char c : text) sum += (int32_t)(signed char)c;
        return sum;
    }
    // Record i's page address field as list.o stores it, all 512 bytes.
    std::string stored_address_field(int i) const {
        return list_bytes().substr(record_at(i) + 52, 512);
    }
};

}  // namespace

TEST_F(ClipboardTest, the_first_pattern_in_matching_order_ending_in_the_first_512_characters_wins) {
    // Without a table there is no candidate to fill: nothing is offered.
    ASSERT_EQ(nullptr, downloads.items);
    app_state.offer_pending = 1;
    EXPECT_EQ(0, check_clipboard_address("reelbox.test/watch/a"));
    EXPECT_EQ(0, app_state.offer_pending);

    start({});
    go_online();
    // Patterns 8 and 9 both lead to code 7; pattern 8 is tried first,
    // wherever in the text the other one stands.
    copy_and_poll("mvs.test/v/1 or moviestar.test/v/2");
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ(7, candidate().siteKind);
    EXPECT_EQ("moviestar.test/v/2", offered());
    copy_and_poll("mvs.test/v/1");
    EXPECT_EQ(7, candidate().siteKind);
    // Pattern 1 before pattern 2.
    copy_and_poll("tubeon.test/w/1 reelbox.test/w/2");
    EXPECT_EQ(0, candidate().siteKind);
    EXPECT_EQ("reelbox.test/w/2", offered());
    // The scheme before the pattern is dropped; case does not matter.
    copy_and_poll("http://VidCue.test/watch/a?b=1");
    EXPECT_EQ(3, candidate().siteKind);
    EXPECT_EQ("VidCue.test/watch/a?b=1", offered());

    // Last character at position 511: found.  At 512: not found, and the
    // candidate keeps what the last offer left.
    copy_and_poll((std::string(500, 'x') + "flvbay.test/v").c_str());
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ(2, candidate().siteKind);
    EXPECT_EQ("flvbay.test/v", offered());
    copy_and_poll((std::string(501, 'x') + "reelbox.test/v").c_str());
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(2, candidate().siteKind);
    EXPECT_EQ("flvbay.test/v", offered());
    copy_and_poll("just some words");
    EXPECT_EQ(0, app_state.offer_pending);
}

TEST_F(ClipboardTest, the_address_ends_at_254_characters_or_at_the_first_stop_character) {
    start({});
    go_online();
    // Starting at the window's last pattern position and running past the
    // window: all 254 characters are taken.
    std::string tail(400, 'a');
    copy_and_poll((std::string(500, ' ') + "reelbox.test/" + tail).c_str());
    std::string expected = ("reelbox.test/" + tail).substr(0, 254);
    EXPECT_EQ(expected, offered());
    EXPECT_EQ(signed_sum(expected), app_state.offer_checksum);

    // No control character, space, quote or angle bracket reaches a request.
    for (const char *stop : {"\r\nHost: x", " is great", "\"", "<br>", ">", "\t", "\x7f", "\x01"}) {
        copy_and_poll((std::string("see reelbox.test/w/1") + stop + "tail").c_str());
        EXPECT_EQ("reelbox.test/w/1", offered()) << "stop character " << (int)stop[0];
    }
    // Bytes above 127 belong to the address and count as negative values.
    copy_and_poll("reelbox.test/caf\xc3\xa9");
    EXPECT_EQ("reelbox.test/caf\xc3\xa9", offered());
    EXPECT_EQ(signed_sum("reelbox.test/caf") - 61 - 87, app_state.offer_checksum);

    // Captured after the long address, the short one is stored with nothing
    // of the long one behind its NUL.
    add_offered_download();
    ASSERT_EQ(1, downloads.item_count);
    std::string field = stored_address_field(0);
    EXPECT_EQ(std::string("reelbox.test/caf\xc3\xa9") + std::string(512 - 18, '\0'), field);
}

TEST_F(ClipboardTest, a_hidden_window_pops_up_without_the_focus_once_for_each_new_address) {
    start({});
    go_online();
    fake_deactivate_window();  // the user works in another program
    int shows = fake_window().show_count;

    // Address A copied while the window shows: no pop-up.
    const char *a = "reelbox.test/watch/ab";
    copy_and_poll(a);
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ(shows, fake_window().show_count);
    // Hidden, the window pops up for A, without taking the focus.
    hide_window();
    poll_clipboard();
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_TRUE(fake_window().shown);
    EXPECT_EQ(shows + 1, fake_window().show_count);
    EXPECT_FALSE(fake_window().activated);
    EXPECT_EQ(signed_sum(a), app_state.shown_checksum);
    // Hidden again while A stays: it stays hidden, the offer stands.
    hide_window();
    poll_clipboard();
    poll_clipboard();
    EXPECT_EQ(0, app_state.window_shown);
    EXPECT_FALSE(fake_window().shown);
    EXPECT_EQ(1, app_state.offer_pending);

    // A different address B pops it up ...
    copy_and_poll("tubeon.test/watch/x");
    EXPECT_EQ(1, app_state.window_shown);
    EXPECT_EQ(shows + 2, fake_window().show_count);
    EXPECT_FALSE(fake_window().activated);
    // ... unless its characters add up to the last pop-up's.
    hide_window();
    copy_and_poll("tubeon.test/xatch/w");
    EXPECT_EQ(0, app_state.window_shown);
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ("tubeon.test/xatch/w", offered());

    // Offline nothing is offered and nothing pops up; the offer ends.
    app_state.online = 0;
    copy_and_poll("vidcue.test/watch/other");
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(0, app_state.window_shown);
    EXPECT_EQ(shows + 2, fake_window().show_count);
    EXPECT_EQ("tubeon.test/xatch/w", offered());
}

TEST_F(ClipboardTest, a_clipboard_that_will_not_open_or_hand_out_its_text_is_closed_and_offers_nothing) {
    start({});
    go_online();
    const char *a = "reelbox.test/watch/a", *b = "tubeon.test/watch/b";
    copy_and_poll(a);
    ASSERT_EQ(1, app_state.offer_pending);
    hide_window();
    int shows = fake_window().show_count;
    int opens = fake_clipboard_open_count();
    ASSERT_EQ(opens, fake_clipboard_close_count());

    // No text (nothing, or a picture): not even opened; the offer stands.
    copy_and_poll(nullptr);
    EXPECT_EQ(opens, fake_clipboard_open_count());
    EXPECT_EQ(1, app_state.offer_pending);

    // Will not open: the poll is skipped, but the clipboard closed.
    fake_set_clipboard_open_fails(1);
    copy_and_poll(b);
    EXPECT_EQ(opens + 1, fake_clipboard_open_count());
    EXPECT_EQ(opens + 1, fake_clipboard_close_count());
    EXPECT_EQ(1, app_state.offer_pending);
    EXPECT_EQ(a, offered());
    EXPECT_EQ(0, app_state.window_shown);
    fake_set_clipboard_open_fails(0);

    // Text that cannot be had, and a password manager's secret, count as
    // unsupported: the offer ends, the candidate stays, nothing pops up.
    for (int secret = 0; secret < 2; secret++) {
        app_state.offer_pending = 1;
        fake_set_clipboard(b);
        if (secret) fake_set_clipboard_secret(1);
        else fake_set_clipboard_text_fails(1);
        poll_clipboard();
        EXPECT_EQ(0, app_state.offer_pending) << "secret " << secret;
        EXPECT_EQ(a, offered());
        EXPECT_EQ(0, app_state.window_shown);
        fake_set_clipboard_text_fails(0);
    }
    EXPECT_EQ(shows, fake_window().show_count);
    EXPECT_EQ(opens + 3, fake_clipboard_open_count());
    EXPECT_EQ(opens + 3, fake_clipboard_close_count());
}

TEST_F(ClipboardTest, the_capture_empties_the_clipboard_only_while_it_holds_the_offering_text) {
    start({engine_item("vidcue.test/watch/a", 3, Queued)});
    go_online();

    // Other text copied after the offer stays on the clipboard.
    copy_and_poll("http://reelbox.test/watch/one");
    fake_set_clipboard("my notes");
    add_offered_download();
    ASSERT_EQ(2, downloads.item_count);
    EXPECT_STREQ("my notes", fake_clipboard());
    // So does a picture (no text): nothing is emptied.
    copy_and_poll("reelbox.test/watch/two");
    fake_set_clipboard(nullptr);
    add_offered_download();
    ASSERT_EQ(3, downloads.item_count);
    EXPECT_EQ(0, fake_clipboard_empty_count());
    // The offering text itself is emptied, which ends the offer.
    copy_and_poll("reelbox.test/watch/three");
    add_offered_download();
    ASSERT_EQ(4, downloads.item_count);
    EXPECT_EQ(nullptr, fake_clipboard());
    EXPECT_EQ(1, fake_clipboard_empty_count());
    EXPECT_EQ(fake_clipboard_open_count(), fake_clipboard_close_count());
    EXPECT_EQ(4u, stored_count());
    EXPECT_EQ("reelbox.test/watch/one", std::string(stored_address_field(1).c_str()));
    EXPECT_EQ("reelbox.test/watch/three", std::string(stored_address_field(3).c_str()));

    // A duplicate is shown, and its text emptied only while it stays.
    copy_and_poll("see reelbox.test/watch/one");
    fake_set_clipboard("reelbox.test/watch/one");   // the same address, but other text
    add_offered_download();
    EXPECT_EQ(1, downloads.selected_item);
    EXPECT_STREQ("reelbox.test/watch/one", fake_clipboard());
    copy_and_poll("reelbox.test/watch/one");
    add_offered_download();
    EXPECT_EQ(nullptr, fake_clipboard());
    EXPECT_EQ(4, downloads.item_count);
    EXPECT_EQ(4u, stored_count());
}

TEST_F(ClipboardTest, a_whole_link_without_a_pattern_is_offered_with_its_scheme_by_what_it_names) {
    start({});
    go_online();
    fake_deactivate_window();
    // A site's page ending in a media extension is still that site's.
    copy_and_poll("https://reelbox.test/watch/1.mp4");
    EXPECT_EQ(0, candidate().siteKind);
    EXPECT_EQ("reelbox.test/watch/1.mp4", offered());

    // A direct media link, trimmed, its scheme in lower case, pops a hidden
    // window up without the focus.
    hide_window();
    int shows = fake_window().show_count;
    copy_and_poll("  HTTPS://Media.example/v/Clip.MP4?sig=A1#t=3\r\n");
    EXPECT_EQ(SITE_DIRECT_MEDIA, candidate().siteKind);
    EXPECT_EQ("https://Media.example/v/Clip.MP4?sig=A1#t=3", offered());
    EXPECT_EQ(shows + 1, fake_window().show_count);
    EXPECT_FALSE(fake_window().activated);

    // Any other page is offered only while the window shows, never popping
    // it up; the query does not make a page a media link.
    hide_window();
    copy_and_poll("http://example.com/watch?v=a.mp4");
    EXPECT_EQ(0, app_state.offer_pending);
    EXPECT_EQ(0, app_state.window_shown);
    show_main_window(PLAT_SHOW);
    shows = fake_window().show_count;
    poll_clipboard();
    EXPECT_EQ(SITE_WEB_PAGE, candidate().siteKind);
    EXPECT_EQ("http://example.com/watch?v=a.mp4", offered());
    EXPECT_EQ(shows, fake_window().show_count);

    for (const char *text : {"https://cdn.example/live/a.m3u8", "https://cdn.example/a.MPD?x=1", "http://a.example/b.f4m",
                             "https://a.example/v.ism/Manifest(format=mpd)", "see https://a.example/a.mp4",
                             "https://a.example/a.mp4\nhttps://a.example/b.mp4", "https://user@a.example/a.mp4",
                             "https://[::1]/a.mp4", "https://a.example:65536/a.mp4", "https://a.example/\xc3\xa9.mp4",
                             "https://a.example/a\".mp4", "ftp://a.example/a.mp4"}) {
        copy_and_poll(text);
        EXPECT_EQ(0, app_state.offer_pending) << text;
    }

    // The whole field but its NUL may hold a link; one more character, or
    // a link the poll's copy of a longer text would cut, is not offered.
    const std::string head = "https://example.com/";
    const std::string longest = head + std::string(511 - head.size() - 4, 'a') + ".mp4";
    for (const std::string &text : {head + "b" + longest.substr(head.size()), std::string(256, ' ') + longest}) {
        copy_and_poll(text.c_str());
        EXPECT_EQ(0, app_state.offer_pending);
    }
    copy_and_poll(longest.c_str());
    add_offered_download();
    ASSERT_EQ(1, downloads.item_count);
    EXPECT_EQ(longest + '\0', stored_address_field(0));
    EXPECT_EQ((uint32_t)SITE_DIRECT_MEDIA, get32(list_bytes(), record_at(0) + 32));
}
