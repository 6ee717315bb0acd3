// startup.cpp - start-up and shut-down, in their fixed orders.
//
// Start-up builds the state in a fixed sequence and fails at the first step
// that cannot be done; each step below says why it stands where it does.
// Shut-down releases only what exists, so that it also serves after a
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
#include "ui/probe.h"
#include "ui/ui.h"

static const char CLASS_NAME[] = "Quorvax";
static const char WINDOW_TITLE[] = "Quorvax 1.0";
static const uint32_t SKIN_BITMAP_WIDTH = 476;

// The skin resource found by step 7, used by step 20.
static const uint8_t *skin_resource;
static uint32_t skin_resource_size;

static void show_list_file_message(void) { plat_message_box("List.o", "File not found!!"); }

// A list held by another writer is most often this program already running
// on it, perhaps hidden in the tray: the user who starts it again wants its
// window.  That instance is asked to show itself; only when none answers
// (the list tool holds the list, or the file is missing) is the list-file
// message shown.  1 when a running instance took the request.
static int hand_over_to_running_instance(void) {
    char key[FULL_PATH_CAP];
    if (!list_file_key(key, sizeof key)) return 0;
    return plat_signal_running_instance(key);
}

// Later starts on this list knock here (SECOND_START_MESSAGE).  Without it
// the program runs as before; they then show their message.
static void listen_for_later_starts(void) {
    char key[FULL_PATH_CAP];
    if (list_file_key(key, sizeof key))
        plat_listen_for_instances(app_state.window, key, SECOND_START_MESSAGE);
}

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
    // The state record starts clean before anything is put into it; the row
    // list is taken with it, since every paint reads it.
    reset_app_state();
    app_state.visible_rows = (int32_t *)calloc(VISIBLE_ROWS_MAX, sizeof(int32_t));
    if (!app_state.visible_rows) return 0;

    // list.o comes before any other resource: without it there is nothing
    // to run, and the one message start-up ever shows is about it, shown
    // before a window exists.  It must exist, be ours to write (a second
    // instance finds it held, and hands over to the first), and start with
    // the magic.
    if (!open_list_file()) {
        if (hand_over_to_running_instance()) {
            app_state.handed_over = 1;
            return 0;
        }
        show_list_file_message();
        return 0;
    }
    if (!read_magic()) {
        show_list_file_message();
        return 0;
    }

    // The scratch buffer before anything that builds text in it (the
    // window's outline below, every request later); the skin's pixels are
    // decoded into their own buffer.  Start values were set by the reset.
    app_state.text_scratch = (char *)calloc(TEXT_SCRATCH_SIZE, 1);
    app_state.skin_pixels = (uint32_t *)malloc(SKIN_PIXEL_BUFFER_SIZE);
    if (!app_state.text_scratch || !app_state.skin_pixels) return 0;

    // A program without its face cannot draw: the skin is looked up before
    // anything is registered, so a damaged build stops here.
    skin_resource = find_skin_resource(&skin_resource_size);
    if (!skin_resource) return 0;

    // The class, with its icon and arrow cursor, before any window of it.
    int icon_w = 0, icon_h = 0;
    const uint32_t *icon = find_icon_resource("iCOO1", &icon_w, &icon_h);
    app_state.window_icon = icon ? plat_create_icon(icon, icon_w, icon_h) : 0;
    if (!plat_register_class(CLASS_NAME, main_window_proc, PLAT_CURSOR_ARROW, app_state.window_icon))
        return 0;

    // Fonts before the first paint can want them (a failure leaves the
    // backend's default face, and start-up goes on).
    app_state.font_serif = plat_create_font("MS Serif", 11, 400);
    app_state.font_bold = plat_create_font("Arial", 12, 800);
    app_state.font_small = plat_create_font("Small Fonts", 9, 400);
    app_state.font_text = plat_create_font("Thoma", 11, 400);

    // The first half of the scrambled texts (tip, patterns, page markers)
    // becomes plain before the list is read, which may already hold work
    // that needs them.
    unscramble_first_batch();

    // Settings and records before the window: its place and the list it
    // shows come from the file.
    if (!read_settings_and_items()) return 0;
    normalise_settings();

    // The stored position is clamped to this screen before the window is
    // made there; the download folder is made early, so the first transfer
    // finds it.
    int screen_w = 0, screen_h = 0;
    plat_screen_size(&screen_w, &screen_h);
    app_state.max_x = screen_w - 303;
    app_state.max_y = screen_h - 472;
    read_download_folder();
    create_download_folder();
    clamp_window_position();

    // The window, hidden until start-up is complete.
    app_state.window = plat_create_window(CLASS_NAME, WINDOW_TITLE, app_state.window_x,
                                          app_state.window_y, WINDOW_WIDTH, WINDOW_HEIGHT);
    if (!app_state.window) return 0;

    // The pictures once the window exists: the back buffer is the backend's
    // picture of the window (the system can draw text into it too); the
    // skin bitmap is the program's own.
    app_state.back_buffer = plat_create_back_buffer(app_state.window, WINDOW_WIDTH, WINDOW_HEIGHT);
    if (!app_state.back_buffer) return 0;
    app_state.skin_bitmap = (uint32_t *)calloc((size_t)SKIN_BITMAP_WIDTH * SKIN_HEIGHT, 4);
    if (!app_state.skin_bitmap) return 0;

    // Sockets before anything could connect (a failure is ignored: requests
    // then simply fail, and the engine's time-out handles them).
    app_state.net_started = plat_net_start();

    // The outline and the decoded skin, both needed before the window takes
    // its shape and shows; the region data lies in the scratch buffer from
    // offset 1000, clear of any text built there so far.
    uint32_t words = skin_resource_size / 4;
    PlatRect client = {0, 0, WINDOW_WIDTH, WINDOW_HEIGHT};
    uint8_t *region_data = (uint8_t *)app_state.text_scratch + 1000;
    build_region(&client, region_data);
    if (!decode_skin(skin_resource, words, app_state.skin_pixels, SKIN_PIXEL_BUFFER_SIZE / 4))
        return 0;

    // The second half of the texts (request pieces, path separator, probe
    // targets) becomes plain before anything can send a request or build a
    // path; the window takes its stepped outline.
    PlatRect rects[REGION_RECT_COUNT];
    memcpy(rects, region_data + 32, sizeof rects);
    unscramble_second_batch();
    if (!plat_set_window_region(app_state.window, rects, REGION_RECT_COUNT)) return 0;

    // The rows to list, and the skin in the bitmap every piece is copied
    // from, before the first paint.
    rebuild_visible_list();
    upload_skin();

    // The request token goes into the closing header block, which is plain
    // only since the second half; the decoded pixels are not needed once
    // uploaded.
    app_state.startup_tick = plat_tick();
    write_request_token(app_state.startup_tick);
    free(app_state.skin_pixels);
    app_state.skin_pixels = nullptr;

    // Transfers under way when the program last ended carry on at once; the
    // output paths need the download folder and the second string batch.
    resume_loaded_items();

    // From now on a later start on this list shows this window instead of
    // failing; a request that comes before the loop runs waits in the queue.
    listen_for_later_starts();

    // The heartbeat starts last, once everything it drives exists; the
    // engine's limit is put in force and its timed work made due at once.
    app_state.timer_started = plat_set_timer(app_state.window, PROGRAM_TIMER_ID, TIMER_PERIOD_MS);
    app_state.max_active = app_state.max_active_edit;
    app_state.engine_tick = (int32_t)(app_state.startup_tick - 3500);
    app_state.sample_tick = (int32_t)(app_state.startup_tick - 3500);

    // Drawing may reach the screen only now that skin, rows and strings are
    // in place.
    app_state.window_shown = 1;
    // The row under the pointer is the one the first paint finds there; the
    // start value would light the first row wherever the pointer is.
    app_state.hovered_item = -1;
    repaint_all();
    refresh_window();
    return 1;
}

