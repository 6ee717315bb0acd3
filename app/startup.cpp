// startup.cpp - start-up and shut-down, in their fixed orders.
//
// Start-up builds the state in a fixed sequence (memory, list file, skin,
// window class, fonts, strings, settings and records, window, shape, skin
// upload, request token, timer) and fails at the first step that cannot be
// done.  Shut-down releases only what exists, so that it also serves after a
// start-up that failed part-way.
#include "app/app.h"

#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "display/display.h"
#include "engine/engine.h"
#include "engine/download_table.h"
#include "listfile/listfile.h"
#include "resources/resources.h"
#include "ui/list_view.h"
#include "ui/ui.h"

static const char CLASS_NAME[] = "Quorvax";
static const char WINDOW_TITLE[] = "Quorvax 1.0";
static const uint32_t SKIN_BITMAP_WIDTH = 476;

// The skin resource found by step 7, used by step 20.
static const uint8_t *skin_resource;
static uint32_t skin_resource_size;

static void show_list_file_message(void) { plat_message_box("List.o", "File not found!!"); }

// Creates the download folder (its last component) when it is missing.
static void create_download_folder(void) {
    const char *folder = app_state.download_folder;
    if (folder[0] && !plat_directory_exists(folder)) plat_create_directory(folder);
}

static void clamp_window_position(void) {
    if (app_state.window_x < 0) app_state.window_x = 0;
    if (app_state.window_y < 0) app_state.window_y = 0;
    if (app_state.window_x > app_state.max_x) app_state.window_x = app_state.max_x;
    if (app_state.window_y > app_state.max_y) app_state.window_y = app_state.max_y;
}

int startup(void) {
    // 1-2: the state block and the visible-row list.
    reset_app_state();
    app_state.visible_rows = (int32_t *)calloc(VISIBLE_ROWS_MAX, sizeof(int32_t));
    if (!app_state.visible_rows) return 0;

    // 3-4: list.o must exist, be ours to write, and start with the magic.
    if (!open_list_file()) {
        show_list_file_message();
        return 0;
    }
    if (!read_magic()) {
        show_list_file_message();
        return 0;
    }

    // 5-6: scratch and skin pixel buffers; start values are set by reset.
    app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
    app_state.skin_pixels = (uint32_t *)malloc(SKIN_PIXEL_BUFFER_SIZE);
    if (!app_state.text_scratch || !app_state.skin_pixels) return 0;

    // 7: the skin resource.
    skin_resource = find_skin_resource(&skin_resource_size);
    if (!skin_resource) return 0;

    // 8: cursors and the window class.
    int icon_w = 0, icon_h = 0;
    const uint32_t *icon = find_icon_resource("iCOO1", &icon_w, &icon_h);
    app_state.window_icon = icon ? plat_create_icon(icon, icon_w, icon_h) : 0;
    if (!plat_register_class(CLASS_NAME, main_window_proc, PLAT_CURSOR_ARROW, app_state.window_icon))
        return 0;

    // 9: fonts (a failure leaves the backend's default face).
    app_state.font_serif = plat_create_font("MS Serif", 11, 400);
    app_state.font_bold = plat_create_font("Arial", 12, 800);
    app_state.font_small = plat_create_font("Small Fonts", 9, 400);
    app_state.font_text = plat_create_font("Thoma", 11, 400);

    // 10: first batch of the string table.
    unscramble_first_batch();

    // 11: settings, count and records.
    if (!read_settings_and_items()) return 0;

    // 12-14: position limits, the download folder, the clamp.
    int screen_w = 0, screen_h = 0;
    plat_screen_size(&screen_w, &screen_h);
    app_state.max_x = screen_w - 303;
    app_state.max_y = screen_h - 472;
    read_download_folder();
    create_download_folder();
    clamp_window_position();

    // 15: the window.
    app_state.window = plat_create_window(CLASS_NAME, WINDOW_TITLE, app_state.window_x,
                                          app_state.window_y, WINDOW_WIDTH, WINDOW_HEIGHT);
    if (!app_state.window) return 0;

    // 16: back buffer, then the skin bitmap.  The back buffer is the
    // backend's picture of the window (the system can draw into it too);
    // the skin bitmap is the program's own.
    app_state.back_buffer = plat_create_back_buffer(app_state.window, WINDOW_WIDTH, WINDOW_HEIGHT);
    if (!app_state.back_buffer) return 0;
    app_state.skin_bitmap = (uint32_t *)calloc((size_t)SKIN_BITMAP_WIDTH * SKIN_HEIGHT, 4);
    if (!app_state.skin_bitmap) return 0;

    // 17: sockets (a failure is ignored: requests then simply fail).
    app_state.net_started = plat_net_start();

    // 18-20: the resource as words, the region data, the decoded skin.
    uint32_t words = skin_resource_size / 4;
    PlatRect client = {0, 0, WINDOW_WIDTH, WINDOW_HEIGHT};
    uint8_t *region_data = (uint8_t *)app_state.text_scratch + 1000;
    build_region(&client, region_data);
    if (!decode_skin(skin_resource, words, app_state.skin_pixels, SKIN_PIXEL_BUFFER_SIZE / 4))
        return 0;

    // 21-23: the region, the second batch of strings, the region set.
    PlatRect rects[REGION_RECT_COUNT];
    memcpy(rects, region_data + 32, sizeof rects);
    unscramble_second_batch();
    if (!plat_set_window_region(app_state.window, rects, REGION_RECT_COUNT)) return 0;

    // 24-25: the visible rows, the skin upload.
    rebuild_visible_list();
    upload_skin();

    // 26-27: the request token; the skin pixels are no longer needed.
    app_state.startup_tick = plat_tick();
    write_request_token(app_state.startup_tick);
    free(app_state.skin_pixels);
    app_state.skin_pixels = nullptr;

    // Transfers under way when the program last ended carry on at once; the
    // output paths need the download folder and the second string batch.
    resume_loaded_items();

    // 28-29: the heartbeat, the engine's limit and its timed work due at once.
    app_state.timer_started = plat_set_timer(app_state.window, PROGRAM_TIMER_ID, TIMER_PERIOD_MS);
    app_state.max_active = app_state.max_active_edit;
    app_state.engine_tick = (int32_t)(app_state.startup_tick - 3500);
    app_state.sample_tick = (int32_t)(app_state.startup_tick - 3500);

    // 30: drawing may reach the screen from now on.
    app_state.window_shown = 1;
    repaint_all();
    refresh_window();
    return 1;
}

