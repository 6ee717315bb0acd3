// What leaves the program for the desktop from the list, driven through the
// window as the user does it: a download's page (menu "open the page"), its
// file (a double press on its row) and the file shown in its folder (menu
// "show the file").  Only plain page addresses go, after the scheme prefix;
// only files under names of the program's own kind, by absolute path; and
// a list whose texts fill their fields hands over what ends in the field.
#include "ui/ui_fixture.h"

#include <sys/stat.h>

namespace {

struct ItemActionsTest : UiFixture {
    static int row_y(int k) { return 63 + 12 * k + 5; }

    // Opens the menu on row k and presses its entry.
    static void menu_entry(int k, int entry) {
        right_press(100, row_y(k));
        ASSERT_EQ(1, app_state.menu_open);
        const int y = app_state.menu_y + 17 * (entry - 1) + 5;
        move(110, y);
        ASSERT_EQ(entry, app_state.menu_entry);
        press(110, y);
        release(110, y);
    }
    static void set_text(char *field, size_t size, const std::string &text) {
        memset(field, 0, size);
        memcpy(field, text.data(), text.size());
    }
    static void set_page(int i, const std::string &address) {
        set_text(item(i).pageAddress, sizeof item(i).pageAddress, address);
    }
    static void set_name(int i, const std::string &name) {
        set_text(item(i).fileName, sizeof item(i).fileName, name);
    }
    static size_t shell_calls() { return fake_shell_calls().size(); }
    static size_t show_calls() { return fake_show_calls().size(); }
};

}  // namespace

TEST_F(ItemActionsTest, a_page_opens_only_when_its_address_is_a_plain_address) {
    open(2);
    const std::string opened[] = {
        "reelbox.test/watch/7?a=1&b=%20c#t=5",
        "reelbox.test/share?to=me@mail.test",   // an "@" in the path names no user
        "reelbox.test",
    };
    for (const std::string &address : opened) {
        set_page(1, address);
        const size_t before = shell_calls();
        menu_entry(1, 4);
        ASSERT_EQ(before + 1, shell_calls()) << address;
        EXPECT_EQ("http://" + address, fake_shell_calls().back().target);
        EXPECT_EQ("", fake_shell_calls().back().params);
    }

    // A user name before the host would send the browser elsewhere; a space
    // or a quote would end the address where a handler splits arguments;
    // markup, backslashes and control characters have no place in one.
    const std::string refused[] = {
        "",
        "user@evil.test/watch/1",
        "reelbox.test@evil.test",
        "reelbox.test/watch/1 --new-window",
        "reelbox.test/\"x",
        "reelbox.test/'x",
        "reelbox.test/<script>",
        "reelbox.test/a>b",
        "reelbox.test\\evil.test",
        "reelbox.test/\n1",
        std::string("reelbox.test/\x01", 14),
        "reelbox.test/\x7f",
        "reelbox.test/\t",
    };
    const size_t before = shell_calls();
    for (const std::string &address : refused) {
        set_page(1, address);
        menu_entry(1, 4);
        EXPECT_EQ(before, shell_calls()) << address;
    }
    EXPECT_EQ(0u, show_calls());
}

