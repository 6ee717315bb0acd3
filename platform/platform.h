// platform.h - the one seam between Quorvax and the operating system.
//
// Everything the program needs from the system is stated here, one line of
// contract per operation, shaped after the Windows call it stands for so that
// the Win32 backend maps each operation onto one call.  Backends:
//   platform/qt/     Linux desktops (Qt 6 for window, input, clipboard, tray,
//                    text; POSIX for files and sockets)
//   platform/win32/  32-bit Windows
//   platform/fake/   tests: scripted messages, clock, clipboard and keys,
//                    recorded shell/tray/text calls, injectable I/O faults
// Exactly one backend is linked into a program.  Nothing outside platform/
// includes a system header for windows, files or sockets.
//
// Text at the seam is UTF-8 (paths, titles, captions, clipboard, tip, text
// drawn); each backend converts where its system wants another encoding.
//
// Sections: [TYPES] [MESSAGES] [WINDOW] [INPUT] [CLIPBOARD] [SHELL] [TRAY]
//           [CLOCK] [FILES] [SOCKETS] [TLS] [INSTANCE] [TEXT]
#pragma once

#include <cstdint>

// ---------------------------------------------------------------- [TYPES]

// Handles are 32-bit on every system: the download record of the list file
// stores them.
typedef uint32_t plat_window;   // 0 = no window
typedef uint32_t plat_file;     // PLAT_INVALID_FILE = none; never 0 when valid
typedef uint32_t plat_socket;   // 0 = none
typedef uint32_t plat_font;     // 0 = none (the backend's default face is used)
typedef uint32_t plat_icon;     // 0 = none

static const plat_file PLAT_INVALID_FILE = 0xFFFFFFFFu;

struct PlatRect {
    int32_t left, top, right, bottom;   // right and bottom excluded
};

// A message as the Windows queue carries it (MSG: hwnd, message, wParam,
// lParam).  window is 0 for a message to no window, such as the quit message.
struct PlatMessage {
    plat_window window;
    uint32_t message;
    uint32_t wparam;
    int32_t lparam;
};

// The window procedure: returns the result of a handled message, or that of
// plat_default_window_proc for the rest.
typedef int32_t (*PlatWindowProc)(plat_window window, uint32_t message,
                                  uint32_t wparam, int32_t lparam);

// ------------------------------------------------------------- [MESSAGES]
// Codes and parameter encodings are those of Windows.
enum : uint32_t {
    PLAT_WM_DESTROY = 0x0002,
    PLAT_WM_PAINT = 0x000F,
    PLAT_WM_QUIT = 0x0012,
    PLAT_WM_KEYDOWN = 0x0100,
    PLAT_WM_KEYUP = 0x0101,
    PLAT_WM_TIMER = 0x0113,
    PLAT_WM_MOUSEMOVE = 0x0200,
    PLAT_WM_LBUTTONDOWN = 0x0201,
    PLAT_WM_LBUTTONUP = 0x0202,
    PLAT_WM_LBUTTONDBLCLK = 0x0203,
    PLAT_WM_RBUTTONDOWN = 0x0204,
    PLAT_WM_RBUTTONUP = 0x0205,
    PLAT_WM_MOUSEWHEEL = 0x020A,
};
// Mouse messages: lparam = x | (y << 16), client coordinates.
// wparam key flags: left 0x0001, right 0x0002, shift 0x0004, control 0x0008,
// middle 0x0010.  WM_MOUSEWHEEL: signed delta (120 per notch, positive away
// from the user) in the high word of wparam, key flags in the low word,
// lparam in screen coordinates.  WM_KEYDOWN/UP: wparam = virtual-key code.
// WM_TIMER: wparam = timer id.  The tray callback: wparam = 0, lparam = the
// mouse message that happened on the icon (513 left press, 515 double).

enum : int {
    PLAT_VK_LBUTTON = 1,
    PLAT_VK_BACK = 8,
    PLAT_VK_RETURN = 13,
    PLAT_VK_SPACE = 32,
    PLAT_VK_DELETE = 46,
};

