// fake_platform.cpp - the deterministic test backend.
//
// One window at most (handle FAKE_WINDOW); messages come from a scripted
// queue, then the quit flag, then a coalesced WM_PAINT, then WM_TIMER for
// the lowest-numbered timer.  Files and sockets are real POSIX operations,
// each of which can be made to fail on purpose.
#include "platform/fake/fake_platform.h"

#include <unistd.h>

#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "platform/posix/posix_io.h"

namespace {

// The handle of the fake's one window.
const plat_window FAKE_WINDOW = 1;
// The largest side of a back buffer (the program asks for its window's size).
const int BACK_BUFFER_SIDE_MAX = 16384;

struct Fake {
    uint32_t tick = 0;
    bool timer_advances_clock = false;
    bool real_clock = false;     // plat_tick follows the system's clock from tick
    uint32_t real_clock_base = 0;
    std::deque<PlatMessage> queue;
    bool quit_posted = false;
    int quit_code = 0;
    int quit_after = 0;
    int retrieved = 0;
    bool paint_pending = false;
    std::map<uint32_t, uint32_t> timers;   // id -> period
    std::map<int, bool> keys;
    int cursor_x = 0, cursor_y = 0;
    int screen_w = 1024, screen_h = 768;
    bool clip_has = false;
    bool clip_secret = false;
    std::string clip;
    std::string clip_held;
    bool clip_open = false;
    bool clip_open_fails = false;
    bool clip_text_fails = false;
    int clip_empty_count = 0;
    int clip_open_count = 0;
    int clip_close_count = 0;
    std::string class_name;
    PlatWindowProc proc = nullptr;
    PlatCursor class_cursor = PLAT_CURSOR_ARROW;
    FakeWindow window{};
    bool window_creation_fails = false;
    std::vector<FakeTextCall> text_calls;
    std::vector<FakeShellCall> shell_calls;
    std::vector<FakeShowCall> show_calls;
    std::vector<FakeTrayCall> tray_calls;
    std::vector<FakeMessageBox> boxes;
    std::vector<FakeFont> fonts;
    bool folder_answer_set = false;
    std::string folder_answer;
    int folder_count = 0;
    std::string folder_start;
    std::string folder_title;
    std::function<void()> folder_during;
    int folder_open = 0;
    int fault_nth[FAULT_COUNT] = {};
    bool fault_always[FAULT_COUNT] = {};
    int fault_calls[FAULT_COUNT] = {};
    bool script_connects = false;
    std::vector<FakeConnect> connects;
};

Fake &fake() {
    static Fake f;
    return f;
}

// Counts a call of the kind and says whether it is to fail.
bool injected(FakeFault kind) {
    Fake &f = fake();
    int n = ++f.fault_calls[kind];
    if (f.fault_nth[kind] == 0) return false;
    return f.fault_always[kind] ? n >= f.fault_nth[kind] : n == f.fault_nth[kind];
}

}  // namespace

// ------------------------------------------------------------- controls

