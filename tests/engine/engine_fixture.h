// engine_fixture.h - a started program on the fake platform, with its list
// file in a temporary folder, for driving the engine step by step.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/loopback_proxy.h"
#include "support/temp_dir.h"
#include "support/testweb.h"

// A record as the list file would hold it.
inline DownloadItem engine_item(const char *page, int32_t kind, uint32_t state,
                                uint32_t done = 0, uint32_t total = 0,
                                const char *file_name = "") {
    DownloadItem item = make_item(page, state, done, total);
    item.siteKind = kind;
    strncpy(item.fileName, file_name, sizeof item.fileName - 1);
    return item;
}

struct EngineFixture : testing::Test {
    TempWorkDir dir;
    bool started = false;

    void SetUp() override {
        fake_reset();
        fake_set_tick(5000000);
    }
    void TearDown() override {
        if (started) shutdown();
        fake_clear_faults();
    }

    // Writes list.o (max downloads, folder, records) and starts the program.
    void start(const std::vector<DownloadItem> &items, int max_active = 1,
               const std::string &folder = "") {
        std::string list = empty_list(folder);
        list[12] = (char)max_active;
        put32(list, 32, (uint32_t)items.size());
        for (const DownloadItem &item : items) list += record_bytes(item);
        write_file(dir.file("list.o"), list);
        ASSERT_EQ(1, startup());
        started = true;
        app_state.now_tick = plat_tick();
    }

    // The engine believes the network reachable and probes nothing.
    static void go_online() {
        app_state.online = 1;
        app_state.engine_tick = (int32_t)plat_tick();
    }

    // One message: the clock moves by ms, then one engine step.
    static void step(uint32_t ms = 25) {
        fake_advance(ms);
        app_state.current_message =
        PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
        per_message_step(nullptr, nullptr);
        run_engine_step();
    }

    // Steps with the fake clock following real time (so that only real
    // silence times an item out) until done() holds or real_seconds pass.
    static bool run_until(const std::function<bool()> &done, double real_seconds = 30.0) {
        auto begin = std::chrono::steady_clock::now();
        uint32_t base = plat_tick();
        for (;;) {
            if (done()) return true;
            auto now = std::chrono::steady_clock::now();
            double elapsed = std::chrono::duration<double>(now - begin).count();
            if (elapsed > real_seconds) return false;
            fake_set_tick(base + (uint32_t)(elapsed * 1000.0) + 1);
            step(0);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }

    static DownloadItem &item(int i) { return downloads.items[i]; }

    // Puts item i in Connecting with its stream address known, so that the
    // next steps ask for the stream (from doneSize) without the page first.
    static void aim_at_stream(int i, const std::string &stream_address) {
        DownloadItem &it = downloads.items[i];
        memset(it.streamAddress, 0, sizeof it.streamAddress);
        strncpy(it.streamAddress, stream_address.c_str(), sizeof it.streamAddress - 1);
        it.state = Connecting;
        it.requestStage = 2;
        it.userStarted = 1;  // outside the limit: the regulation leaves it alone
        if (!it.buffer) it.buffer = buffer_alloc();
        it.lastActivityTick = app_state.now_tick;
    }

    std::string output_path(int i) const { return dir.file(downloads.items[i].fileName); }
    std::string list_bytes() const { return read_file(dir.file("list.o")); }
    // Field at offset field of stored record index.
    uint32_t stored(int index, size_t field) const {
        return get32(list_bytes(), record_at(index) + field);
    }
    uint32_t stored_count() const { return get32(list_bytes(), 32); }
};

// Record field offsets for stored().
static const size_t REC_STATE = 4;
static const size_t REC_TOTAL = 12;
static const size_t REC_DONE = 16;
