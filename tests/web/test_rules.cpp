// Site rules on pages held in an item's buffer: each rule on the page form
// it expects and on pages that nearly match, the second-page rules, the
// naming of the output file, and the bounds of every value.
#include "web_fixture.h"

namespace {

struct RulesTest : WebFixture {
    // Runs the rule of kind on page; returns found.
    int run(int i, const std::string &page) {
        load_page(i, page);
        return extract_stream_address(i);
    }
    int item_for(int kind, uint32_t state = Analysing) { return add_item("site.test/watch/1", kind, state); }
    std::string stream(int i) { return item(i).streamAddress; }
};

struct RuleCase {
    int kind;
    const char *page;
    const char *address;
    int next_stage;
};

// One page per rule, in the form the site serves it.
const RuleCase kExpectedPages[] = {
    {1,
     "<embed flashvars=\"url_encoded_fmt_stream_map=itag%3D5%26url%3Dhttp%253A%252F%252Fhost%252Fv%253Fa%253D1"
     "%2526id%253D9%2526b%253D2\">",
     "host/v?a=1&id=9", 2},
    {2, "<param value=\"flv_url=http%3A%2F%2Fcdn.x%2Fv.flv%3Fa%3D1&amp;title=t\">", "cdn.x/v.flv?a=1", 2},
    {7, "<param value=\"flv_url=http%3A%2F%2Fcdn.x%2Fm.flv&amp;t=1\">", "cdn.x/m.flv", 2},
    {3, "player.load(encodeURIComponent(\"http://cdn.x/v?a=1\"));", "cdn.x/v?a=1", 2},
    {4, "so.addParam('video_url', 'http%3A//cdn.x/v%3Fq%3D2');", "cdn.x/v?q=2", 2},
    {5, "var c = {'video_url': \"http://cdn.x/v5\"};", "cdn.x/v5", 2},
    {8, "flashvars.config = \"http://cfg.x/c?id=1\";", "cfg.x/c?id=1", 1},
    {9, "flashvars.video_url = \"http%3A%2F%2Fcdn.x%2Fv9\";", "cdn.x/v9", 2},
    {10, "<video id=\"p\" controls><source src=\"http://cdn.x/v.flv\" type=\"video/x-flv\"></video>",
     "cdn.x/v.flv", 2},
    {11, "<param value=\"video_url=http%3A%2F%2Fcdn.x%2Fv11&amp;autoplay=1\">", "cdn.x/v11", 2},
    {13, "flashvars.config = escape(\"http://cfg.x/feed/1\");", "cfg.x/feed/1", 1},
    {14, "var p = {flvpathValue: \"http://cdn.x/v?a=1_@?_b=2\"};", "cdn.x/v?a=1&b=2", 2},
    {16, "var streams = [{\"label\":\"360p\",\"file\":\"http://cdn.x/v16\"}];", "cdn.x/v16", 2},
    {17, "so.addVariable(\"file\", encodeURIComponent(\"http://cdn.x/v17\"));", "cdn.x/v17", 2},
    {18, "player.setup({playlist: 'playlist/abc?size=5', autostart: false});", "playlst.test/playlist/abc?size=5",
     1},
    {19, "flashvars.video_url = 'http://cdn.x/v19';", "cdn.x/v19", 2},
    {20, "var v = {\"sdURL\":\"http:\\/\\/sd.x\\/v\",\"hqURL\":\"http:\\/\\/hq.x\\/get\\/v?s=1\"};", "hq.x/get/v?s=1",
     1},
    {21, "var c = {\"mediaURL\":\"http:%5C/%5C/cdn.x/v21%3Fs%3D1\",\"key\":\"1500_ab\"};",
     "cdn.x/v21?s=1?__gda__=1500_ab", 2},
    {22, "jwplayer('p').setup({'file': 'http://cdn.x/v22', 'width': 640});", "cdn.x/v22", 2},
    {23, "document.write('<video src=\"http://cdn.x/v23\" controls></video>');", "cdn.x/v23", 2},
    {24, "var o = {'file': \"http://dl.x/get/v24\"};", "dl.x/get/v24", 1},
    {25, "<video controls><source src='http://cdn.x/v25' type='video/x-flv'></video>", "cdn.x/v25", 2},
};

TEST_F(RulesTest, every_rule_finds_its_address_names_the_file_and_closes_the_page) {
    for (const RuleCase &c : kExpectedPages) {
        SCOPED_TRACE("kind " + std::to_string(c.kind));
        int i = item_for(c.kind);
        std::string page = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n<html><head><title>Clip: the " +
                           std::to_string(c.kind) + "th | Site</title></head><body>\n" + c.page +
                           "\n</body></html>\n";
        ASSERT_TRUE(run(i, page));
        EXPECT_EQ(c.address, stream(i));
        EXPECT_EQ(c.next_stage, item(i).requestStage);
        EXPECT_EQ(0u, item(i).bufferFill);
        EXPECT_EQ(0u, item(i).socket);
        EXPECT_EQ(app_state.now_tick, item(i).lastActivityTick);
        EXPECT_EQ("Clip the " + std::to_string(c.kind) + "th Site f4240.flv", std::string(item(i).fileName));
    }
}

TEST_F(RulesTest, pages_that_nearly_match_are_not_found) {
    const RuleCase near_misses[] = {
        {1, "url_encoded_fmt_stream_map=itag%3D5%26url%3Dhttp%253A%252F%252Fhost%252Fv%253Fa%253D1", "", 0},  // no id=
        {2, "flv_url=http%3A%2F%2Fcdn.x%2Fv.flv&title=t", "", 0},             // no &amp
        {3, "encodeURIComponent('cdn.x/v')", "", 0},                           // no scheme
        {4, "'video_url': \"http://cdn.x/v\"", "", 0},                         // quoted wrongly
        {8, "flashvars.conf = \"http://cfg.x/c\";", "", 0},
        {10, "<source src=\"http://cdn.x/v.flv\">", "", 0},                    // no <video id=
        {16, "\"file\":\"http://cdn.x/v\" var streams;", "", 0},               // keys out of order
        {17, "so.addVariable(\"file\", \"http://cdn.x/v\")", "", 0},           // no encodeURIComponent
        {18, "playList = 'x'", "", 0},
        {20, "\"hdURL\":\"http:\\/\\/hq.x\\/v\"", "", 0},
        {21, "\"mediaURL\":\"http://cdn.x/v\"", "", 0},                        // no key
        {22, "'file': \"http://cdn.x/v\"", "", 0},                             // no apostrophe after
        {23, "<video src=\"http://cdn.x/v\">", "", 0},                         // no leading apostrophe
        {25, "<source src=\"http://cdn.x/v\">", "", 0},
        {0, "var player = {'server': 'http://dl.x/get', 'file': 'a'};", "", 0},
    };
    for (const RuleCase &c : near_misses) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + ": " + c.page);
        int i = item_for(c.kind);
        strcpy(item(i).fileName, "before.flv");
        EXPECT_FALSE(run(i, std::string("<title>t</title>") + c.page + "</html>"));
        EXPECT_EQ(0, item(i).requestStage);
        EXPECT_NE(0u, item(i).bufferFill) << "nothing is emptied";
        EXPECT_STREQ("before.flv", item(i).fileName);
    }
}