void fake_reset(void) {
    for (const FakeConnect &c : fake().connects)
        if (c.peer >= 0) close(c.peer);
    fake() = Fake();
    fake_instance_reset();
    fake_tls_reset();
}
void fake_set_tick(uint32_t tick) {
    fake().tick = tick;
    fake().real_clock_base = posix_tick();
}
void fake_advance(uint32_t ms) { fake().tick += ms; }
void fake_set_clock_follows_real_time(int on) {
    fake().real_clock = on != 0;
    fake().real_clock_base = posix_tick();
}
void fake_set_timer_advances_clock(int on) { fake().timer_advances_clock = on != 0; }
void fake_post(uint32_t message, uint32_t wparam, int32_t lparam) {
    fake().queue.push_back(PlatMessage{FAKE_WINDOW, message, wparam, lparam});
}
int fake_queue_length(void) { return (int)fake().queue.size(); }
void fake_quit_after(int messages) { fake().quit_after = messages; fake().retrieved = 0; }
void fake_set_key(int vk, int down) { fake().keys[vk] = down != 0; }
void fake_set_cursor(int x, int y) { fake().cursor_x = x; fake().cursor_y = y; }
void fake_set_screen(int width, int height) { fake().screen_w = width; fake().screen_h = height; }
void fake_set_clipboard(const char *text) {
    fake().clip_has = text != nullptr;
    fake().clip = text ? text : "";
    fake().clip_secret = false;
}
const char *fake_clipboard(void) { return fake().clip_has ? fake().clip.c_str() : nullptr; }
void fake_set_clipboard_secret(int secret) { fake().clip_secret = secret != 0; }
void fake_set_clipboard_open_fails(int fails) { fake().clip_open_fails = fails != 0; }
void fake_set_clipboard_text_fails(int fails) { fake().clip_text_fails = fails != 0; }
int fake_clipboard_empty_count(void) { return fake().clip_empty_count; }
int fake_clipboard_open_count(void) { return fake().clip_open_count; }
int fake_clipboard_close_count(void) { return fake().clip_close_count; }
const FakeWindow &fake_window(void) { return fake().window; }
int fake_timer_period(uint32_t id) {
    auto it = fake().timers.find(id);
    return it == fake().timers.end() ? 0 : (int)it->second;
}
void fake_set_window_creation_fails(int fails) { fake().window_creation_fails = fails != 0; }
std::vector<FakeTextCall> &fake_text_calls(void) { return fake().text_calls; }
std::vector<FakeShellCall> &fake_shell_calls(void) { return fake().shell_calls; }
std::vector<FakeShowCall> &fake_show_calls(void) { return fake().show_calls; }
std::vector<FakeTrayCall> &fake_tray_calls(void) { return fake().tray_calls; }
std::vector<FakeMessageBox> &fake_message_boxes(void) { return fake().boxes; }
const FakeFont *fake_font(plat_font font) {
    if (font == 0 || font > fake().fonts.size()) return nullptr;
    return &fake().fonts[font - 1];
}
void fake_set_folder_answer(const char *path) {
    fake().folder_answer_set = path != nullptr;
    fake().folder_answer = path ? path : "";
}
void fake_set_folder_during(std::function<void()> during) { fake().folder_during = std::move(during); }
int fake_folder_chooser_open(void) { return fake().folder_open > 0; }
int fake_folder_chooser_count(void) { return fake().folder_count; }
const std::string &fake_folder_chooser_start(void) { return fake().folder_start; }
const std::string &fake_folder_chooser_title(void) { return fake().folder_title; }
void fake_fail(FakeFault kind, int nth, int always) {
    fake().fault_nth[kind] = nth;
    fake().fault_always[kind] = always != 0;
    fake().fault_calls[kind] = 0;
}
void fake_clear_faults(void) {
    for (int k = 0; k < FAULT_COUNT; k++) {
        fake().fault_nth[k] = 0;
        fake().fault_always[k] = false;
    }
}
int fake_calls(FakeFault kind) { return fake().fault_calls[kind]; }

// ------------------------------------------------------------- messages

int plat_get_message(PlatMessage *msg) {
    Fake &f = fake();
    if (f.quit_after > 0 && f.retrieved >= f.quit_after) f.quit_posted = true;
    f.retrieved++;
    if (!f.queue.empty()) {
        *msg = f.queue.front();
        f.queue.pop_front();
        if (msg->message == PLAT_WM_QUIT) return 0;
        return 1;
    }
    if (f.quit_posted) {
        f.quit_posted = false;
        *msg = PlatMessage{0, PLAT_WM_QUIT, (uint32_t)f.quit_code, 0};
        return 0;
    }
    // The paint comes back until plat_begin_paint validates it, and waits
    // while the window is hidden.
    if (f.paint_pending && f.window.exists && f.window.shown) {
        *msg = PlatMessage{FAKE_WINDOW, PLAT_WM_PAINT, 0, 0};
        return 1;
    }
    if (!f.timers.empty() && f.window.exists) {
        auto it = f.timers.begin();
        if (f.timer_advances_clock) f.tick += it->second;
        *msg = PlatMessage{FAKE_WINDOW, PLAT_WM_TIMER, it->first, 0};
        return 1;
    }
    // Nothing could ever arrive: end the loop rather than hang a test.
    *msg = PlatMessage{0, PLAT_WM_QUIT, 0, 0};
    return 0;
}

