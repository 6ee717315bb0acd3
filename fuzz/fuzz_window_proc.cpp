// fuzz_window_proc.cpp - the window procedure under arbitrary messages, on
// a program started once on the fake platform.
//
// Each run puts a list of a few downloads (states, sizes, addresses) in the
// table, puts a text on the clipboard (arbitrary bytes, often around a
// supported address) and feeds a sequence of messages, each through the
// per-message step and then main_window_proc, as the message loop does:
// pointer moves, left presses, double presses and releases, right presses,
// the wheel, timers, paints, the tray callback, Delete, and any other
// message id; keys, the cursor and the clipboard change between them and the
// fake clock moves as the input says.  After every message the interaction
// state must make sense: selection and hover name a download or none, the
// visible rows name downloads, the thumb and the list offset lie in range,
// the menu entry is one of five, the ids are ids of elements, the menu lies
// inside the window, every receive buffer belongs to a download and the
// stored count follows the table.
//
// No connection is ever made: every name look-up and connect fails at the
// fake platform, so the engine steps that the timer runs only see a network
// that is down.
//
// Input: three setup bytes, the clipboard, the listed downloads, then the
// messages.  The layout is in the sections below; bytes past the end read
// as zero, so every input is a valid one.
//
// Sections: [INPUT] [STARTING] [LIST] [CLIPBOARD] [CHECKS] [MESSAGES]
//           [RUN]

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "app/app.h"
#include "app/app_state.h"
#include "display/window_layout.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/list_bytes.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/platform.h"
#include "ui/list_view.h"
#include "ui/ui.h"

