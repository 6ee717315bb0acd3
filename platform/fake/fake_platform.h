// fake_platform.h - controls of the deterministic test backend.
//
// The clock moves only when a test says so; messages, clipboard, keys,
// cursor and folder-chooser answers (and what happens while the chooser is
// open) are scripted; shell, show-in-folder,
// tray, text and message-box calls are recorded; files and sockets are real
// (POSIX) but the Nth write, connect or receive can be made to fail or come
// up short, and connects can be scripted (pending, refused, made); TLS is a
// scripted stand-in over those sockets.
// Text uses a fixed-width font: every character is FAKE_CHAR_WIDTH pixels
// wide and the font's height high.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

static const int FAKE_CHAR_WIDTH = 6;

// Everything back to its start: empty queue, no quit posted, tick 0, no
// keys, no clipboard, no window, no faults, records cleared.
void fake_reset(void);

// ---- clock
void fake_set_tick(uint32_t tick);
void fake_advance(uint32_t ms);
// When on, the clock runs with the system's from the tick last set (for
// benchmarks that want a step's own clock readings to move as in the
// program); fake_set_tick sets the tick it runs from.
void fake_set_clock_follows_real_time(int on);
// When on, every synthesised WM_TIMER first advances the clock by the period.
void fake_set_timer_advances_clock(int on);

// ---- messages
// Posts a message to the fake's window.
void fake_post(uint32_t message, uint32_t wparam, int32_t lparam);
int fake_queue_length(void);
// After this many messages have been retrieved, plat_get_message returns the
// quit message (0 = never).  Guards loops in tests against running forever.
void fake_quit_after(int messages);

// ---- input
void fake_set_key(int vk, int down);
void fake_set_cursor(int x, int y);
void fake_set_screen(int width, int height);

// ---- clipboard
// Text on the clipboard; null = no text (nothing, or a picture).  A new text
// comes without the secret mark.
void fake_set_clipboard(const char *text);
const char *fake_clipboard(void);          // null when it holds no text
// Marks the text on the clipboard as a password manager's secret: it still
// counts as text, but plat_clipboard_text hands out null.
void fake_set_clipboard_secret(int secret);
void fake_set_clipboard_open_fails(int fails);
// While on, plat_clipboard_text cannot obtain the text and returns null.
void fake_set_clipboard_text_fails(int fails);
int fake_clipboard_empty_count(void);
// Opens tried (failed ones too) and closes, since the last reset.
int fake_clipboard_open_count(void);
int fake_clipboard_close_count(void);

// ---- window
struct FakeWindow {
    bool exists;
    bool shown;
    std::string class_name, title;
    int x, y, width, height;
    std::vector<PlatRect> region;
    PlatCursor cursor;
    std::vector<uint32_t> back_buffer; // from plat_create_back_buffer; empty = none
    int back_width, back_height;
    bool destroyed_with_back_buffer;   // the window went while its buffer lived
    std::vector<uint32_t> presented;   // the back buffer as plat_present last copied it
    int present_count;
    int begin_paint_count, end_paint_count;
    bool activated;                    // shown with PLAT_SHOW at least once (keys go to it)
    int show_count;                    // plat_show_window calls that showed it
};
// Takes the focus away from the window, as another program would.
void fake_deactivate_window(void);
const FakeWindow &fake_window(void);
// 1 while a timer with that id is set on the window; period in ms.
int fake_timer_period(uint32_t id);
void fake_set_window_creation_fails(int fails);

// ---- recorded calls
struct FakeTextCall { int x, y; std::string text; uint32_t colour; plat_font font; };
std::vector<FakeTextCall> &fake_text_calls(void);
struct FakeShellCall { std::string target, params; };
std::vector<FakeShellCall> &fake_shell_calls(void);
struct FakeShowCall { std::string program, prefix, path; };   // plat_show_in_folder
std::vector<FakeShowCall> &fake_show_calls(void);
struct FakeTrayCall { PlatTrayCommand command; std::string tip; uint32_t callback; };
std::vector<FakeTrayCall> &fake_tray_calls(void);
struct FakeMessageBox { std::string text, caption; };
std::vector<FakeMessageBox> &fake_message_boxes(void);
struct FakeFont { std::string face; int height, weight; };
const FakeFont *fake_font(plat_font font);   // null for 0 or unknown

