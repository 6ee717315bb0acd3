// quorvax-list, run as a user runs it: the built binary on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_state.h"
#include "engine/download_table.h"
#include "json_reader.h"
#include "list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/temp_dir.h"

namespace {

const char TOOL[] = QUORVAX_BINARY_DIR "/quorvax-list";

std::string quoted(const std::string &arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct ListToolTest : testing::Test {
    TempWorkDir dir;
    std::string out, err;

    void SetUp() override {
        ASSERT_TRUE(plat_file_exists(TOOL)) << "build the quorvax-list target first";
        fake_reset();
        reset_app_state();
        free_table();
    }
    void TearDown() override {
        if (app_state.list_file != PLAT_INVALID_FILE) close_file(app_state.list_file);
        app_state.list_file = PLAT_INVALID_FILE;
        free_table();
    }

    // Runs the tool with the arguments; keeps stdout and stderr; returns the
    // exit status.
    int run(std::initializer_list<std::string> args) {
        std::string cmd = quoted(TOOL);
        for (const std::string &a : args) cmd += " " + quoted(a);
        cmd += " 2>" + quoted(dir.file("stderr.txt"));
        out.clear();
        FILE *pipe = popen(cmd.c_str(), "r");
        if (!pipe) return -1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        int status = pclose(pipe);
        err = read_file(dir.file("stderr.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    Json show_json(const std::string &path) {
        Json j;
        size_t where = 0;
        EXPECT_EQ(0, run({"show", path, "--json"})) << err;
        EXPECT_TRUE(parse_json(out, &j, &where)) << "invalid JSON at " << where << ": " << out;
        return j;
    }
};

TEST_F(ListToolTest, init_writes_an_empty_list_that_show_reads_back) {
    ASSERT_EQ(0, run({"init", "list.o", "--folder", "/tmp/my \"clips\""})) << err;
    EXPECT_EQ(empty_list("/tmp/my \"clips\""), read_file("list.o"));

    Json j = show_json("list.o");
    EXPECT_EQ("/tmp/my \"clips\"", j["download_folder"].text);
    EXPECT_EQ(1, j["max_active_edit"].number);
    EXPECT_EQ(0, j["item_count"].number);
    EXPECT_EQ(Json::Array, j["items"].kind);
    EXPECT_TRUE(j["items"].items.empty());

    // An existing list is replaced only on request.
    write_file("list.o", empty_list("/keep"));
    EXPECT_EQ(2, run({"init", "list.o"}));
    EXPECT_NE(std::string::npos, err.find("--force"));
    EXPECT_EQ(empty_list("/keep"), read_file("list.o"));
    EXPECT_EQ(0, run({"init", "list.o", "--force"}));
    EXPECT_EQ(empty_list(), read_file("list.o"));
}

TEST_F(ListToolTest, added_items_show_in_both_forms_and_load_in_the_program) {
    ASSERT_EQ(0, run({"init", "list.o"}));
    ASSERT_EQ(0, run({"add", "list.o", "--page", "http://example.test/watch?v=1", "--site", "3",
                      "--total", "4000000", "--done", "1000", "--stream",
                      "http://cdn.example.test/1.flv", "--file", "cat\xff\x01 1a.flv"}))
        << err;
    ASSERT_EQ(0, run({"add", "list.o", "--page", "http://example.test/2", "--site", "0",
                      "--state", "finished"}))
        << err;
    ASSERT_EQ(0, run({"add", "list.o", "--page", "http://example.test/3", "--site", "25",
                      "--state", "42"}))
        << err;
    EXPECT_EQ((size_t)record_at(3), read_file("list.o").size());

    Json j = show_json("list.o");
    ASSERT_EQ(3u, j["items"].items.size());
    const Json &first = j["items"][0];
    EXPECT_EQ("Queued", first["stateName"].text);
    EXPECT_EQ(3, first["siteKind"].number);
    EXPECT_EQ(4000000, first["totalSize"].number);
    EXPECT_EQ(1000, first["doneSize"].number);
    EXPECT_EQ("http://example.test/watch?v=1", first["pageAddress"].text);
    EXPECT_EQ("http://cdn.example.test/1.flv", first["streamAddress"].text);
    EXPECT_EQ("cat\xc3\xbf\x01 1a.flv", first["fileName"].text);  // the stray byte as U+00FF
    EXPECT_EQ("Finished", j["items"][1]["stateName"].text);
    EXPECT_EQ(42, j["items"][2]["state"].number);
    EXPECT_EQ(Json::Null, j["items"][2]["stateName"].kind);

    ASSERT_EQ(0, run({"show", "list.o"}));
    EXPECT_NE(std::string::npos, out.find("#1  Finished"));
    EXPECT_NE(std::string::npos, out.find("#2  state 42"));
    EXPECT_NE(std::string::npos, out.find("cat\\xff\\x01 1a.flv"));

    // The program reads what the tool wrote.
    ASSERT_EQ(1, open_list_file());
    ASSERT_EQ(1, read_magic());
    ASSERT_EQ(1, read_settings_and_items());
    ASSERT_EQ(3, downloads.item_count);
    EXPECT_STREQ("http://cdn.example.test/1.flv", downloads.items[0].streamAddress);
    EXPECT_EQ(1000u, downloads.items[0].doneSize);
    EXPECT_EQ((uint32_t)Finished, downloads.items[1].state);
    EXPECT_EQ(25, downloads.items[2].siteKind);
}

TEST_F(ListToolTest, set_changes_only_the_named_settings) {
    std::string b = empty_list("/old");
    for (int i = 24; i < 32; i++) b[i] = (char)0x5A;
    for (int i = 36; i < 160; i++) b[i] = (char)0x6B;
    write_file("list.o", b);

    ASSERT_EQ(0, run({"set", "list.o", "--max", "4", "--proxy", "10.1.2.3:3128", "--use-proxy",
                      "1", "--show-finished", "1", "--auto-remove", "1", "--pos", "-3,9",
                      "--folder", "/new/place"}))
        << err;
    Json j = show_json("list.o");
    EXPECT_EQ(4, j["max_active_edit"].number);
    EXPECT_EQ("10.1.2.3", j["proxy_address"].text);
    EXPECT_EQ(3128, j["proxy_port"].number);
    EXPECT_EQ(1, j["use_proxy"].number);
    EXPECT_EQ(1, j["show_finished"].number);
    EXPECT_EQ(1, j["auto_remove_finished"].number);
    EXPECT_EQ(-3, j["window_x"].number);
    EXPECT_EQ(9, j["window_y"].number);
    EXPECT_EQ("/new/place", j["download_folder"].text);

    std::string after = read_file("list.o");
    ASSERT_EQ(b.size(), after.size());
    EXPECT_EQ(b.substr(24, 8), after.substr(24, 8));
    EXPECT_EQ(b.substr(32, 128), after.substr(32, 128));

    // A single option leaves the others as they are.
    ASSERT_EQ(0, run({"set", "list.o", "--use-proxy", "0"}));
    std::string single = read_file("list.o");
    EXPECT_EQ(0, single[15]);
    single[15] = 1;
    EXPECT_EQ(after, single);

    // Bad values are refused before anything is written.
    EXPECT_EQ(1, run({"set", "list.o", "--max", "2", "--proxy", "10.1.2.300:80"}));
    EXPECT_EQ(1, run({"set", "list.o", "--max", "10"}));
    EXPECT_EQ(1, run({"set", "list.o", "--pos", "5"}));
    EXPECT_EQ(1, run({"set", "list.o", "--folder", std::string(496, 'x')}));
    EXPECT_EQ(1, run({"set", "list.o"}));
    EXPECT_EQ(4, read_file("list.o")[12]);
}

TEST_F(ListToolTest, writers_are_refused_while_the_program_holds_the_list) {
    ASSERT_EQ(0, run({"init", "list.o"}));
    ASSERT_EQ(1, open_list_file());  // as the running program holds it

    EXPECT_EQ(2, run({"set", "list.o", "--max", "5"}));
    EXPECT_NE(std::string::npos, err.find("held by a running Quorvax")) << err;
    EXPECT_EQ(2, run({"add", "list.o", "--page", "http://example.test/x", "--site", "1"}));
    EXPECT_EQ(2, run({"init", "list.o", "--force"}));
    EXPECT_EQ(empty_list(), read_file("list.o"));
    EXPECT_EQ(0, run({"show", "list.o"})) << "reading is shared";

    close_file(app_state.list_file);
    app_state.list_file = PLAT_INVALID_FILE;
    EXPECT_EQ(0, run({"set", "list.o", "--max", "5"}));
}

TEST_F(ListToolTest, bad_requests_and_bad_files_give_their_exit_codes) {
    ASSERT_EQ(0, run({"init", "list.o"}));
    EXPECT_EQ(1, run({}));
    EXPECT_EQ(1, run({"frobnicate", "list.o"}));
    EXPECT_EQ(1, run({"show", "list.o", "--xml"}));
    EXPECT_EQ(1, run({"add", "list.o", "--page", "http://example.test/x"}));  // no site
    EXPECT_EQ(1, run({"add", "list.o", "--page", "http://e.test/", "--site", "28"}));
    // Whole links (26 media link, 27 web page) may fill the address field.
    const std::string link = "https://e.test/" + std::string(496, 'p');
    EXPECT_EQ(0, run({"add", "list.o", "--page", link, "--site", "27"}));
    EXPECT_EQ(1, run({"add", "list.o", "--page", link + "p", "--site", "26"}));
    EXPECT_EQ(1, run({"add", "list.o", "--page", "p", "--site", "1", "--state", "Sleeping"}));
    // Longer than the program would ever capture.
    EXPECT_EQ(1, run({"add", "list.o", "--page", std::string(255, 'p'), "--site", "1"}));
    EXPECT_EQ(0, run({"add", "list.o", "--page", std::string(254, 'p'), "--site", "1"}));
    EXPECT_EQ(1, run({"add", "list.o", "--page", "p", "--site", "1", "--file",
                      std::string(128, 'f')}));

    EXPECT_EQ(2, run({"show", "missing.o"}));
    EXPECT_EQ(2, run({"set", "missing.o", "--max", "1"}));
    write_file("bad.o", "not a list at all");
    EXPECT_EQ(2, run({"show", "bad.o"}));
    EXPECT_EQ(2, run({"set", "bad.o", "--max", "1"}));
}

TEST_F(ListToolTest, show_reports_counts_the_file_cannot_back_up) {
    std::string b = empty_list();
    put32(b, 32, 2);
    b += record_bytes(make_item("http://example.test/only", Queued));
    write_file("short.o", b);
    Json j = show_json("short.o");
    EXPECT_EQ(2, j["item_count"].number);
    EXPECT_EQ(1, j["records_in_file"].number);
    ASSERT_EQ(1u, j["items"].items.size());
    // Appending after the missing record would invent an item.
    EXPECT_EQ(2, run({"add", "short.o", "--page", "p", "--site", "1"}));
    EXPECT_EQ(b, read_file("short.o"));

    put32(b, 32, 0xFFFFFFFFu);
    write_file("negative.o", b);
    EXPECT_EQ(2, run({"show", "negative.o", "--json"}));
    Json k;
    EXPECT_TRUE(parse_json(out, &k));  // still a complete document
    EXPECT_NE(std::string::npos, err.find("outside"));
}

}  // namespace