// The message goes to the window it names; one for no window, or for a
// window that is gone, reaches no procedure.
void plat_dispatch_message(const PlatMessage *msg) {
    Fake &f = fake();
    if (!msg || msg->message == PLAT_WM_QUIT) return;
    if (f.proc && f.window.exists && msg->window == FAKE_WINDOW)
        f.proc(msg->window, msg->message, msg->wparam, msg->lparam);
}

// As PostQuitMessage: a flag, not a queue entry.  plat_get_message returns
// the quit message once the queue is empty (ahead of paint and timer), once.
void plat_post_quit(int exit_code) {
    fake().quit_posted = true;
    fake().quit_code = exit_code;
}

void plat_post_message(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    fake().queue.push_back(PlatMessage{window, message, wparam, lparam});
}

int32_t plat_default_window_proc(plat_window, uint32_t, uint32_t, int32_t) { return 0; }
void plat_quit_on_termination(void) {}

// --------------------------------------------------------------- window

int plat_init(void) { return 1; }
void plat_finish(void) {}

int plat_register_class(const char *class_name, PlatWindowProc proc, PlatCursor cursor, plat_icon) {
    Fake &f = fake();
    if (!class_name || !proc) return 0;
    f.class_name = class_name;
    f.proc = proc;
    f.class_cursor = cursor;
    return 1;
}

plat_window plat_create_window(const char *class_name, const char *title, int x, int y,
                               int width, int height) {
    Fake &f = fake();
    if (f.window_creation_fails || f.class_name != class_name) return 0;
    f.window = FakeWindow{};
    f.window.exists = true;
    f.window.class_name = class_name;
    f.window.title = title;
    f.window.x = x;
    f.window.y = y;
    f.window.width = width;
    f.window.height = height;
    f.window.cursor = f.class_cursor;
    return FAKE_WINDOW;
}

// As DestroyWindow does, WM_DESTROY reaches the procedure whether the
// window was ever shown or not.
void plat_destroy_window(plat_window window) {
    Fake &f = fake();
    if (window != FAKE_WINDOW || !f.window.exists) return;
    if (f.proc) f.proc(window, PLAT_WM_DESTROY, 0, 0);
    fake_instance_window_destroyed(window);
    FakeWindow &w = f.window;
    w.destroyed_with_back_buffer = !w.back_buffer.empty();
    w.exists = false;
    w.shown = false;
    f.paint_pending = false;
}

void fake_deactivate_window(void) { fake().window.activated = false; }

void plat_show_window(plat_window, int show) {
    FakeWindow &w = fake().window;
    w.shown = show != PLAT_HIDE;
    if (show == PLAT_SHOW) w.activated = true;
    if (show != PLAT_HIDE) w.show_count++;
}

void plat_move_window(plat_window, int x, int y, int width, int height) {
    FakeWindow &w = fake().window;
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
}

int plat_window_rect(plat_window, PlatRect *rect) {
    const FakeWindow &w = fake().window;
    if (!w.exists) return 0;
    *rect = PlatRect{w.x, w.y, w.x + w.width, w.y + w.height};
    return 1;
}

void plat_screen_size(int *width, int *height) {
    *width = fake().screen_w;
    *height = fake().screen_h;
}

int plat_set_window_region(plat_window, const PlatRect *rects, int count) {
    if (count < 0) return 0;
    fake().window.region.assign(rects, rects + count);
    return 1;
}

int plat_set_timer(plat_window, uint32_t id, uint32_t period_ms) {
    fake().timers[id] = period_ms;
    return 1;
}

void plat_kill_timer(plat_window, uint32_t id) { fake().timers.erase(id); }
void plat_invalidate(plat_window) { fake().paint_pending = true; }

void plat_begin_paint(plat_window window) {
    Fake &f = fake();
    if (window != FAKE_WINDOW || !f.window.exists) return;
    f.paint_pending = false;
    f.window.begin_paint_count++;
}

void plat_end_paint(plat_window window) {
    Fake &f = fake();
    if (window == FAKE_WINDOW && f.window.exists) f.window.end_paint_count++;
}

