// win32_window.cpp - the message loop, the window and its class, timers,
// painting and the back buffer, icons and input on the plain Win32 API.
//
// Sections: [STATE] [PROCEDURE] [MESSAGES] [START] [WINDOW] [PAINT] [ICON]
//           [INPUT] [TERMINATION]
//
// The seam is shaped after these calls, so most operations are one call:
// the queue is the thread's own (GetMessage coalesces WM_TIMER and WM_PAINT
// as the program expects), the timer is a window timer, the key state is
// GetAsyncKeyState.  What the backend adds: one real window procedure that
// hands every message of our classes to the program's procedure, and the
// back buffer, a DIB section selected into a memory DC so that GDI text and
// the program's own pixel writes meet in one picture.
#include "platform/win32/win32_backend.h"

#include <commctrl.h>
#include <ole2.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/io/win32_text.h"

// ---------------------------------------------------------------- [STATE]

namespace {

struct ClassEntry {
    ATOM atom;
    PlatWindowProc proc;
};

struct BackBuffer {
    HWND hwnd;
    HDC dc;              // memory DC with bitmap selected
    HBITMAP bitmap;      // top-down 32-bit DIB section
    HGDIOBJ old_bitmap;  // what dc held before, put back on release
    uint32_t *pixels;
    int width, height;
};

// Posted to our windows from the console handler's thread: the procedure
// answers it with PostQuitMessage on the GUI thread, where the quit flag
// belongs (a modal loop then ends too, as it does for any quit).
const UINT QUIT_REQUEST_MESSAGE = WM_APP + 0x3E1;

// Names of classes and titles, converted for the W calls.
const int NAME_CAP = 256;

struct BackendState {
    bool started = false;
    bool ole_started = false;
    DWORD gui_thread = 0;
    std::vector<ClassEntry> classes;
    std::vector<HWND> windows;          // made by plat_create_window, not yet destroyed
    HWND volatile quit_target = nullptr;  // the newest of them, read by the console handler
    std::vector<BackBuffer> buffers;
    HWND painting = nullptr;            // between plat_begin_paint and plat_end_paint
    PAINTSTRUCT paint = {};
    MSG last = {};                      // the message plat_get_message returned last
    volatile LONG quit_on_session_end = 0;
    HANDLE finished = nullptr;          // set by plat_finish; the console handler waits for it
};

BackendState g;

PlatWindowProc proc_of(HWND hwnd) {
    ATOM atom = (ATOM)GetClassLongW(hwnd, GCW_ATOM);
    for (const ClassEntry &c : g.classes)
        if (c.atom == atom) return c.proc;
    return nullptr;
}

BackBuffer *buffer_of(HWND hwnd) {
    for (BackBuffer &b : g.buffers)
        if (b.hwnd == hwnd) return &b;
    return nullptr;
}

void release_buffer(HWND hwnd) {
    for (size_t i = 0; i < g.buffers.size(); i++) {
        BackBuffer &b = g.buffers[i];
        if (b.hwnd != hwnd) continue;
        SelectObject(b.dc, b.old_bitmap);
        DeleteObject(b.bitmap);
        DeleteDC(b.dc);
        g.buffers.erase(g.buffers.begin() + (long)i);
        return;
    }
}

void forget_window(HWND hwnd) {
    release_buffer(hwnd);
    if (g.painting == hwnd) g.painting = nullptr;
    for (size_t i = 0; i < g.windows.size(); i++) {
        if (g.windows[i] == hwnd) {
            g.windows.erase(g.windows.begin() + (long)i);
            break;
        }
    }
    g.quit_target = g.windows.empty() ? nullptr : g.windows.back();
}

} // namespace

// ------------------------------------------------------------ [PROCEDURE]