void shutdown(void) {
    // The settings first, while the list file is still open (and only once
    // the window position has been seen, or a start that never showed the
    // window would store a position it never had); then the tray icon.
    if (app_state.save_on_exit && app_state.list_file != PLAT_INVALID_FILE) {
        save_settings();
        close_file(app_state.list_file);
        app_state.list_file = PLAT_INVALID_FILE;
    }
    if (app_state.tray_icon_added) remove_tray_icon();

    // Every download's connection, buffer and file, before the socket
    // library and the memory they live in go.
    if (downloads.items) {
        for (int32_t i = 0; i < downloads.item_count; i++) release_item(downloads.items[i]);
    }

    // A connectivity probe still in flight holds a connection too.
    probe_abandon();

    // Sockets, now that none is open.
    if (app_state.net_started) plat_net_stop();
    app_state.net_started = 0;

    // Fonts (the pen and brushes are plain colours).
    plat_font *fonts[] = {&app_state.font_serif, &app_state.font_bold, &app_state.font_small,
                          &app_state.font_text};
    for (plat_font *f : fonts) {
        if (*f) plat_delete_font(*f);
        *f = 0;
    }

    // The memory blocks and the table.
    free(app_state.text_scratch);
    app_state.text_scratch = nullptr;
    free(app_state.visible_rows);
    app_state.visible_rows = nullptr;
    free(app_state.skin_pixels);
    app_state.skin_pixels = nullptr;
    free_table();

    // The two pictures (the back buffer goes back to the backend while its
    // window still exists).
    free(app_state.skin_bitmap);
    app_state.skin_bitmap = nullptr;
    if (app_state.back_buffer) plat_delete_back_buffer(app_state.window);
    app_state.back_buffer = nullptr;

    // The timer, then the window.  The list file, when not saved above, is
    // released here too rather than left to the process's end, so that a
    // restart in the same process (tests) can open it again.
    if (app_state.timer_started) plat_kill_timer(app_state.window, PROGRAM_TIMER_ID);
    app_state.timer_started = 0;
    if (app_state.list_file != PLAT_INVALID_FILE) close_file(app_state.list_file);
    app_state.list_file = PLAT_INVALID_FILE;
    if (app_state.window) plat_destroy_window(app_state.window);
    app_state.window = 0;
    app_state.window_shown = 0;
    restore_scrambled_table();
}