namespace {

// Where the window stands on the fake screen; pointer messages carry client
// points and the cursor follows them in screen coordinates.
const int WINDOW_LEFT = 100, WINDOW_TOP = 100;
// Timer messages one run may take, however its input asks: enough for the
// duplicate note (40), auto-repeat (15) and the probe's 6 s.
const int TIMERS_MAX = 400;
// The long list mode lists this many downloads and up to 254 more, so the
// list scrolls (25 rows fit) and its scale passes 12 pixels per thumb pixel;
// its last count byte (255) asks for more downloads than the list has rows
// for.
const int LONG_LIST_BASE = 26;
const int HUGE_LIST = VISIBLE_ROWS_MAX + 10;

// --------------------------------------------------------------- [INPUT]

struct Input {
    const uint8_t *data;
    size_t size, at;
    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t u16() { return (uint32_t)byte() | (uint32_t)byte() << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
};

// The clipboard's text, and where the pattern put into it starts (0 when
// none was).
struct ClipText {
    std::string text;
    size_t patternAt;
};

// ------------------------------------------------------------ [STARTING]

char folder[] = "/tmp/quorvax-fuzz-window-XXXXXX";
char list_path[sizeof folder + sizeof LIST_FILE_NAME + 1];
int stored_count_fd = -1;
AppState started;   // app_state as start-up left it
uint32_t started_tick;   // the fake clock then

void remove_folder() {
    if (stored_count_fd >= 0) close(stored_count_fd);
    close_file(app_state.list_file);
    if (DIR *dir = opendir(folder)) {
        for (struct dirent *e; (e = readdir(dir));) {
            if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
            std::string path = std::string(folder) + "/" + e->d_name;
            unlink(path.c_str());
        }
        closedir(dir);
    }
    rmdir(folder);
}

// Starts the program once on an empty list in a folder of its own (the
// program opens list.o in its working folder, so the start steps into it
// and back), with the window at a known place and the proxy switched off.
bool initialise() {
    if (!mkdtemp(folder)) abort();
    snprintf(list_path, sizeof list_path, "%s/%s", folder, LIST_FILE_NAME);
    std::string list = empty_list(folder);
    put32(list, 4, WINDOW_LEFT);
    put32(list, 8, WINDOW_TOP);
    atexit(remove_folder);
    start_program_on(folder, list_path, list);
    // The folder chooser answers with the download folder itself.
    fake_set_folder_answer(folder);
    started = app_state;
    started_tick = plat_tick();
    stored_count_fd = open(list_path, O_RDONLY);
    if (stored_count_fd < 0) abort();
    // The network is down for good: no run may reach a real host.
    fake_fail(FAULT_RESOLVE, 1, 1);
    fake_fail(FAULT_CONNECT, 1, 1);
    return true;
}

// ---------------------------------------------------------------- [LIST]

// Item bytes (for each of the described downloads):
//   0  state code mod 13 (0 and 11, 12 are codes no state has; a list file
//      may hold them)
//   1  bits 0-6: totalSize in steps of 37,000 bytes (0 = not known yet)
//      bit 7: doneSize beyond totalSize (a damaged file)
//   2  doneSize as a share of totalSize, in 255ths
//   3  address: 0 empty, 1 the address the clipboard offers (a duplicate
//      of the offer, unless another pattern comes first in the text),
//      2-5 fixed pages, 6 a page of 511 characters, 7 the clipboard's whole
//      text; bit 3: a file name
const char *const PAGES[] = {"reelbox.test/watch/sunrise", "tubeon.test/watch/x?size=5",
                             "http://vidcue.test/watch/a", "reelbox.test/watch/sunrise?size=3000000"};

// What recognition takes from a text whose pattern starts at its place: up
// to the first control character, space, quote or angle bracket, at most
// 254 characters.
std::string offered_address(const ClipText &clip) {
    std::string address;
    for (size_t k = clip.patternAt; k < clip.text.size() && address.size() < 254; k++) {
        unsigned char c = (unsigned char)clip.text[k];
        if (c < 32 || c == 127 || c == ' ' || c == '"' || c == '<' || c == '>') break;
        address += (char)c;
    }
    return address;
}

void fill_item(DownloadItem &item, Input &in, const ClipText &clip, int index) {
    memset(&item, 0, sizeof item);
    item.state = in.byte() % 13;
    uint8_t size = in.byte();
    item.totalSize = (uint32_t)(size & 0x7F) * 37000u;
    item.doneSize = (uint32_t)((uint64_t)item.totalSize * in.byte() / 255u);
    if (size & 0x80) item.doneSize = item.totalSize + 1000;
    uint8_t address = in.byte();
    std::string page;
    switch (address & 7) {
    case 0: break;
    case 1: page = offered_address(clip); break;
    case 6: page = std::string("reelbox.test/watch/") + std::string(492, 'a' + index % 26); break;
    case 7: page = clip.text; break;
    default: page = PAGES[(address & 7) - 2]; break;
    }
    strncpy(item.pageAddress, page.c_str(), sizeof item.pageAddress - 1);
    if (address & 8) snprintf(item.fileName, sizeof item.fileName, "clip %d.flv", index);
    item.siteKind = index % 26;
}

// The table as loading a list file leaves it, and the file holding it.
void make_list(Input &in, uint8_t flags, uint8_t extra, const ClipText &clip) {
    int described = flags & 7;
    int count = described;
    if (flags & 8) count = extra == 255 ? HUGE_LIST : LONG_LIST_BASE + extra;
    if (!allocate_table(count)) abort();
    for (int i = 0; i < described; i++) fill_item(downloads.items[i], in, clip, i);
    // The rest of a long list repeats the described ones; that of a huge
    // list (or of one with none described) is queued and finished ones,
    // which hold no receive buffer.
    for (int i = described; i < count; i++) {
        if (described > 0 && count != HUGE_LIST) {
            downloads.items[i] = downloads.items[i % described];
        } else {
            memset(&downloads.items[i], 0, sizeof(DownloadItem));
            downloads.items[i].state = i % 3 ? Queued : Finished;
            snprintf(downloads.items[i].pageAddress, 64, "reelbox.test/watch/%d", i);
        }
    }
    prepare_loaded_items(downloads.items, count);
    plat_truncate(app_state.list_file, LIST_HEADER_SIZE);
    rewrite_all_records();
    write_item_count();
    resume_loaded_items();
}

// ----------------------------------------------------------- [CLIPBOARD]

// Clipboard bytes: a mode byte, a length byte and that many bytes.
//   mode bits 0-1: 0 no text (a picture), 1 the bytes alone, 2 a supported
//                  pattern and the bytes, 3 a scheme, a pattern, the bytes
//   bit 2: the clipboard will not open; bit 3: its text cannot be had;
//   bit 4: the text is marked secret; bits 5-7: which pattern
const char *const PATTERNS[] = {"reelbox.test/watch/", "tubeon.test/", "mvs.test/",  "moviestar.test/",
                                "filer2.test/",       "fil.test/",    "vsr.test/", "REELBOX.TEST/watch/"};

ClipText read_clipboard(Input &in) {
    uint8_t mode = in.byte();
    size_t length = in.byte();
    std::string bytes;
    for (size_t k = 0; k < length; k++) bytes += (char)in.byte();
    ClipText clip = {"", 0};
    if ((mode & 3) == 3) clip.text = "http://";
    clip.patternAt = clip.text.size();
    if ((mode & 3) >= 2) clip.text += PATTERNS[mode >> 5];
    clip.text += bytes;
    // The clipboard hands out NUL-terminated text.
    clip.text.resize(strnlen(clip.text.c_str(), clip.text.size()));
    fake_set_clipboard((mode & 3) != 0 ? clip.text.c_str() : nullptr);
    fake_set_clipboard_open_fails(mode & 4);
    fake_set_clipboard_text_fails(mode & 8);
    fake_set_clipboard_secret(mode & 16);
    return clip;
}

// -------------------------------------------------------------- [CHECKS]

bool known_element(int id) {
    if (id == ELEMENT_NONE || id == ELEMENT_PANEL_CLOSED || id == ELEMENT_NO_MATCH) return true;
    if (id >= ELEMENT_CAPTURE && id <= ELEMENT_THUMB) return true;
    for (const PanelElement *e : PANEL_ELEMENTS)
        if (e->id == id) return true;
    return false;
}

int32_t stored_count() {
    uint8_t c[4];
    if (pread(stored_count_fd, c, 4, LIST_COUNT_OFFSET) != 4) return -1;
    return (int32_t)((uint32_t)c[0] | (uint32_t)c[1] << 8 | (uint32_t)c[2] << 16 | (uint32_t)c[3] << 24);
}

void check_state() {
    const AppState &s = app_state;
    const int32_t count = downloads.item_count;
    check(downloads.items != nullptr && count >= 0, "a table");
    check(downloads.selected_item < count, "selected_item negative or below item_count");
    check(s.hovered_item < count, "hovered_item negative or below item_count");
    check(s.visible_count >= 0 && s.visible_count <= VISIBLE_ROWS_MAX, "visible_count within 0..50000");
    for (int32_t k = 0; k < s.visible_count; k++)
        check(s.visible_rows[k] >= 0 && s.visible_rows[k] < count, "every visible row a download");
    check(s.thumb_top >= 0 && s.thumb_top <= SCROLL_TRACK_BOTTOM, "thumb_top within 0..389");
    check(s.thumb_top == 0 || (s.thumb_top >= SCROLL_TRACK_TOP && s.thumb_top + s.thumb_length <= SCROLL_TRACK_BOTTOM),
          "a placed thumb lies on its track");
    check(s.list_offset >= 0, "list_offset not negative");
    check(s.menu_entry >= MENU_ENTRY_NONE && s.menu_entry <= MENU_ENTRY_SHOW_FILE, "menu_entry 0..5");
    check(known_element(s.press_id), "press_id an element id, 0, -1 or -1222");
    check(known_element(s.hover_id), "hover_id an element id, 0, -1 or -1222");
    if (s.menu_open)
        check(s.menu_x >= 0 && s.menu_y >= 0 && s.menu_x + MENU_WIDTH <= WINDOW_WIDTH &&
                  s.menu_y + MENU_HEIGHT <= WINDOW_HEIGHT,
              "the open menu lies inside the window");
    check(s.window_shown == 0 || (s.window_shown == 1 && fake_window().shown), "a shown window is on screen");
    int held = 0;
    for (int32_t i = 0; i < count; i++) held += downloads.items[i].buffer != 0;
    check(buffers_in_use() == held, "every receive buffer belongs to a download");
    check(stored_count() == count, "the stored count follows the table");
}

// ------------------------------------------------------------ [MESSAGES]

// Message bytes: an op byte, then what it needs.  op bits 0-3 the kind,
// bit 4: the point is a raw 32-bit lparam (else x, y as two 16-bit values
// folded into 320 x 440, around the window), bit 5: the cursor stays where
// it is (else it follows the point, as on a real screen), bit 6: the wheel
// takes any 32-bit wparam (else a notch count byte) and a key-down any key
// code byte (else Delete).
enum Op {
    OP_MOVE, OP_LEFT_DOWN, OP_LEFT_DOUBLE, OP_LEFT_UP, OP_RIGHT_DOWN, OP_WHEEL, OP_TIMER,
    OP_TIMERS, OP_PAINT, OP_TRAY, OP_KEY_DOWN, OP_KEY_STATE, OP_CURSOR, OP_CLIPBOARD, OP_OTHER,
    OP_CLOCK_JUMP,
};
const int KEYS[] = {PLAT_VK_LBUTTON, PLAT_VK_RETURN, PLAT_VK_SPACE, PLAT_VK_DELETE, PLAT_VK_BACK,
                    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
const int KEY_COUNT = (int)(sizeof KEYS / sizeof KEYS[0]);

int timers_left;

// One message as the loop hands it on: the per-message step, then the
// window procedure.
void deliver(uint32_t message, uint32_t wparam, int32_t lparam) {
    app_state.current_message = PlatMessage{app_state.window, message, wparam, lparam};
    per_message_step(nullptr, nullptr);
    main_window_proc(app_state.window, message, wparam, lparam);
    check_state();
}

void timer(uint32_t ms) {
    if (timers_left <= 0) return;
    timers_left--;
    fake_advance(ms);
    deliver(PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0);
}

int32_t read_point(Input &in, uint8_t op) {
    uint32_t lparam;
    if (op & 16) {
        lparam = in.u32();
    } else {
        uint32_t x = in.u16() % 320, y = in.u16() % 440;
        lparam = x | y << 16;
    }
    if (!(op & 32)) {
        const FakeWindow &w = fake_window();
        fake_set_cursor(w.x + (int)(lparam & 0xFFFF), w.y + (int)(lparam >> 16));
    }
    return (int32_t)lparam;
}

void run_op(Input &in) {
    uint8_t op = in.byte();
    switch (op & 15) {
    case OP_MOVE: deliver(PLAT_WM_MOUSEMOVE, 0, read_point(in, op)); break;
    case OP_LEFT_DOWN: deliver(PLAT_WM_LBUTTONDOWN, 1, read_point(in, op)); break;
    case OP_LEFT_DOUBLE: deliver(PLAT_WM_LBUTTONDBLCLK, 1, read_point(in, op)); break;
    case OP_LEFT_UP: deliver(PLAT_WM_LBUTTONUP, 0, read_point(in, op)); break;
    case OP_RIGHT_DOWN: deliver(PLAT_WM_RBUTTONDOWN, 2, read_point(in, op)); break;
    case OP_WHEEL: {
        // A notch count in the high word, or any wparam at all.
        uint32_t wparam = op & 64 ? in.u32() : (uint32_t)(int16_t)((int8_t)in.byte() * 120) << 16;
        deliver(PLAT_WM_MOUSEWHEEL, wparam, read_point(in, op));
        break;
    }
    case OP_TIMER: timer(in.byte()); break;
    case OP_TIMERS:
        for (int n = in.byte(); n > 0; n--) timer(TIMER_PERIOD_MS);
        break;
    case OP_PAINT: deliver(PLAT_WM_PAINT, 0, 0); break;
    case OP_TRAY: {
        static const int32_t events[] = {513, 515, 516, 517, 512, 514};
        uint8_t b = in.byte();
        deliver(TRAY_CALLBACK_MESSAGE, 0, b < 240 ? events[b % 6] : (int32_t)in.u32());
        break;
    }
    case OP_KEY_DOWN: deliver(PLAT_WM_KEYDOWN, op & 64 ? in.byte() : PLAT_VK_DELETE, 1); break;
    case OP_KEY_STATE: {
        uint8_t b = in.byte();
        fake_set_key(KEYS[(b >> 1) % KEY_COUNT], b & 1);
        break;
    }
    case OP_CURSOR: {
        int x = (int)(in.u16() % 700) - 200, y = (int)(in.u16() % 800) - 200;
        const FakeWindow &w = fake_window();
        fake_set_cursor(w.x + x, w.y + y);
        break;
    }
    case OP_CLIPBOARD: read_clipboard(in); break;
    case OP_OTHER: {
        uint32_t message = in.u16();
        uint32_t wparam = in.u32();
        deliver(message, wparam, (int32_t)in.u32());
        break;
    }
    case OP_CLOCK_JUMP: {
        // Past the probe's period, an item's time-out, or anywhere.
        static const uint32_t jumps[] = {6001, 20001, 500, 0x80000000u};
        uint8_t b = in.byte();
        timer(b < 252 ? jumps[b % 3] : jumps[3] + b);
        break;
    }
    }
}

}  // namespace

// ----------------------------------------------------------------- [RUN]

// Setup bytes:
//   0  bits 0-2: downloads described (0..7); bit 3: a long list (the next
//      byte adds to LONG_LIST_BASE, or 255: HUGE_LIST); bit 4: finished
//      downloads shown; bit 5: finished downloads removed; bit 6: online;
//      bit 7: the window hidden at the start
//   1  the long list's extra count
//   2  the engine's limit, downloads at once (mod 10)
// then the clipboard, the downloads' bytes, and the messages.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = initialise();
    (void)ready;
    Input in{data, size, 0};
    const uint8_t flags = in.byte();

