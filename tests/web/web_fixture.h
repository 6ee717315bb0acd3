// web_fixture.h - the web subsystem on the fake platform: string table,
// text scratch, list file and a small download table in a temporary folder,
// without the window.  Sockets are real (loopback only).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "app/strings.h"
#include "engine/download_table.h"
#include "listfile/list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/loopback_proxy.h"
#include "support/temp_dir.h"
#include "support/testweb.h"
#include "web/text.h"
#include "web/web.h"

// The token written into every request of a test run.
static const uint32_t TEST_REQUEST_TOKEN_TICK = 0x1a2b3c;

struct WebFixture : testing::Test {
    TempWorkDir dir;

    void SetUp() override {
        fake_reset();
        fake_set_tick(1000000);
        reset_app_state();
        app_state.now_tick = 1000000;
        app_state.online = 1;
        app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
        restore_scrambled_table();
        unscramble_first_batch();
        unscramble_second_batch();
        write_request_token(TEST_REQUEST_TOKEN_TICK);
        write_file(dir.file("list.o"), empty_list());
        ASSERT_EQ(1, open_list_file());
        ASSERT_EQ(1, allocate_table(0));
    }

    void TearDown() override {
        for (int32_t i = 0; i <= downloads.item_count; i++) {
            DownloadItem &it = downloads.items[i];
            if (it.socket) plat_close_socket(it.socket);
            if (it.file != 0 && it.file != PLAT_INVALID_FILE) plat_close(it.file);
            buffer_release(&it.buffer);
        }
        free_table();
        plat_close(app_state.list_file);
        free(app_state.text_scratch);
        app_state.text_scratch = nullptr;
        fake_clear_faults();
    }

    // Appends an item holding a fresh receive buffer; returns its index.
    static int add_item(const std::string &page, int32_t kind, uint32_t state = Analysing) {
        int i = downloads.item_count;
        DownloadItem &it = downloads.items[i];
        memset(&it, 0, sizeof it);
        strncpy(it.pageAddress, page.c_str(), sizeof it.pageAddress - 1);
        it.siteKind = kind;
        it.state = state;
        it.buffer = buffer_alloc();
        it.lastActivityTick = app_state.now_tick;
        downloads.item_count++;
        return i;
    }

    static DownloadItem &item(int i) { return downloads.items[i]; }

    // Puts text into item i's buffer as if it had been received, followed
    // by bytes that a rule reading past the received text would trip on.
    static void load_page(int i, const std::string &text) {
        char *data = buffer_data(item(i).buffer);
        memcpy(data, text.data(), text.size());
        static const char trap[] = "\"'&amp</title>\r\n";
        memcpy(data + text.size(), trap, sizeof trap);
        item(i).bufferFill = (uint32_t)text.size();
    }

    // Runs fetch_page on item i until done() holds or real_seconds pass.
    static bool drive(int i, uint32_t range_start, int stream_mode, const std::function<bool()> &done,
                      double real_seconds = 15.0) {
        auto begin = std::chrono::steady_clock::now();
        for (;;) {
            if (done()) return true;
            double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            if (elapsed > real_seconds) return false;
            fetch_page(i, range_start, stream_mode);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    }

    // The state name, for readable failures.
    static std::string state_of(int i) {
        const char *name = item_state_name(item(i).state);
        return name ? name : std::to_string(item(i).state);
    }

    std::string list_bytes() const { return read_file(dir.file("list.o")); }
    uint32_t stored(int index, size_t field) const { return get32(list_bytes(), record_at(index) + field); }
};

static const size_t RECORD_STATE = 4;
static const size_t RECORD_TOTAL = 12;
static const size_t RECORD_DONE = 16;