TEST_F(RulesTest, kinds_without_a_rule_never_match) {
    std::string every_key;
    for (const RuleCase &c : kExpectedPages) every_key += std::string(c.page) + "\n";
    for (int kind : {6, 12, 15, 26, 99, -1}) {
        SCOPED_TRACE(kind);
        int i = item_for(kind);
        EXPECT_FALSE(run(i, every_key));
        EXPECT_EQ(0, item(i).requestStage);
    }
}

TEST_F(RulesTest, kind0_joins_server_and_file_and_names_the_file_from_the_last_segment) {
    int i = item_for(0);
    ASSERT_TRUE(run(i, "var p = {'srv': 'http://dl.x/get/200', 'file': 'abc', 'w': 1};</html>"));
    EXPECT_EQ("http://dl.x/get/200/key=abc", stream(i));
    EXPECT_EQ(1, item(i).requestStage);
    EXPECT_STREQ("key=abc.flv", item(i).fileName);

    // Spaced keys; a known size keeps the name.
    int j = item_for(0);
    item(j).totalSize = 5000;
    strcpy(item(j).fileName, "kept.flv");
    ASSERT_TRUE(run(j, "{'srv' : 'dl.y/g', 'file' : 'z9'}"));
    EXPECT_EQ("dl.y/g/key=z9", stream(j));
    EXPECT_STREQ("kept.flv", item(j).fileName);
}