// The one window procedure of every class the program registers: it hands
// the message to the program's procedure of that class.  On 32-bit Windows
// WPARAM and LPARAM are 32 bits wide, so nothing is cut.  Two things are
// answered here first: the session ending (when the program asked for it)
// and the console handler's quit request.
static LRESULT CALLBACK forward_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case QUIT_REQUEST_MESSAGE:
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        // The quit is posted as the session asks, so that shut-down (and the
        // settings' save) can run before the system ends the process.
        if (g.quit_on_session_end && (message == WM_QUERYENDSESSION || wparam)) {
            PostQuitMessage(0);
            return message == WM_QUERYENDSESSION ? TRUE : 0;
        }
        break;
    default:
        break;
    }
    PlatWindowProc proc = proc_of(hwnd);
    LRESULT result = proc ? (LRESULT)proc(win32_window_of(hwnd), (uint32_t)message,
                                          (uint32_t)wparam, (int32_t)lparam)
                          : DefWindowProcW(hwnd, message, wparam, lparam);
    // The last message a window gets: what the backend kept for it goes.
    if (message == WM_NCDESTROY) forget_window(hwnd);
    return result;
}

// ------------------------------------------------------------- [MESSAGES]

int plat_get_message(PlatMessage *msg) {
    MSG m;
    BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == -1) {
        // Only a bad filter window makes GetMessage fail; none is passed, so
        // this cannot loop: it ends the program as a quit would.
        memset(&m, 0, sizeof m);
        m.message = WM_QUIT;
    }
    g.last = m;
    msg->window = win32_window_of(m.hwnd);
    msg->message = (uint32_t)m.message;
    msg->wparam = (uint32_t)m.wParam;
    msg->lparam = (int32_t)m.lParam;
    return m.message == WM_QUIT ? 0 : 1;
}

// The message is dispatched with the time and pointer position it was
// retrieved with when it is the one plat_get_message returned (the seam's
// message does not carry them).
void plat_dispatch_message(const PlatMessage *msg) {
    if (!msg || msg->message == WM_QUIT) return;
    MSG m;
    if (g.last.hwnd == win32_hwnd(msg->window) && g.last.message == msg->message &&
        g.last.wParam == msg->wparam && g.last.lParam == msg->lparam) {
        m = g.last;
    } else {
        memset(&m, 0, sizeof m);
        m.hwnd = win32_hwnd(msg->window);
        m.message = msg->message;
        m.wParam = msg->wparam;
        m.lParam = msg->lparam;
        m.time = (DWORD)GetMessageTime();
        DWORD pos = GetMessagePos();
        m.pt.x = (short)LOWORD(pos);
        m.pt.y = (short)HIWORD(pos);
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
}

void plat_post_quit(int exit_code) { PostQuitMessage(exit_code); }

void plat_post_message(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    PostMessageW(win32_hwnd(window), message, (WPARAM)wparam, (LPARAM)lparam);
}

int32_t plat_default_window_proc(plat_window window, uint32_t message,
                                 uint32_t wparam, int32_t lparam) {
    return (int32_t)DefWindowProcW(win32_hwnd(window), message, (WPARAM)wparam, (LPARAM)lparam);
}

// ---------------------------------------------------------------- [START]

// Windows always has a display; Wine without an X server has none, and
// then cannot make a top-level window: a hidden one is made and destroyed
// to find out, so that the program ends as on a desktop without a display.
static bool display_available(void) {
    HWND probe = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

// COM is started here for the whole run: the folder chooser's new-style
// dialog needs it on the GUI thread (OleInitialize, which also gives it
// drag and drop and the clipboard's OLE side).
int plat_init(void) {
    if (g.started) return 1;
    if (!display_available()) return 0;
    g.gui_thread = GetCurrentThreadId();
    g.ole_started = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    g.started = true;
    return 1;
}

void plat_finish(void) {
    if (!g.started) return;
    // The program's state is gone by now: windows still left are destroyed
    // with the system's default handling only, and the classes go after
    // them, so that a later plat_init can register them again.
    std::vector<ClassEntry> classes;
    classes.swap(g.classes);
    while (!g.windows.empty()) {
        HWND hwnd = g.windows.back();
        if (IsWindow(hwnd))
            DestroyWindow(hwnd);
        else
            forget_window(hwnd);
        // DestroyWindow failing (another thread's window) must not loop.
        if (!g.windows.empty() && g.windows.back() == hwnd) g.windows.pop_back();
    }
    while (!g.buffers.empty()) release_buffer(g.buffers.back().hwnd);
    for (const ClassEntry &c : classes)
        UnregisterClassW((LPCWSTR)(uintptr_t)c.atom, GetModuleHandleW(nullptr));
    win32_text_release();
    if (g.ole_started) OleUninitialize();
    g.ole_started = false;
    g.started = false;
    InterlockedExchange(&g.quit_on_session_end, 0);
    if (g.finished) SetEvent(g.finished);
}

// --------------------------------------------------------------- [WINDOW]

int plat_register_class(const char *class_name, PlatWindowProc proc,
                        PlatCursor cursor, plat_icon icon) {
    wchar_t name[NAME_CAP];
    if (!proc || win32_utf8_to_wide(class_name, name, NAME_CAP) <= 0) return 0;
    WNDCLASSEXW wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = forward_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = (HICON)(uintptr_t)icon;
    wc.hIconSm = (HICON)(uintptr_t)icon;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor));
    wc.hbrBackground = nullptr;   // every pixel comes from the back buffer
    wc.lpszClassName = name;
    ATOM atom = RegisterClassExW(&wc);
    if (!atom) return 0;
    ClassEntry c = {atom, proc};
    g.classes.push_back(c);
    return 1;
}