// Retrieves the next message for the thread, blocking until there is one.
// Posted and input messages come first, then the quit message, then WM_PAINT
// (again and again until plat_begin_paint validates it), then WM_TIMER (at
// most one pending per timer; a slow consumer delays ticks, never piles them
// up).
// Returns 0 for the quit message (msg->wparam then holds the exit code).
// msg->window names the window the message is for.
int plat_get_message(PlatMessage *msg);
// Translates and hands a message to the procedure of msg->window (nothing
// happens for window 0, a destroyed window or the quit message).
void plat_dispatch_message(const PlatMessage *msg);
// Posts the quit message with an exit code: a flag, as PostQuitMessage sets,
// that plat_get_message returns once the queue holds nothing else.
void plat_post_quit(int exit_code);
// Posts a message to the window's queue (used for signals and the tray).
void plat_post_message(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam);
// The system's default handling of a message the window procedure ignores.
int32_t plat_default_window_proc(plat_window window, uint32_t message,
                                 uint32_t wparam, int32_t lparam);
// SIGTERM and SIGINT (or the session ending) post the quit message.
void plat_quit_on_termination(void);

// --------------------------------------------------------------- [WINDOW]

enum PlatCursor { PLAT_CURSOR_ARROW = 32512, PLAT_CURSOR_HAND = 32649 };

// Starts the windowing system; 0 when no display can be had.
int plat_init(void);
// Releases what plat_init took.
void plat_finish(void);
// Registers the window class: name, window procedure, double-click messages,
// class cursor and icon.  Returns 1 on success.
int plat_register_class(const char *class_name, PlatWindowProc proc,
                        PlatCursor cursor, plat_icon icon);
// Creates a hidden borderless, always-on-top tool window of the class.
plat_window plat_create_window(const char *class_name, const char *title,
                               int x, int y, int width, int height);
// Destroys the window; WM_DESTROY reaches its procedure, shown or not.
void plat_destroy_window(plat_window window);
// How plat_show_window shows a window (ShowWindow's SW_HIDE, SW_SHOW and
// SW_SHOWNOACTIVATE).
enum PlatShow {
    PLAT_HIDE = 0,
    PLAT_SHOW = 1,              // shows, raises and activates it (keys go to it)
    PLAT_SHOW_NO_ACTIVATE = 2,  // shows and raises it; the focus stays where it is
};
// Shows or hides the window (show: a PlatShow).
void plat_show_window(plat_window window, int show);
// Moves and sizes the window (screen coordinates), repainting it where
// needed: a pure move keeps the picture as it is.
void plat_move_window(plat_window window, int x, int y, int width, int height);
// The window's rectangle in screen coordinates; 1 on success.  The window
// has no frame, so this is its client area too: the cursor position less
// the top-left corner is the client point.
int plat_window_rect(plat_window window, PlatRect *rect);
// Screen size in pixels.
void plat_screen_size(int *width, int *height);
// Cuts the window's shape to the union of the rectangles (client coords);
// outside it nothing is drawn and no pointer input arrives.  1 on success.
int plat_set_window_region(plat_window window, const PlatRect *rects, int count);
// Starts (or restarts) a window timer delivering WM_TIMER with wparam = id.
int plat_set_timer(plat_window window, uint32_t id, uint32_t period_ms);
// Stops a window timer.
void plat_kill_timer(plat_window window, uint32_t id);
// Asks for a WM_PAINT (coalesced).  A hidden window gets none: the request
// waits until it shows.
void plat_invalidate(plat_window window);
// Begins painting the window in answer to WM_PAINT and validates its
// pending paint (BeginPaint).  A WM_PAINT handler calls it whether it draws
// or not: an unvalidated paint comes straight back and starves the timer.
void plat_begin_paint(plat_window window);
// Ends the painting plat_begin_paint began (EndPaint).
void plat_end_paint(plat_window window);
// Makes the window's back buffer and returns its pixels, or null on failure:
// a width x height 32-bit top-down picture, pixels 0x00RRGGBB (blue lowest
// byte), all 0, that the program draws into (on Windows a DIB section, so
// that the system's text can be drawn into it too).  The backend owns it; a
// second call replaces it.
uint32_t *plat_create_back_buffer(plat_window window, int width, int height);
// Releases the window's back buffer (before the window is destroyed).
void plat_delete_back_buffer(plat_window window);
// Copies the window's back buffer to its client area at once.
void plat_present(plat_window window);
// Replaces the class cursor; it shows at the next pointer movement.
void plat_set_class_cursor(plat_window window, PlatCursor cursor);
// Makes an icon from a 32-bit top-down picture (alpha in the top byte).
plat_icon plat_create_icon(const uint32_t *pixels, int width, int height);
// Modal message box with the error icon; returns when the user closes it.
void plat_message_box(const char *text, const char *caption);