TEST_F(ItemActionsTest, a_file_opens_and_shows_by_its_absolute_path_under_a_name_of_ours_only) {
    open(2);
    ASSERT_EQ(0, mkdir("dl", 0755));
    strcpy(app_state.download_folder, "dl");   // relative to the working folder
    set_name(0, "clip 1a2b.flv");
    write_file(dir.file("dl/clip 1a2b.flv"), "video");

    double_click(100, row_y(0));
    ASSERT_EQ(1u, shell_calls());
    EXPECT_EQ(dir.file("dl/clip 1a2b.flv"), fake_shell_calls()[0].target);
    EXPECT_EQ("", fake_shell_calls()[0].params);
    menu_entry(0, 5);
    ASSERT_EQ(1u, show_calls());
    EXPECT_EQ(dir.file("dl/clip 1a2b.flv"), fake_show_calls()[0].path);

    // An empty folder is the working folder; an absolute one stays itself.
    app_state.download_folder[0] = 0;
    write_file(dir.file("clip 1a2b.flv"), "video");
    menu_entry(0, 5);
    ASSERT_EQ(2u, show_calls());
    EXPECT_EQ(dir.file("clip 1a2b.flv"), fake_show_calls()[1].path);
    ASSERT_EQ(0, mkdir("abs", 0755));
    snprintf(app_state.download_folder, sizeof app_state.download_folder, "%s", dir.file("abs").c_str());
    write_file(dir.file("abs/clip 1a2b.flv"), "video");
    double_click(100, row_y(0));
    ASSERT_EQ(2u, shell_calls());
    EXPECT_EQ(dir.file("abs/clip 1a2b.flv"), fake_shell_calls()[1].target);

    // Names that lead out of the folder, or are not a video of ours, or
    // hold control characters are refused even where such a file exists.
    strcpy(app_state.download_folder, "dl");
    ASSERT_EQ(0, mkdir("dl/sub", 0755));
    const std::string refused[] = {
        "", "../clip 1a2b.flv", "sub/clip.flv", "sub\\clip.flv", "clip.m3u8", "clip.flv.sh",
        "a..b.flv", "clip\n.flv", "clip\x7f.flv", ".flv.",
    };
    for (const std::string &name : refused) {
        if (!name.empty() && name.find('\\') == std::string::npos) write_file(dir.file("dl/" + name), "x");
        set_name(1, name);
        double_click(100, row_y(1));
        menu_entry(1, 5);
        EXPECT_EQ(2u, shell_calls()) << name;
        EXPECT_EQ(2u, show_calls()) << name;
    }
    // The show command still wants the file to exist.
    set_name(1, "gone 1.flv");
    menu_entry(1, 5);
    EXPECT_EQ(2u, show_calls());
}

TEST_F(ItemActionsTest, texts_loaded_without_their_nul_hand_over_what_ends_in_their_field) {
    DownloadItem full = engine_item("", 0, Queued);
    const std::string page = "reelbox.test/watch/";
    memset(full.pageAddress, 'p', sizeof full.pageAddress);
    memcpy(full.pageAddress, page.data(), page.size());
    // 123 + ".flv" fill 127 bytes; the last byte of the field is one more.
    memset(full.fileName, 'f', sizeof full.fileName);
    memcpy(full.fileName + 123, ".flvX", 5);
    fake_set_cursor(0, 0);
    start({full}, 0);
    plat_show_window(app_state.window, PLAT_SHOW);
    go_online();
    plat_move_window(app_state.window, UI_WINDOW_X, UI_WINDOW_Y, 288, 417);

    menu_entry(0, 4);
    ASSERT_EQ(1u, shell_calls());
    EXPECT_EQ("http://" + page + std::string(511 - page.size(), 'p'), fake_shell_calls()[0].target);
    double_click(100, row_y(0));
    ASSERT_EQ(2u, shell_calls());
    EXPECT_EQ(dir.file(std::string(123, 'f') + ".flv"), fake_shell_calls()[1].target);
}

TEST_F(ItemActionsTest, a_link_opens_as_stored_and_media_files_open_and_show_like_ours) {
    open(2);
    // A link kept with its scheme goes as it is, checked after its scheme.
    const std::string link = "HTTPS://example.com/v/a.mp4?to=me@mail.test#t=2";
    set_page(1, link);
    menu_entry(1, 4);
    ASSERT_EQ(1u, shell_calls());
    EXPECT_EQ(link, fake_shell_calls().back().target);
    for (const char *address : {"https://", "https://user@evil.test/x", "http://a.test/a b"}) {
        set_page(1, address);
        menu_entry(1, 4);
        EXPECT_EQ(1u, shell_calls()) << address;
    }

    // Files ending in a media extension, in any case, open and show.
    for (const std::string name : {"clip.mp4", "Clip 2.WEBM", "song.opus"}) {
        write_file(dir.file(name), "media");
        set_name(0, name);
        double_click(100, row_y(0));
        EXPECT_EQ(dir.file(name), fake_shell_calls().back().target);
        menu_entry(0, 5);
        ASSERT_FALSE(fake_show_calls().empty());
        EXPECT_EQ(dir.file(name), fake_show_calls().back().path);
    }
    EXPECT_EQ(4u, shell_calls());
    EXPECT_EQ(3u, show_calls());
}