plat_window plat_create_window(const char *class_name, const char *title,
                               int x, int y, int width, int height) {
    wchar_t name[NAME_CAP], caption[NAME_CAP];
    if (width <= 0 || height <= 0 || win32_utf8_to_wide(class_name, name, NAME_CAP) <= 0) return 0;
    if (win32_utf8_to_wide(title ? title : "", caption, NAME_CAP) < 0) caption[0] = 0;
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, name, caption, WS_POPUP, x, y,
                                width, height, nullptr, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    if (!hwnd) return 0;
    g.windows.push_back(hwnd);
    g.quit_target = hwnd;
    return win32_window_of(hwnd);
}

// WM_DESTROY reaches the program's procedure from inside DestroyWindow,
// shown or not; what the backend holds for the window goes at WM_NCDESTROY.
void plat_destroy_window(plat_window window) {
    HWND hwnd = win32_hwnd(window);
    if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
}

// Showing with PLAT_SHOW also brings an already visible window to the front
// with the focus (SW_SHOW alone does nothing to a visible window): the tray
// icon's click and a second start both mean "give me the window".
void plat_show_window(plat_window window, int show) {
    HWND hwnd = win32_hwnd(window);
    switch (show) {
    case PLAT_HIDE:
        ShowWindow(hwnd, SW_HIDE);
        break;
    case PLAT_SHOW_NO_ACTIVATE:
        ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        break;
    default:
        ShowWindow(hwnd, SW_SHOW);
        SetForegroundWindow(hwnd);
        break;
    }
}

// MoveWindow with repaint: a pure move keeps the picture (the system moves
// the bits along); a part that was covered is asked for through WM_PAINT.
void plat_move_window(plat_window window, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return;
    MoveWindow(win32_hwnd(window), x, y, width, height, TRUE);
}

int plat_window_rect(plat_window window, PlatRect *rect) {
    RECT r;
    if (!rect || !GetWindowRect(win32_hwnd(window), &r)) return 0;
    rect->left = r.left;
    rect->top = r.top;
    rect->right = r.right;
    rect->bottom = r.bottom;
    return 1;
}

void plat_screen_size(int *width, int *height) {
    if (width) *width = GetSystemMetrics(SM_CXSCREEN);
    if (height) *height = GetSystemMetrics(SM_CYSCREEN);
}

// The region is the union of the rectangles; no rectangle at all gives the
// window back its full shape.  Once set, the region belongs to the window.
int plat_set_window_region(plat_window window, const PlatRect *rects, int count) {
    HWND hwnd = win32_hwnd(window);
    if (!IsWindow(hwnd)) return 0;
    if (!rects || count <= 0) return SetWindowRgn(hwnd, nullptr, TRUE) ? 1 : 0;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (!region) return 0;
    for (int i = 0; i < count; i++) {
        const PlatRect &r = rects[i];
        HRGN piece = CreateRectRgn(r.left, r.top, r.right, r.bottom);
        int combined = piece ? CombineRgn(region, region, piece, RGN_OR) : ERROR;
        if (piece) DeleteObject(piece);
        if (combined == ERROR) {
            DeleteObject(region);
            return 0;
        }
    }
    if (!SetWindowRgn(hwnd, region, TRUE)) {
        DeleteObject(region);
        return 0;
    }
    return 1;
}