uint32_t *plat_create_back_buffer(plat_window window, int width, int height) {
    FakeWindow &w = fake().window;
    if (window != FAKE_WINDOW || !w.exists || width <= 0 || height <= 0 ||
        width > BACK_BUFFER_SIDE_MAX || height > BACK_BUFFER_SIDE_MAX)
        return nullptr;
    w.back_buffer.assign((size_t)width * (size_t)height, 0u);
    w.back_width = width;
    w.back_height = height;
    return w.back_buffer.data();
}

void plat_delete_back_buffer(plat_window window) {
    FakeWindow &w = fake().window;
    if (window != FAKE_WINDOW) return;
    w.back_buffer.clear();
    w.back_buffer.shrink_to_fit();
    w.back_width = w.back_height = 0;
}

void plat_present(plat_window window) {
    FakeWindow &w = fake().window;
    if (window != FAKE_WINDOW || !w.exists || w.back_buffer.empty()) return;
    w.presented = w.back_buffer;
    w.present_count++;
}

void plat_set_class_cursor(plat_window, PlatCursor cursor) {
    fake().class_cursor = cursor;
    fake().window.cursor = cursor;
}

plat_icon plat_create_icon(const uint32_t *pixels, int width, int height) {
    return pixels && width > 0 && height > 0 ? 1 : 0;
}

void plat_message_box(const char *text, const char *caption) {
    fake().boxes.push_back(FakeMessageBox{text, caption});
}

// ---------------------------------------------------------------- input

void plat_cursor_pos(int *x, int *y) {
    *x = fake().cursor_x;
    *y = fake().cursor_y;
}

int plat_key_down(int vk) {
    auto it = fake().keys.find(vk);
    return it != fake().keys.end() && it->second;
}

// ------------------------------------------------------------ clipboard

// As on Windows, the text and the emptying need the clipboard open, and
// the text handed out is the backend's only until the close.
int plat_clipboard_has_text(void) { return fake().clip_has; }
int plat_clipboard_open(plat_window) {
    Fake &f = fake();
    f.clip_open_count++;
    f.clip_open = !f.clip_open_fails;
    return f.clip_open;
}
const char *plat_clipboard_text(void) {
    Fake &f = fake();
    if (!f.clip_open || !f.clip_has || f.clip_secret || f.clip_text_fails) return nullptr;
    f.clip_held = f.clip;
    return f.clip_held.c_str();
}
void plat_clipboard_empty(void) {
    Fake &f = fake();
    if (!f.clip_open) return;
    f.clip_has = false;
    f.clip_secret = false;
    f.clip.clear();
    f.clip_empty_count++;
}
// The held text is overwritten rather than freed, so that a program still
// reading it after the close finds other characters, not the clipboard's.
void plat_clipboard_close(void) {
    Fake &f = fake();
    f.clip_close_count++;
    f.clip_open = false;
    for (char &c : f.clip_held) c = '#';
}

// ---------------------------------------------------------------- shell

void plat_shell_open(const char *target, const char *params) {
    fake().shell_calls.push_back(FakeShellCall{target ? target : "", params ? params : ""});
}

void plat_show_in_folder(const char *program, const char *param_prefix, const char *path) {
    fake().show_calls.push_back(
        FakeShowCall{program ? program : "", param_prefix ? param_prefix : "", path ? path : ""});
}

int plat_choose_folder(plat_window, const char *title, const char *start_folder, char *out, int cap) {
    Fake &f = fake();
    f.folder_count++;
    f.folder_start = start_folder ? start_folder : "";
    f.folder_title = title ? title : "";
    // The chooser's own loop, while it is open.  The function is copied: it
    // may set another one for a later chooser.
    const bool outermost = f.folder_open == 0;
    f.folder_open++;
    if (outermost && f.folder_during) {
        std::function<void()> during = f.folder_during;
        during();
    }
    f.folder_open--;
    if (!f.folder_answer_set || cap <= 0) return 0;
    // As the contract says: a path that does not fit is refused, not cut.
    size_t n = f.folder_answer.size();
    if (n > (size_t)cap - 1) return 0;
    memcpy(out, f.folder_answer.data(), n + 1);
    return 1;
}

// ----------------------------------------------------------------- tray

int plat_tray(PlatTrayCommand command, plat_window, plat_icon, const char *tip, uint32_t callback) {
    fake().tray_calls.push_back(FakeTrayCall{command, tip ? tip : "", callback});
    return 1;
}