// ---------------------------------------------------------------- [INPUT]

// Cursor position in screen coordinates.
void plat_cursor_pos(int *x, int *y);
// 1 while the key (virtual-key code) is down, whatever window has the focus
// where the system allows; else as seen by our window.  PLAT_VK_LBUTTON at
// least holds from a press on our window until the release, wherever the
// pointer goes meanwhile.
int plat_key_down(int vk);

// ------------------------------------------------------------ [CLIPBOARD]

// 1 when the clipboard holds text.
int plat_clipboard_has_text(void);
// Opens the clipboard for the window; 1 on success.  Close it either way.
int plat_clipboard_open(plat_window window);
// The clipboard text as 8-bit (UTF-8) NUL-terminated bytes, valid until
// plat_clipboard_close; null when it cannot be obtained or when it is marked
// secret (a password manager's copy, which the program never reads).
const char *plat_clipboard_text(void);
// Empties the clipboard (the clipboard must be open).
void plat_clipboard_empty(void);
// Closes the clipboard.
void plat_clipboard_close(void);

// ---------------------------------------------------------------- [SHELL]

// Opens a file, folder or web address with the desktop's default handler, or
// runs a program with parameters (params may be null).  Nothing goes
// through a command interpreter: a file is handed over as one argument, and
// a program with parameters is run only when target is its absolute path
// (params is then its one argument).  Callers hand over absolute paths and
// addresses they have checked.
void plat_shell_open(const char *target, const char *params);
// Shows the file at path selected in the desktop's file manager.  program
// and param_prefix are the program's own texts for systems whose file
// manager is run as a program with an option: there the backend runs
// program with param_prefix, the absolute path and, when the prefix opens a
// quote, the closing quote (explorer.exe /select,"<path>").  A backend whose
// desktop has another way may ignore them.
void plat_show_in_folder(const char *program, const char *param_prefix, const char *path);
// Modal folder chooser with a title, opened at start_folder when that names
// an existing folder (else at the user's home folder); writes the chosen
// path (at most cap - 1 bytes and a NUL) and returns 1, or returns 0 when
// cancelled or when the path does not fit.  The window's timer keeps being
// dispatched to the window procedure meanwhile.
int plat_choose_folder(plat_window owner, const char *title, const char *start_folder,
                       char *out, int cap);

// ----------------------------------------------------------------- [TRAY]

enum PlatTrayCommand { PLAT_TRAY_ADD = 0, PLAT_TRAY_MODIFY = 1, PLAT_TRAY_DELETE = 2 };
// Adds, modifies or deletes the notification-area icon of the window; the
// tip is at most 63 characters; clicks arrive as callback_message.  Returns
// 1 on success (0 also where the desktop has no notification area).
int plat_tray(PlatTrayCommand command, plat_window window, plat_icon icon,
              const char *tip, uint32_t callback_message);

// ---------------------------------------------------------------- [CLOCK]

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32.
uint32_t plat_tick(void);

// ---------------------------------------------------------------- [FILES]
// Paths are 8-bit (UTF-8) text.  Read/write opens share reads only: while a
// file is held open for writing, any other open for writing (this process
// or another) fails.