void shutdown(void) {
    // 1-2: settings (only once the window position has been seen), tray icon.
    if (app_state.save_on_exit && app_state.list_file != PLAT_INVALID_FILE) {
        save_settings();
        close_file(app_state.list_file);
        app_state.list_file = PLAT_INVALID_FILE;
    }
    if (app_state.tray_icon_added) remove_tray_icon();

    // 3: every download's connection, buffer and file.
    if (downloads.items) {
        for (int32_t i = 0; i < downloads.item_count; i++) release_item(downloads.items[i]);
    }

    // 4: sockets.
    if (app_state.net_started) plat_net_stop();
    app_state.net_started = 0;

    // 5: fonts (the pen and brushes are plain colours).
    plat_font *fonts[] = {&app_state.font_serif, &app_state.font_bold, &app_state.font_small,
                          &app_state.font_text};
    for (plat_font *f : fonts) {
        if (*f) plat_delete_font(*f);
        *f = 0;
    }

    // 6: memory blocks and the table.
    free(app_state.text_scratch);
    app_state.text_scratch = nullptr;
    free(app_state.visible_rows);
    app_state.visible_rows = nullptr;
    free(app_state.skin_pixels);
    app_state.skin_pixels = nullptr;
    free_table();

    // 7: the two pictures (the back buffer goes back to the backend while
    // its window still exists).
    free(app_state.skin_bitmap);
    app_state.skin_bitmap = nullptr;
    if (app_state.back_buffer) plat_delete_back_buffer(app_state.window);
    app_state.back_buffer = nullptr;

    // 8: the timer.  The list file, when not saved above, is released here
    // too rather than left to the process's end, so that a restart in the
    // same process (tests) can open it again.
    if (app_state.timer_started) plat_kill_timer(app_state.window, PROGRAM_TIMER_ID);
    app_state.timer_started = 0;
    if (app_state.list_file != PLAT_INVALID_FILE) close_file(app_state.list_file);
    app_state.list_file = PLAT_INVALID_FILE;
    if (app_state.window) plat_destroy_window(app_state.window);
    app_state.window = 0;
    app_state.window_shown = 0;
    restore_scrambled_table();
}