// ---------------------------------------------------------------- clock

uint32_t plat_tick(void) {
    Fake &f = fake();
    return f.real_clock ? f.tick + (posix_tick() - f.real_clock_base) : f.tick;
}

// ---------------------------------------------------------------- files

plat_file plat_open_existing_rw(const char *path) {
    if (injected(FAULT_OPEN)) return PLAT_INVALID_FILE;
    return posix_open_existing_rw(path);
}
plat_file plat_create_new_rw(const char *path) {
    if (injected(FAULT_CREATE)) return PLAT_INVALID_FILE;
    return posix_create_new_rw(path);
}
uint32_t plat_write(plat_file file, const void *buffer, uint32_t count) {
    if (injected(FAULT_WRITE)) return 0;
    // A short write stores half of what was asked, as a full disk might.
    if (injected(FAULT_SHORT_WRITE)) return posix_write(file, buffer, count / 2);
    return posix_write(file, buffer, count);
}
// Counted and failed as one kind with plat_write: the nth write is the nth
// of either.
uint32_t plat_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count) {
    if (injected(FAULT_WRITE)) return 0;
    if (injected(FAULT_SHORT_WRITE)) return posix_write_at(file, offset, buffer, count / 2);
    return posix_write_at(file, offset, buffer, count);
}

// -------------------------------------------------------------- sockets

int plat_net_start(void) { return 1; }
int plat_resolve(const char *host, uint32_t *address, int timeout_ms) {
    if (injected(FAULT_RESOLVE)) return 0;
    return posix_resolve(host, address, timeout_ms);
}
plat_socket plat_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected) {
    if (injected(FAULT_CONNECT)) {
        *connected = 0;
        return 0;
    }
    return posix_tcp_connect(address, port, timeout_ms, connected);
}
plat_socket plat_tcp_connect_start(uint32_t address, uint16_t port) {
    if (injected(FAULT_CONNECT)) return 0;
    Fake &f = fake();
    if (!f.script_connects) return posix_tcp_connect_start(address, port);
    int peer = -1;
    plat_socket s = posix_socket_pair(&peer);
    if (s) f.connects.push_back(FakeConnect{address, port, s, peer, 0});
    return s;
}
int plat_connect_result(plat_socket s) {
    std::vector<FakeConnect> &connects = fake().connects;
    for (size_t k = connects.size(); k-- > 0;)
        if (connects[k].socket == s) return connects[k].result;
    return posix_connect_result(s);
}
void fake_script_connects(int on) { fake().script_connects = on != 0; }
std::vector<FakeConnect> &fake_connects(void) { return fake().connects; }
int plat_recv(plat_socket s, void *buffer, int length) {
    if (injected(FAULT_RECV)) return -1;
    return posix_recv(s, buffer, length);
}

// ----------------------------------------------------------------- text

plat_font plat_create_font(const char *face, int height, int weight) {
    fake().fonts.push_back(FakeFont{face ? face : "", height, weight});
    return (plat_font)fake().fonts.size();
}

void plat_delete_font(plat_font) {}

// Fixed-width text: records the call and marks each character cell's top
// left pixel with the colour, so tests can also see it in the picture.
int plat_draw_text(uint32_t *pixels, int width, int height, plat_font font, int x, int y,
                   const char *text, int length, uint32_t colour, const PlatRect *clip) {
    if (!text || length < 0) return 0;
    fake().text_calls.push_back(FakeTextCall{x, y, std::string(text, (size_t)length), colour, font});
    for (int i = 0; i < length; i++) {
        int px = x + i * FAKE_CHAR_WIDTH;
        if (clip && (px < clip->left || px >= clip->right || y < clip->top || y >= clip->bottom))
            continue;
        if (pixels && px >= 0 && px < width && y >= 0 && y < height)
            pixels[(size_t)y * (size_t)width + (size_t)px] = colour;
    }
    return length * FAKE_CHAR_WIDTH;
}

void plat_measure_text(plat_font font, const char *text, int length, int *width, int *height) {
    const FakeFont *f = fake_font(font);
    *width = length > 0 ? length * FAKE_CHAR_WIDTH : 0;
    *height = f ? f->height : 12;
}