// Opens an existing file for reading and writing; PLAT_INVALID_FILE if it is
// missing or held by another writer.
plat_file plat_open_existing_rw(const char *path);
// Creates a new file for reading and writing; fails if it already exists.
plat_file plat_create_new_rw(const char *path);
// Opens an existing file for reading only (sharing everything).
plat_file plat_open_read(const char *path);
// 1 when a file (not a folder) exists at path.
int plat_file_exists(const char *path);
// Reads up to count bytes at the current position; returns the bytes read,
// 0 at the end or on error.
uint32_t plat_read(plat_file file, void *buffer, uint32_t count);
// Writes count bytes at the current position; returns the bytes written
// (fewer on error or a full disk).
uint32_t plat_write(plat_file file, const void *buffer, uint32_t count);
// Writes count bytes at offset bytes from the start in one operation (a
// seek and a write in one); returns the bytes written (fewer on error or a
// full disk).  Where the position is afterwards is up to the backend: a
// caller that goes on with plat_read or plat_write seeks first.
uint32_t plat_write_at(plat_file file, int64_t offset, const void *buffer, uint32_t count);
// Sets the position to offset bytes from the start; 1 on success.
int plat_seek(plat_file file, int64_t offset);
// File length in bytes, -1 on error.
int64_t plat_file_size(plat_file file);
// Cuts or extends the file to length bytes; 1 on success.
int plat_truncate(plat_file file, int64_t length);
// Forces written data to the disk; 1 on success.
int plat_flush(plat_file file);
// Closes the file.
void plat_close(plat_file file);
// Creates one folder (its parent must exist); 1 on success.
int plat_create_directory(const char *path);
// 1 when a folder exists at path.
int plat_directory_exists(const char *path);
// The path separator character of file names.
char plat_path_separator(void);
// The absolute form of path, a relative one taken from the working folder
// (GetFullPathName): "." segments and doubled separators are dropped, ".."
// is kept as written (Windows resolves it, as it does in every path it
// opens, so the result names the same file there).  Writes it (at most cap - 1 bytes and a NUL) and
// returns 1; 0 (out empty) when it does not fit or the working folder cannot
// be had.
int plat_full_path(const char *path, char *out, int cap);

// -------------------------------------------------------------- [SOCKETS]
// Addresses are IPv4 in network byte order; ports in host order.  Sending
// never raises SIGPIPE.

// Starts the socket library (WSAStartup 2.2); 1 on success.
int plat_net_start(void);
// Shuts the socket library down.
void plat_net_stop(void);
// Looks a host name (or dotted address) up; 1 and the first IPv4 address,
// or 0 when nothing is found within timeout_ms (a hanging name server must
// not hold the window longer).
int plat_resolve(const char *host, uint32_t *address, int timeout_ms);
// Creates a TCP socket and connects it, giving up after timeout_ms; returns
// the socket, or 0 when no socket could be created.  *connected is set to 1
// when the connection was made (the socket is returned either way so that
// the caller may keep the Windows behaviour of using it regardless).
plat_socket plat_tcp_connect(uint32_t address, uint16_t port, int timeout_ms, int *connected);
// Creates a TCP socket and starts connecting it without waiting for the
// handshake; returns the socket, or 0 when no socket could be created.  The
// connect goes on by itself (it may also have ended already): ask
// plat_connect_result how it stands, and send nothing before it says 1.
// On Windows: a socket put in non-blocking mode (FIONBIO) before connect,
// whose WSAEWOULDBLOCK means "under way".
plat_socket plat_tcp_connect_start(uint32_t address, uint16_t port);
// How the connect of a socket from plat_tcp_connect_start stands, without
// waiting: 1 connected, 0 still under way, -1 failed (refused, unreachable,
// reset).  Once it has answered 1 or -1 the socket is back in the ordinary
// blocking mode of plat_tcp_connect's sockets, and the caller need not ask
// again.  A connect under way is never given up here: the caller keeps its
// own deadline and closes the socket.  On Windows: select with a zero
// time-out (the write set: connected; the except set: failed), or WSAPoll
// (POLLOUT: connected; POLLERR or POLLHUP: failed).
int plat_connect_result(plat_socket s);
// Sends the bytes in one call; returns the bytes sent or -1.
int plat_send(plat_socket s, const void *data, int length);
// Bytes readable without blocking (FIONREAD); 0 when none, on a closed
// connection and on error.
uint32_t plat_readable(plat_socket s);
// Waits up to timeout_ms for the socket to become readable (data or close);
// 1 when readable.  A timeout_ms of 0 only looks, without waiting.
int plat_wait_readable(plat_socket s, int timeout_ms);
// Receives up to length bytes; returns the count, 0 on close, -1 on error.
int plat_recv(plat_socket s, void *buffer, int length);
// Closes the socket.
void plat_close_socket(plat_socket s);

// ------------------------------------------------------------------ [TLS]
// TLS client connections on connected sockets, for https pages and streams,
// in the polled style of the sockets: nothing here waits for the peer (but
// plat_tls_send, for room to send).  The server's certificate is checked
// against the system's trust store and the host name, with no way to turn
// the checks off; TLS 1.2 at least.  A connection holds the records it has
// decrypted in a buffer of its own, so "readable" asks the connection, not
// the socket: the socket may be empty while the connection holds data.