TEST_F(RulesTest, kind0_file_names_cannot_leave_the_download_folder) {
    int i = item_for(0);
    ASSERT_TRUE(run(i, "{'srv': 'dl.x', 'file': 'a\\..\\b:c?d*e|f\"g<h>'}"));
    EXPECT_STREQ("key=a_.._b_c_d_e_f_g_h_.flv", item(i).fileName);
    EXPECT_TRUE(file_name_is_safe(item(i).fileName));

    // An address ending with a slash: the last segment is empty.
    int j = item_for(0);
    ASSERT_TRUE(run(j, "{'srv': 'dl.x', 'file': 'v/'}"));
    EXPECT_EQ("dl.x/key=v/", stream(j));
    EXPECT_STREQ("video.flv", item(j).fileName);

    // A long file id: the name is cut so that the suffix still fits.
    int k = item_for(0);
    ASSERT_TRUE(run(k, "{'srv': 'dl.x', 'file': '" + std::string(300, 'n') + "'}"));
    std::string name = item(k).fileName;
    EXPECT_EQ(127u, name.size());
    EXPECT_EQ(".flv", name.substr(name.size() - 4));

    EXPECT_FALSE(file_name_is_safe(""));
    EXPECT_FALSE(file_name_is_safe("."));
    EXPECT_FALSE(file_name_is_safe(".."));
    EXPECT_FALSE(file_name_is_safe("../x.flv"));
    EXPECT_FALSE(file_name_is_safe("a\\b.flv"));
    EXPECT_TRUE(file_name_is_safe("..flv"));
}

TEST_F(RulesTest, kind0_names_the_file_from_the_new_address_not_from_an_earlier_one_left_in_the_field) {
    // An earlier, longer address still fills the field past the new one's end.
    int i = item_for(0);
    memset(item(i).streamAddress, 'o', sizeof item(i).streamAddress - 1);
    memcpy(item(i).streamAddress + 40, "/old-name", 9);
    ASSERT_TRUE(run(i, "{'srv': 'dl.x', 'file': 'v/'}"));
    EXPECT_EQ("dl.x/key=v/", stream(i));
    EXPECT_STREQ("video.flv", item(i).fileName);
}

TEST_F(RulesTest, kind1_value_ends_at_the_equals_of_id_without_a_following_ampersand) {
    int i = item_for(1);
    ASSERT_TRUE(run(i, "url_encoded_fmt_stream_map=x&url=http://host/v?id=9"));
    EXPECT_EQ("host/v?id", stream(i));
}

TEST_F(RulesTest, kind1_takes_the_next_map_when_the_first_value_runs_over_a_line_end) {
    int i = item_for(1);
    ASSERT_TRUE(run(i,
                    "url_encoded_fmt_stream_map=a&url=http://bad/v\r\nmore&id=1&x\n"
                    "other url_encoded_fmt_stream_map2 url=http://good/v?id=3&z=1"));
    EXPECT_EQ("good/v?id=3", stream(i));
}

TEST_F(RulesTest, kind20_prefers_the_high_quality_address_and_falls_back_to_the_standard_one) {
    int i = item_for(20);
    ASSERT_TRUE(run(i, "\"sdURL\":\"http:\\/\\/sd.x\\/v\",\"hqURL\":\"http:\\/\\/hq.x\\/v\""));
    EXPECT_EQ("hq.x/v", stream(i));
    int j = item_for(20);
    ASSERT_TRUE(run(j, "\"sdURL\":\"http:\\/\\/sd.x\\/a\\\\b\""));
    EXPECT_EQ("sd.x/a\\b", stream(j)) << "a doubled backslash leaves one";
}

TEST_F(RulesTest, a_value_without_its_closing_quote_is_neither_copied_nor_found) {
    for (int kind : {20, 21}) {
        SCOPED_TRACE(kind);
        int i = item_for(kind);
        strcpy(item(i).streamAddress, "old");
        const char *page = kind == 20 ? "\"hqURL\":\"http:\\/\\/hq.x\\/v-and-no-end"
                                      : "\"mediaURL\":\"http://cdn.x/v-and-no-end";
        EXPECT_FALSE(run(i, page));
        EXPECT_EQ("old", stream(i));
    }
}

TEST_F(RulesTest, kind18_cuts_the_page_at_the_closing_apostrophe) {
    int i = item_for(18);
    std::string page = "<title>P</title> playlist: 'list/a' rest";
    ASSERT_TRUE(run(i, page));
    EXPECT_EQ("playlst.test/list/a", stream(i));
    EXPECT_EQ('\0', buffer_data(item(i).buffer)[page.find("' rest")]);
    EXPECT_STREQ("P f4240.flv", item(i).fileName);
}

TEST_F(RulesTest, kind18_value_never_takes_bytes_past_the_received_text) {
    // The page ends with the key or its opening apostrophe: the value is
    // empty, whatever lies in the buffer after the received text.
    for (const char *page : {"player.setup({playlist:", "player.setup({playlist:'"}) {
        SCOPED_TRACE(page);
        int i = item_for(18);
        ASSERT_TRUE(run(i, page));
        EXPECT_EQ("playlst.test/", stream(i));
    }
}