// ---- folder chooser: the next answer (null = cancelled)
void fake_set_folder_answer(const char *path);
// What happens while the chooser is open, before it answers: a real chooser
// runs its own message loop, so during() stands for it and may dispatch
// messages to the window (plat_dispatch_message), press keys or look at
// the program's state.  It runs for an outermost chooser only, never for
// one opened from inside it.  An empty function (the default) runs nothing.
void fake_set_folder_during(std::function<void()> during);
// 1 while a chooser is open.
int fake_folder_chooser_open(void);
int fake_folder_chooser_count(void);
// The start folder the chooser was last opened with ("" for none).
const std::string &fake_folder_chooser_start(void);
// The title it was last opened with.
const std::string &fake_folder_chooser_title(void);

// ---- I/O faults.  An operation counted from now: the nth (1-based) call
// fails; with `always` every call from the nth on fails.
enum FakeFault { FAULT_WRITE, FAULT_SHORT_WRITE, FAULT_OPEN, FAULT_CREATE, FAULT_CONNECT,
                 FAULT_RESOLVE, FAULT_RECV, FAULT_COUNT };
void fake_fail(FakeFault kind, int nth, int always);
void fake_clear_faults(void);
// How many calls of a kind were made since the last reset.
int fake_calls(FakeFault kind);

// ---- scripted connects.  While on, plat_tcp_connect_start reaches no
// network: it hands the program one end of a local socket pair and keeps
// the other end for the test as the server's side (read the request from
// it, write an answer, close it).  The connect stays under way until the
// test settles it by setting result; plat_connect_result answers that.
// FAULT_CONNECT still counts and fails these starts.  A test scripts every
// connect or none (handles of closed sockets come back for new ones).
struct FakeConnect {
    uint32_t address;      // the endpoint asked for, network byte order
    uint16_t port;
    plat_socket socket;    // the program's end
    int peer;              // the test's end, a descriptor; fake_reset closes it
    int result;            // for plat_connect_result: 0 under way (at first), 1, -1
};
void fake_script_connects(int on);
// The scripted connects since the last reset, oldest first.
std::vector<FakeConnect> &fake_connects(void);

// ---- TLS (fake_tls.cpp): a scripted stand-in with no cryptography.  Bytes
// pass through the socket as they are ("identity encryption"), so a test
// reads requests from and writes answers into the peer of a scripted
// connect as with plain sockets.  The script in force when plat_tls_start
// runs shapes that connection: its handshake answers 0 (under way) until
// its handshake_steps-th call, which answers 1, or -1 with failure when
// one is set.  With hold_arrivals, every plat_tls_readable and
// plat_tls_recv first moves all bytes waiting on the socket into the
// connection's held bytes, as a library reading ahead does: the socket is
// then empty whenever the program looks at it, and only the connection's
// own count shows the data.
struct FakeTlsScript {
    int start_fails = 0;           // plat_tls_start answers 0
    int handshake_steps = 1;       // calls until the handshake ends (at least 1)
    int failure = PLAT_TLS_OK;     // how it ends: PLAT_TLS_OK succeeds
    int hold_arrivals = 0;
};
void fake_tls_script(const FakeTlsScript &script);
// A connection the program started, as the fake saw it.
struct FakeTls {
    plat_socket socket;
    std::string host;              // the server name asked for
    int handshake_calls;
    int failure;                   // PLAT_TLS_OK, or what the handshake ended with
    std::string held;              // bytes inside the connection, not on the socket
    bool closed;                   // plat_tls_close was called
};
// The connections since the last reset, oldest first; handle k is entry k - 1.
std::vector<FakeTls> &fake_tls_connections(void);
// Puts bytes inside a connection, as if decrypted but not yet taken: the
// program must find them though its socket is empty.
void fake_tls_hold(plat_tls t, const std::string &bytes);
// Called by the fake itself: back to the start.
void fake_tls_reset(void);

// ---- instances (fake_instance.cpp)
// A listen the program asked for; active until its window is destroyed.
struct FakeInstanceListen { plat_window window; std::string key; uint32_t message; bool active; };
const std::vector<FakeInstanceListen> &fake_instance_listens(void);
// Another start knocks: the active listen's message is posted to its
// window, as the backend does.  0 when nothing listens.
int fake_knock(void);
// Another instance runs and answers under key (null: none does); what
// plat_signal_running_instance was asked, in order.
void fake_set_running_instance(const char *key);
const std::vector<std::string> &fake_instance_signals(void);
// Called by the fake itself: back to the start, and a window gone.
void fake_instance_reset(void);
void fake_instance_window_destroyed(plat_window window);