typedef uint32_t plat_tls;      // 0 = none

// Why a connection failed; plat_tls_failure gives the text in quotes.
enum PlatTlsFailure {
    PLAT_TLS_OK = 0,            // "" - no failure
    PLAT_TLS_UNTRUSTED = 1,     // "untrusted" - no chain to a trusted root
    PLAT_TLS_EXPIRED = 2,       // "expired" - a certificate outside its dates
    PLAT_TLS_WRONG_NAME = 3,    // "wrong name" - not issued for the host
    PLAT_TLS_PROTOCOL = 4,      // "protocol" - no acceptable TLS from the peer
    PLAT_TLS_CLOSED = 5,        // "closed" - the connection ended or broke
    PLAT_TLS_OTHER = 6,         // "other"
};
// plat_tls_recv's answer when no decrypted byte is ready yet.
static const int PLAT_TLS_WOULD_BLOCK = -2;

// Starts TLS as a client on the connected socket s for host (a name, sent as
// the server name and checked against the certificate, or a dotted address,
// checked only); the socket may already have carried plain bytes (a proxy's
// CONNECT).  From then on s is used only through the plat_tls_ operations
// until plat_tls_close.  0 when no connection can be had.
plat_tls plat_tls_start(plat_socket s, const char *host);
// Takes the handshake as far as it goes without waiting: 1 done, 0 under way
// (call again on a later tick; the caller keeps the deadline), -1 failed.
int plat_tls_handshake(plat_tls t);
// Sends the bytes in one call, waiting at most 10 s for room; returns length,
// or -1 on error.
int plat_tls_send(plat_tls t, const void *data, int length);
// Decrypted bytes ready to take without blocking, after decrypting whatever
// has arrived, on the socket or already inside the connection; 0 when none
// (also once the peer has closed or an error came and all is taken).
uint32_t plat_tls_readable(plat_tls t);
// Takes up to length decrypted bytes without blocking; returns the count, 0
// once the peer has closed and all is taken, -1 on error,
// PLAT_TLS_WOULD_BLOCK while nothing is ready.
int plat_tls_recv(plat_tls t, void *buffer, int length);
// Why the connection failed (a PlatTlsFailure, PLAT_TLS_OK while it has
// not) and its text in reason (at most cap - 1 bytes and a NUL).
int plat_tls_failure(plat_tls t, char *reason, int cap);
// Ends the connection, sending the close notice when that needs no wait;
// the socket stays open and back in blocking mode, for plat_close_socket.
void plat_tls_close(plat_tls t);

// ------------------------------------------------------------- [INSTANCE]
// A second start of the program on the same list finds the list held by the
// first; instead of failing it asks the first to show its window.  key names
// the list (the absolute path of its file); instances of other users never
// meet.  On Windows the listening window is found by a name derived from key
// (FindWindow) and sent the message (PostMessage).

// Asks the instance listening under key to show itself; 1 when it took the
// request (it answered), 0 when none did.  Returns within a second.
int plat_signal_running_instance(const char *key);
// Listens under key for later starts: every request posts message (wparam
// and lparam 0) to window, then is answered.  1 when listening; listening
// ends when the window is destroyed, and a later call replaces it.  Never
// blocks the thread: requests are taken as the messages are retrieved.
int plat_listen_for_instances(plat_window window, const char *key, uint32_t message);

// ----------------------------------------------------------------- [TEXT]

// A font from face name, character height in pixels and weight (400 normal,
// 700 bold); the system substitutes a face it has.  0 on failure.
plat_font plat_create_font(const char *face, int height, int weight);
void plat_delete_font(plat_font font);
// Draws text (length bytes, UTF-8) into a 32-bit top-down picture with its
// top-left corner at (x, y), clipped to clip (picture coordinates); colour is
// 0x00RRGGBB.  Returns the width drawn.
int plat_draw_text(uint32_t *pixels, int width, int height, plat_font font,
                   int x, int y, const char *text, int length, uint32_t colour,
                   const PlatRect *clip);
// Width and height in pixels that plat_draw_text would cover.
void plat_measure_text(plat_font font, const char *text, int length, int *width, int *height);