    // The program as start-up left it; what the last run held goes first.
    for (int32_t i = 0; i < downloads.item_count; i++) release_item(downloads.items[i]);
    free_table();
    app_state = started;
    fake_set_tick(started_tick);
    fake_text_calls().clear();
    fake_shell_calls().clear();
    fake_show_calls().clear();
    fake_tray_calls().clear();
    for (int key : KEYS) fake_set_key(key, 0);
    fake_set_cursor(0, 0);

    const uint8_t extra = in.byte();
    const uint8_t limit = in.byte();
    app_state.show_finished = (flags >> 4) & 1;
    app_state.auto_remove_finished = (flags >> 5) & 1;
    app_state.online = (flags >> 6) & 1;
    app_state.max_active_edit = limit % 10;
    app_state.max_active = app_state.max_active_edit;
    plat_move_window(app_state.window, WINDOW_LEFT, WINDOW_TOP, WINDOW_WIDTH, WINDOW_HEIGHT);
    const ClipText clip = read_clipboard(in);
    make_list(in, flags, extra, clip);
    rebuild_visible_list();

    if (flags & 128) {
        plat_show_window(app_state.window, PLAT_HIDE);
        app_state.window_shown = 0;
    } else {
        show_main_window(PLAT_SHOW);
    }
    check_state();

    timers_left = TIMERS_MAX;
    while (!in.done()) run_op(in);

    // QUORVAX_FUZZ_SHOW=1 prints where the run ended (for looking at seeds).
    static const bool show = getenv("QUORVAX_FUZZ_SHOW") != nullptr;
    if (show) {
        const AppState &s = app_state;
        printf("items %d visible %d selected %d hovered %d | shown %d menu %d settings %d offer %d note %d | "
               "thumb %d offset %d | online %d notice %d | shell %zu show %zu | max %d | window %d,%d\n",
               downloads.item_count, s.visible_count, downloads.selected_item, s.hovered_item, s.window_shown,
               s.menu_open, s.settings_open, s.offer_pending, s.note_ticks, s.thumb_top, s.list_offset, s.online,
               s.offline_notice, fake_shell_calls().size(), fake_show_calls().size(), s.max_active_edit,
               fake_window().x, fake_window().y);
    }
    return 0;
}