int plat_set_timer(plat_window window, uint32_t id, uint32_t period_ms) {
    return SetTimer(win32_hwnd(window), (UINT_PTR)id, period_ms, nullptr) ? 1 : 0;
}

void plat_kill_timer(plat_window window, uint32_t id) {
    KillTimer(win32_hwnd(window), (UINT_PTR)id);
}

void plat_set_class_cursor(plat_window window, PlatCursor cursor) {
    HCURSOR c = LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor));
    if (c) SetClassLongPtrW(win32_hwnd(window), GCLP_HCURSOR, (LONG_PTR)c);
}

void plat_message_box(const char *text, const char *caption) {
    wchar_t wide_text[1024], wide_caption[NAME_CAP];
    if (win32_utf8_to_wide(text ? text : "", wide_text, 1024) < 0) wide_text[0] = 0;
    if (win32_utf8_to_wide(caption ? caption : "", wide_caption, NAME_CAP) < 0)
        wide_caption[0] = 0;
    MessageBoxW(nullptr, wide_text, wide_caption, MB_OK | MB_ICONERROR);
}

// ---------------------------------------------------------------- [PAINT]

void plat_invalidate(plat_window window) { InvalidateRect(win32_hwnd(window), nullptr, FALSE); }

// The DC BeginPaint gives is kept, so that the program's present inside its
// WM_PAINT goes through it (clipped to what needs painting).
void plat_begin_paint(plat_window window) {
    HWND hwnd = win32_hwnd(window);
    if (g.painting) return;   // one paint at a time; WM_PAINT does not nest
    if (BeginPaint(hwnd, &g.paint)) g.painting = hwnd;
}

void plat_end_paint(plat_window window) {
    HWND hwnd = win32_hwnd(window);
    if (!g.painting || g.painting != hwnd) return;
    EndPaint(hwnd, &g.paint);
    g.painting = nullptr;
}

// The negative height makes the section top-down: row 0 is the top row.
HBITMAP win32_create_top_down_dib(HDC dc, int width, int height, void **bits) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
    if (bitmap && !*bits) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    return bitmap;
}

// A top-down DIB section (negative height): row 0 is the top row, rows are
// width pixels apart (32-bit rows need no padding), so its bits are the
// picture the seam promises.  Selected into a memory DC, GDI can write text
// into the same pixels.
uint32_t *plat_create_back_buffer(plat_window window, int width, int height) {
    HWND hwnd = win32_hwnd(window);
    if (!IsWindow(hwnd) || width <= 0 || height <= 0) return nullptr;
    release_buffer(hwnd);
    HDC window_dc = GetDC(hwnd);
    HDC dc = CreateCompatibleDC(window_dc);
    ReleaseDC(hwnd, window_dc);
    if (!dc) return nullptr;
    void *bits = nullptr;
    HBITMAP bitmap = win32_create_top_down_dib(dc, width, height, &bits);
    if (!bitmap) {
        DeleteDC(dc);
        return nullptr;
    }
    memset(bits, 0, (size_t)width * (size_t)height * 4);
    BackBuffer b;
    b.hwnd = hwnd;
    b.dc = dc;
    b.bitmap = bitmap;
    b.old_bitmap = SelectObject(dc, bitmap);
    b.pixels = (uint32_t *)bits;
    b.width = width;
    b.height = height;
    g.buffers.push_back(b);
    return b.pixels;
}

void plat_delete_back_buffer(plat_window window) { release_buffer(win32_hwnd(window)); }

HDC win32_back_buffer_dc(const uint32_t *pixels, int width, int height) {
    for (const BackBuffer &b : g.buffers)
        if (b.pixels == pixels && b.width == width && b.height == height) return b.dc;
    return nullptr;
}

