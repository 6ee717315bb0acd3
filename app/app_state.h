// app_state.h - the program's one global state record.
//
// Lifetime rule: three kinds of data live here.
//   * persistent settings: read from list.o at start-up, written back by
//     save_settings (listfile/);
//   * run-time state: starts at 0 (or the value noted) on every start;
//   * owned resources: created by startup, released by shutdown.
// The per-download records live in the download table (engine/download_table.h).
// Each group below is owned by the subsystem named in its heading; fields are
// 32-bit signed unless their type says otherwise.  Subsystems add their own
// fields to their own group.
#pragma once

#include <cstdint>

#include "platform/platform.h"

static const uint32_t PROGRAM_TIMER_ID = 16657;
static const uint32_t TIMER_PERIOD_MS = 25;
static const uint32_t TRAY_CALLBACK_MESSAGE = 9029;
// Posted by the backend when a later start on the same list asks this
// instance to show its window.
static const uint32_t SECOND_START_MESSAGE = 9030;
// offer_key_down: 1 while Enter or Space presses the capture button; this
// while a key held over from a closed dialog waits to be let go.
static const int32_t OFFER_KEY_FROM_DIALOG = 2;
static const int WINDOW_WIDTH = 288;
static const int WINDOW_HEIGHT = 417;
static const int SKIN_WIDTH = 472;
static const int SKIN_HEIGHT = 487;
static const int TEXT_SCRATCH_SIZE = 262144;
static const int SKIN_PIXEL_BUFFER_SIZE = 1000000;
static const int VISIBLE_ROWS_MAX = 50000;
static const int DOWNLOAD_FOLDER_SIZE = 512;
static const int STATUS_TEXT_SIZE = 64;

// The item menu's entries, top to bottom (menu_entry; 0 none).
enum MenuEntryId {
    MENU_ENTRY_NONE = 0,
    MENU_ENTRY_START = 1,
    MENU_ENTRY_STOP = 2,
    MENU_ENTRY_REMOVE = 3,
    MENU_ENTRY_OPEN_PAGE = 4,
    MENU_ENTRY_SHOW_FILE = 5,
};

inline constexpr const char *MENU_ENTRY_NAMES[] = {"none", "start", "stop", "remove", "open page", "show file"};
static_assert(sizeof(MENU_ENTRY_NAMES) / sizeof(MENU_ENTRY_NAMES[0]) == MENU_ENTRY_SHOW_FILE + 1,
              "one name for every menu entry");
inline const char *menu_entry_name(int entry) {
    if (entry < MENU_ENTRY_NONE || entry > MENU_ENTRY_SHOW_FILE) return "unknown";
    return MENU_ENTRY_NAMES[entry];
}

// Where the connectivity probe stands (probe_phase): none in flight, its
// connect under way, or its request sent and its answer awaited.
enum ProbePhase {
    PROBE_IDLE = 0,
    PROBE_CONNECTING = 1,
    PROBE_WAITING = 2,
};

struct AppState {
    // ---- application shell (app/) ------------------------------------
    char *text_scratch;         // 262,144-byte scratch for requests, paths, numbers
    uint32_t *skin_pixels;      // decoded skin during start-up only (1,000,000 bytes)
    plat_window window;         // the main window
    plat_font font_serif;       // "MS Serif" 11 px, 400
    plat_font font_bold;        // "Arial" 12 px, 800
    plat_font font_small;       // "Small Fonts" 9 px, 400
    plat_font font_text;        // "Thoma" 11 px, 400
    plat_icon window_icon;      // icon of the window class
    plat_icon tray_icon;        // icon of the notification area
    int net_started;            // socket library started
    int timer_started;          // PROGRAM_TIMER_ID running
    int save_on_exit;           // set by the first tick that sees the window shown
    int tray_icon_added;        // tray icon added; shutdown removes it
    int max_x, max_y;           // largest window position on this screen
    uint32_t startup_tick;      // tick read for the request token
    PlatMessage current_message;// message being handled by the loop
    int handed_over;            // start-up found the list run by another instance,
                                // which showed its window: this start ends quietly

    // ---- persistent settings (listfile/ reads and writes them) ------------
    int32_t window_x, window_y; // window's top-left corner on screen
    int32_t max_active_edit;    // downloads at once, 0..9 (stored as 1 byte)
    int32_t auto_remove_finished; // remove finished items automatically
    int32_t show_finished;      // list shows finished items
    int32_t use_proxy;          // connect through the proxy
    int32_t proxy_port;         // proxy TCP port
    int32_t proxy_address[4];   // proxy IPv4 octets, first octet first
    char download_folder[DOWNLOAD_FOLDER_SIZE]; // where downloads are written
    plat_file list_file;        // list.o, open read/write for the whole run