TEST_F(RulesTest, values_longer_than_their_field_are_cut_to_it) {
    std::string long_value(700, 'v');
    int i = item_for(3);
    ASSERT_TRUE(run(i, "encodeURIComponent(\"http://" + long_value + "\")"));
    EXPECT_EQ(511u, stream(i).size());

    int j = item_for(0);
    ASSERT_TRUE(run(j, "{'srv': '" + long_value + "', 'file': 'f'}"));
    EXPECT_EQ(511u, stream(j).size());

    int k = item_for(21);
    ASSERT_TRUE(run(k, "\"mediaURL\":\"http://" + std::string(500, 'm') + "\",\"key\":\"" + long_value + "\""));
    EXPECT_EQ(511u, stream(k).size());
    EXPECT_EQ(std::string(500, 'm') + "?__gda__=" + std::string(2, 'v'), stream(k));

    int m = item_for(18);
    ASSERT_TRUE(run(m, "playlist: '" + long_value + "'"));
    EXPECT_EQ(511u, stream(m).size());
}

TEST_F(RulesTest, the_file_is_named_from_the_markers_or_kept_while_connecting) {
    int i = item_for(3, Connecting);
    strcpy(item(i).fileName, "Earlier 1.flv");
    ASSERT_TRUE(run(i, "<title>New</title>encodeURIComponent(\"http://c/v\")"));
    EXPECT_STREQ("Earlier 1.flv", item(i).fileName);

    int j = item_for(3, Connecting);   // Connecting but not named yet
    ASSERT_TRUE(run(j, "<title>New</title>encodeURIComponent(\"http://c/v\")"));
    EXPECT_STREQ("New f4240.flv", item(j).fileName);

    int k = item_for(3);   // no opening marker: named from the page start
    ASSERT_TRUE(run(k, "Start of page</title>encodeURIComponent(\"http://c/v\")"));
    EXPECT_STREQ("Start of page f4240.flv", item(k).fileName);

    int m = item_for(3);   // no closing marker: an empty first part
    ASSERT_TRUE(run(m, "<title>Open only encodeURIComponent(\"http://c/v\")"));
    EXPECT_STREQ(" f4240.flv", item(m).fileName);
}

// ------------------------------------------------------- second pages

struct SecondPageTest : RulesTest {
    int at_stage1(int kind, const std::string &answer) {
        int i = item_for(kind, Connecting);
        item(i).requestStage = 1;
        strcpy(item(i).streamAddress, "first.x/c");
        load_page(i, answer);
        return i;
    }
};

TEST_F(SecondPageTest, kind8_and_kind13_take_the_value_after_their_key_to_the_line_end_or_a_tag) {
    int i = at_stage1(8, "HTTP/1.1 200 OK\r\n\r\n<config><video>   http://cdn.x/v?a=1</video></config>");
    extract_second_page(i, string_entry(STR_KIND8_KEY));
    EXPECT_EQ("http://cdn.x/v?a=1", stream(i));
    EXPECT_EQ(2, item(i).requestStage);
    EXPECT_EQ(0u, item(i).bufferFill);

    int j = at_stage1(13, "<rss><media:url>cdn.x/v13\r\n</media:url>");
    extract_second_page(j, string_entry(STR_KIND13_KEY));
    EXPECT_EQ("cdn.x/v13", stream(j));

    int k = at_stage1(8, "<video>" + std::string(600, 'w'));   // to the end of the text, cut
    extract_second_page(k, string_entry(STR_KIND8_KEY));
    EXPECT_EQ(std::string(511, 'w'), stream(k));

    int m = at_stage1(8, "<config><vid>x</vid></config>");
    extract_second_page(m, string_entry(STR_KIND8_KEY));
    EXPECT_EQ("first.x/c", stream(m));
    EXPECT_EQ(1, item(m).requestStage);
    EXPECT_NE(0u, item(m).bufferFill);
}

TEST_F(SecondPageTest, kind18_takes_the_media_group_url_without_amp_entities) {
    int i = at_stage1(18, "<rss><media:group><media:content url=\"http://cdn.x/v?a=1&amp;b=2\"/></media:group>");
    extract_second_page(i, nullptr);
    EXPECT_EQ("cdn.x/v?a=1&b=2", stream(i));
    EXPECT_EQ(2, item(i).requestStage);
    EXPECT_EQ(0u, item(i).bufferFill);

    // The closing quote has not arrived: nothing is taken yet.
    int j = at_stage1(18, "<rss><media:group><media:content url=\"http://cdn.x/v?a=1");
    extract_second_page(j, nullptr);
    EXPECT_EQ("first.x/c", stream(j));
    EXPECT_EQ(1, item(j).requestStage);

    int k = at_stage1(18, "<rss><media:content url=\"http://cdn.x/v\"/>");   // no group
    extract_second_page(k, nullptr);
    EXPECT_EQ(1, item(k).requestStage);
}

}  // namespace