// One blit of the whole back buffer.  GDI may batch its own drawing; the
// flush makes text drawn into the buffer part of the picture first.
void plat_present(plat_window window) {
    HWND hwnd = win32_hwnd(window);
    BackBuffer *b = buffer_of(hwnd);
    if (!b) return;
    GdiFlush();
    const bool in_paint = g.painting == hwnd;
    HDC dc = in_paint ? g.paint.hdc : GetDC(hwnd);
    if (!dc) return;
    BitBlt(dc, 0, 0, b->width, b->height, b->dc, 0, 0, SRCCOPY);
    if (!in_paint) ReleaseDC(hwnd, dc);
}

// ----------------------------------------------------------------- [ICON]

// Icons take a colour bitmap and an AND mask.  The colour bitmap carries the
// alpha, which the system uses whenever any pixel has some; the mask (1 =
// transparent) is what systems without alpha icons show, so it follows the
// alpha at half.  A picture with no alpha at all is taken as opaque, as it
// would otherwise vanish.
plat_icon plat_create_icon(const uint32_t *pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0) return 0;
    const size_t count = (size_t)width * (size_t)height;
    bool has_alpha = false;
    for (size_t i = 0; i < count && !has_alpha; i++) has_alpha = (pixels[i] >> 24) != 0;

    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = win32_create_top_down_dib(screen, width, height, &bits);
    ReleaseDC(nullptr, screen);
    if (!colour) return 0;
    memcpy(bits, pixels, count * 4);
    if (!has_alpha)
        for (size_t i = 0; i < count; i++) ((uint32_t *)bits)[i] |= 0xFF000000u;

    // Monochrome rows are padded to 16 bits; the leftmost pixel is the
    // highest bit.
    const int stride = (width + 15) / 16 * 2;
    std::vector<unsigned char> mask((size_t)stride * (size_t)height, 0);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (has_alpha && (pixels[(size_t)y * width + x] >> 24) < 0x80)
                mask[(size_t)y * stride + x / 8] |= (unsigned char)(0x80 >> (x % 8));
    HBITMAP and_mask = CreateBitmap(width, height, 1, 1, mask.data());

    ICONINFO icon_info;
    memset(&icon_info, 0, sizeof icon_info);
    icon_info.fIcon = TRUE;
    icon_info.hbmMask = and_mask;
    icon_info.hbmColor = colour;
    HICON icon = and_mask ? CreateIconIndirect(&icon_info) : nullptr;
    if (and_mask) DeleteObject(and_mask);
    DeleteObject(colour);
    return (plat_icon)(uintptr_t)icon;
}

// ---------------------------------------------------------------- [INPUT]

void plat_cursor_pos(int *x, int *y) {
    POINT p = {0, 0};
    GetCursorPos(&p);
    if (x) *x = p.x;
    if (y) *y = p.y;
}

// The physical state of the key, whatever window has the focus.
int plat_key_down(int vk) {
    if (vk <= 0 || vk > 255) return 0;
    return (GetAsyncKeyState(vk) & 0x8000) ? 1 : 0;
}

// ---------------------------------------------------------- [TERMINATION]

// Runs on a thread of its own that the system starts.  Ctrl+C and Ctrl+Break
// only ask for the quit; closing the console, logging off and shutting down
// end the process as soon as the handler returns, so the handler waits
// (within the system's grace period) until plat_finish says shut-down ran.
static BOOL WINAPI on_console_event(DWORD event) {
    if (!g.quit_on_session_end) return FALSE;
    // Our window's procedure turns the request into the quit flag on the
    // GUI thread; with no window, a thread message does it.
    HWND target = g.quit_target;
    if (!target || !PostMessageW(target, QUIT_REQUEST_MESSAGE, 0, 0))
        PostThreadMessageW(g.gui_thread, WM_QUIT, 0, 0);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        if (g.finished) WaitForSingleObject(g.finished, 4000);
    return TRUE;
}

void plat_quit_on_termination(void) {
    if (!g.started || g.quit_on_session_end) return;
    if (!g.finished) g.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    InterlockedExchange(&g.quit_on_session_end, 1);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