    // ---- download engine (engine/) -----------------------------------
    uint32_t now_tick;          // tick sampled by per_message_step
    int32_t online;             // 1 while the network is believed reachable
    int32_t offline_notice;     // 1 shows the offline notice
    int32_t engine_tick;        // base of the 6-second probe timer
    int32_t sample_tick;        // tick of the last speed sample
    uint16_t sample_due;        // 1 during a step that takes a sample
    int32_t active_count;       // running items counted against max_active
    int32_t downloading_count;  // items in Downloading
    int32_t total_speed;        // sum of speed over Downloading items
    int32_t max_active;         // the limit in force (copy of max_active_edit)
    int32_t pending_key;        // key latch: 0, +code new, -code handled
    double sum_total_size;      // sum of totalSize over all items
    double sum_done_size;       // sum of doneSize over all items
    char status_text[STATUS_TEXT_SIZE]; // tray tip, at most 63 characters
    int32_t removal_requested;  // a removal of the selected item is pending
    int32_t removal_by_key;     // 1 when the Delete key asked for it
    float sample_factor;        // 500 / elapsed ms at a sample, else 0

    // ---- user interaction (ui/) --------------------------------------
    int32_t window_shown;       // 1 while shown; 0 hidden (nothing drawn)
    uint32_t tick_count;        // timer messages received
    int32_t pointer_x, pointer_y; // last pointer position, client coordinates
    int32_t hover_id;           // element under the pointer, 0 none
    int32_t press_id;           // hover_id when the left button went down
    int32_t offer_pending;      // clipboard holds a capturable address
    int32_t offer_checksum;     // sum of the last offered address
    int32_t shown_checksum;     // sum of the address that last popped the window
    int32_t capture_pressed;    // capture button held down
    int32_t dragging, drag_anchor_x, drag_anchor_y; // window drag
    int32_t last_drag_cursor_x, last_drag_cursor_y; // cursor at last move
    int32_t settings_open;      // settings panel shown
    int32_t menu_open, menu_x, menu_y, menu_entry; // item context menu
    int32_t hovered_item;       // row under the pointer, negative none
    int32_t hand_cursor_on;     // hand cursor set
    int32_t pointer_zone;       // pointer over the offline notice
    int32_t note_ticks, note_x, note_y; // duplicate note
    int32_t thumb_top;          // scroll thumb top, 70..349 once placed
    int32_t thumb_length;       // 40
    int32_t thumb_grab;         // grab offset while held, -1 none
    float scroll_scale;         // list pixels per thumb pixel, 0 = all fit
    int32_t list_offset;        // first list pixel shown
    int32_t repeat_ticks;       // auto-repeat of the scroll arrows
    int32_t offer_key_down;     // Enter or Space held during an offer (OFFER_KEY_*)
    int32_t last_click_element; // element whose release command ran last
    int32_t swallow_release;    // the coming release ends a double click
    int32_t last_press_ran_menu;// the last left press ran a menu entry
    int32_t *visible_rows;      // indices shown, up to VISIBLE_ROWS_MAX
    int32_t visible_count;      // entries in visible_rows
    int32_t proxy_edit_on;      // settings editing state (settings panel)
    int32_t edit_field;
    int32_t edit_fresh;
    int32_t proxy_edit[5];      // edited proxy octets 1-4, then the port
    int32_t probe_target;       // connectivity probe target 0..2 used next
    int32_t probe_phase;        // the probe in flight (ProbePhase; PROBE_IDLE none)
    plat_socket probe_socket;   // its connection, 0 none; the probe closes it,
                                // shutdown closes one still in flight
    uint32_t probe_deadline;    // now_tick at which its phase gives up
    int32_t probe_proxy;        // use_proxy when its connect started (the
                                // request takes the form of that endpoint)
    int32_t modal_depth;        // modal dialogs open (the folder chooser):
                                // pointer, keys and panel commands wait

    // ---- display (display/) ------------------------------------------
    uint32_t *back_buffer;      // 288x417 picture everything is drawn into
    uint32_t *skin_bitmap;      // 476x487 picture pieces are copied from
    int skin_uploaded;          // skin copied into skin_bitmap
    plat_font selected_font;    // font draw_text writes with (0 = default face)
    uint32_t text_colour;       // colour draw_text writes with, 0x00RRGGBB
    uint32_t draw_count;        // primitives that wrote into the back buffer
    uint32_t painted_draw_count;// draw_count just after the last refresh painted
    uint64_t painted_signature; // paint_signature that refresh painted from
    int32_t painted_valid;      // 1 once a refresh has painted (display/paint.cpp)
};

extern AppState app_state;

// Puts every field at its zero or initial start-up value (owned resources
// are forgotten, not released: shutdown releases them first).
void reset_app_state(void);
