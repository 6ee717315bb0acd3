// win32_window_check.cpp - checks of the Windows backend's window side on a
// real Win32 system (Windows, or Wine on an X server): the queue's order
// and coalescing, the window's class, styles, shape and title, the back
// buffer's layout on screen, GDI text in the back buffer and in other
// pictures, icons, the class cursor and the asynchronous key state.
//
// One console program; every failed check prints a line, and the exit code
// is the number of failures (0 = all passed).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

int failures = 0;

#define CHECK(condition)                                                              \
    do {                                                                              \
        if (!(condition)) {                                                           \
            failures++;                                                               \
            printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #condition);               \
            fflush(stdout);                                                           \
        }                                                                             \
    } while (0)
#define CHECK_EQ(a, b)                                                                \
    do {                                                                              \
        long long va_ = (long long)(a), vb_ = (long long)(b);                         \
        if (va_ != vb_) {                                                             \
            failures++;                                                               \
            printf("FAIL %s:%d: %s == %s (%lld vs %lld)\n", __FILE__, __LINE__, #a, #b, \
                   va_, vb_);                                                         \
            fflush(stdout);                                                           \
        }                                                                             \
    } while (0)

struct Seen {
    uint32_t message, wparam;
    int32_t lparam;
};
std::vector<Seen> seen;
bool validate_paint = true;

int32_t recording_proc(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
    case PLAT_WM_PAINT:
    case PLAT_WM_TIMER:
    case PLAT_WM_DESTROY:
    case 0x8001:
        seen.push_back({message, wparam, lparam});
        if (message == PLAT_WM_PAINT && validate_paint) {
            plat_begin_paint(window);
            plat_end_paint(window);
        }
        return 0;
    default:
        return plat_default_window_proc(window, message, wparam, lparam);
    }
}

// Retrieves and dispatches everything waiting (the queue is empty when a
// zero-time wait finds nothing), at most limit messages; returns the last
// retrieval's result (0 after the quit message).
int pump(int limit, PlatMessage *last) {
    PlatMessage msg = {};
    int result = 1;
    for (int i = 0; i < limit; i++) {
        MSG peek;
        if (!PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) break;
        result = plat_get_message(&msg);
        if (last) *last = msg;
        if (!result) break;
        plat_dispatch_message(&msg);
    }
    return result;
}

size_t count_of(uint32_t message) {
    size_t n = 0;
    for (const Seen &s : seen) n += s.message == message;
    return n;
}

const int W = 288, H = 417;

// The nine rectangles of the stepped outline.
const PlatRect OUTLINE[9] = {
    {4, 0, W - 4, 1},     {2, 1, W - 2, 2},     {4, H - 1, W - 4, H},
    {2, H - 2, W - 2, H - 1}, {0, 4, 1, H - 4},  {1, 2, 2, H - 2},
    {W - 1, 4, W, H - 4}, {W - 2, 2, W - 1, H - 2}, {2, 2, W - 2, H - 2},
};

void check_class_and_window(plat_window window) {
    HWND hwnd = (HWND)(uintptr_t)window;
    CHECK(IsWindow(hwnd));
    CHECK(!IsWindowVisible(hwnd));   // hidden until shown
    CHECK_EQ(GetClassLongW(hwnd, GCL_STYLE) & CS_DBLCLKS, CS_DBLCLKS);
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    CHECK(style & WS_POPUP);
    CHECK(!(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU)));
    LONG ex = GetWindowLongW(hwnd, GWL_EXSTYLE);
    CHECK(ex & WS_EX_TOOLWINDOW);
    CHECK(ex & WS_EX_TOPMOST);
    // The title arrives as UTF-8 and must reach the system as UTF-16.
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    CHECK(wcscmp(title, L"Qu\u00f6rvax 1.0") == 0);
    PlatRect r = {};
    CHECK(plat_window_rect(window, &r));
    CHECK_EQ(r.left, 40);
    CHECK_EQ(r.top, 30);
    CHECK_EQ(r.right - r.left, W);
    CHECK_EQ(r.bottom - r.top, H);
    CHECK_EQ(GetClassLongPtrW(hwnd, GCLP_HCURSOR), (LONG_PTR)LoadCursorW(nullptr, IDC_ARROW));
    plat_set_class_cursor(window, PLAT_CURSOR_HAND);
    CHECK_EQ(GetClassLongPtrW(hwnd, GCLP_HCURSOR), (LONG_PTR)LoadCursorW(nullptr, IDC_HAND));
    plat_set_class_cursor(window, PLAT_CURSOR_ARROW);

    CHECK(plat_set_window_region(window, OUTLINE, 9));
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    CHECK_EQ(GetWindowRgn(hwnd, region), COMPLEXREGION);
    const POINT outside[] = {{0, 0}, {3, 0}, {0, 1}, {1, 1}, {0, 2}, {0, 3}, {W - 1, H - 1},
                             {W - 4, 0}, {W - 1, 3}, {0, H - 4}};
    const POINT inside[] = {{4, 0}, {2, 1}, {1, 2}, {0, 4}, {W - 5, 0}, {W - 1, H - 5},
                            {W / 2, H / 2}, {4, H - 1}};
    for (const POINT &p : outside) CHECK(!PtInRegion(region, p.x, p.y));
    for (const POINT &p : inside) CHECK(PtInRegion(region, p.x, p.y));
    DeleteObject(region);
}

void check_queue(plat_window window) {
    // Posted messages come through with every parameter, the negative
    // lparam and the full 32-bit wparam included.
    seen.clear();
    plat_post_message(window, 0x8001, 0xFFFFFFF0u, -77);
    PlatMessage msg = {};
    CHECK_EQ(plat_get_message(&msg), 1);
    CHECK_EQ(msg.window, window);
    CHECK_EQ(msg.message, 0x8001);
    CHECK_EQ(msg.wparam, 0xFFFFFFF0u);
    CHECK_EQ(msg.lparam, -77);
    plat_dispatch_message(&msg);
    CHECK_EQ(seen.size(), 1);
    if (!seen.empty()) CHECK_EQ(seen[0].lparam, -77);

    // A timer not serviced for many periods delivers one WM_TIMER, not a
    // burst.
    seen.clear();
    CHECK(plat_set_timer(window, 16657, 10));
    Sleep(300);
    pump(50, nullptr);
    CHECK_EQ(count_of(PLAT_WM_TIMER), 1);
    if (!seen.empty()) CHECK_EQ(seen[0].wparam, 16657);
    plat_kill_timer(window, 16657);
    Sleep(50);
    seen.clear();
    pump(50, nullptr);
    CHECK_EQ(count_of(PLAT_WM_TIMER), 0);

    // Shown, an invalidated window gets one WM_PAINT however often it was
    // invalidated; validated, it gets no more.
    plat_show_window(window, PLAT_SHOW_NO_ACTIVATE);
    CHECK(IsWindowVisible((HWND)(uintptr_t)window));
    pump(200, nullptr);
    seen.clear();
    plat_invalidate(window);
    plat_invalidate(window);
    plat_invalidate(window);
    pump(50, nullptr);
    CHECK_EQ(count_of(PLAT_WM_PAINT), 1);
    // Not validated, the paint comes straight back.
    validate_paint = false;
    seen.clear();
    plat_invalidate(window);
    pump(5, nullptr);
    CHECK_EQ(count_of(PLAT_WM_PAINT), 5);
    validate_paint = true;
    pump(50, nullptr);

    // The quit message comes after what was posted before it, with its code.
    seen.clear();
    plat_post_quit(7);
    plat_post_message(window, 0x8001, 1, 2);
    PlatMessage last = {};
    CHECK_EQ(pump(50, &last), 0);
    CHECK_EQ(count_of(0x8001), 1);
    CHECK_EQ(last.message, PLAT_WM_QUIT);
    CHECK_EQ(last.wparam, 7);

    // The session ending ends the loop with a quit (the program asked for
    // it with plat_quit_on_termination), and lets the session end.
    CHECK_EQ(SendMessageW((HWND)(uintptr_t)window, WM_QUERYENDSESSION, 0, 0), TRUE);
    CHECK_EQ(pump(50, &last), 0);
    CHECK_EQ(last.message, PLAT_WM_QUIT);
    CHECK_EQ(last.wparam, 0);
    // So does Ctrl+C on the console, through the handler's own thread.
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        int result = 1;
        for (int i = 0; i < 100 && result; i++) {
            Sleep(20);
            result = pump(50, &last);
        }
        CHECK_EQ(result, 0);
        CHECK_EQ(last.message, PLAT_WM_QUIT);
    } else {
        printf("no console: the Ctrl+C check is skipped\n");
    }
}

uint32_t pixel(const uint32_t *p, int x, int y) { return p[(size_t)y * W + x] & 0x00FFFFFFu; }

// Counts pixels in [x0, x1) x [y0, y1) that differ from colour.
int count_other(const uint32_t *p, int x0, int y0, int x1, int y1, uint32_t colour) {
    int n = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) n += pixel(p, x, y) != colour;
    return n;
}

void check_back_buffer_and_text(plat_window window) {
    HWND hwnd = (HWND)(uintptr_t)window;
    uint32_t *pixels = plat_create_back_buffer(window, W, H);
    CHECK(pixels != nullptr);
    if (!pixels) return;
    CHECK_EQ(count_other(pixels, 0, 0, W, H, 0), 0);

    // Row 0 is the top row and 0x00RRGGBB reaches the screen as that colour.
    for (int i = 0; i < W * H; i++) pixels[i] = 0x00FFFFFF;
    for (int x = 0; x < W; x++) pixels[10 * W + x] = 0x00FF0000;            // red row 10
    for (int x = 0; x < W; x++) pixels[(H - 11) * W + x] = 0x000000FF;      // blue row H-11
    plat_present(window);
    HDC dc = GetDC(hwnd);
    CHECK_EQ(GetPixel(dc, 50, 10), RGB(255, 0, 0));
    CHECK_EQ(GetPixel(dc, 50, H - 11), RGB(0, 0, 255));
    CHECK_EQ(GetPixel(dc, 50, 11), RGB(255, 255, 255));
    ReleaseDC(hwnd, dc);

    // Text drawn into the back buffer: red, within its box, as wide as
    // measured; the program's next pixel write lands on top of it.
    for (int i = 0; i < W * H; i++) pixels[i] = 0x00FFFFFF;
    plat_font font = plat_create_font("Arial", 12, 800);
    CHECK(font != 0);
    LOGFONTW lf = {};
    GetObjectW((HFONT)(uintptr_t)font, sizeof lf, &lf);
    CHECK_EQ(lf.lfHeight, -12);
    CHECK_EQ(lf.lfWeight, 800);
    CHECK_EQ(lf.lfCharSet, 162);
    CHECK(wcscmp(lf.lfFaceName, L"Arial") == 0);
    plat_font small = plat_create_font("Small Fonts", 9, 400);
    GetObjectW((HFONT)(uintptr_t)small, sizeof lf, &lf);
    CHECK_EQ(lf.lfPitchAndFamily, 0x22);
    CHECK_EQ(lf.lfHeight, -9);

    const PlatRect whole = {0, 0, W, H};
    const char text[] = "Mg W\xC3\xA4lder";   // UTF-8: an a-umlaut
    int mw = 0, mh = 0;
    plat_measure_text(font, text, (int)strlen(text), &mw, &mh);
    CHECK(mw > 20);
    CHECK(mh >= 12);
    int drawn = plat_draw_text(pixels, W, H, font, 20, 40, text, (int)strlen(text), 0x00FF0000,
                               &whole);
    CHECK_EQ(drawn, mw);
    int inked = count_other(pixels, 20, 40, 20 + mw, 40 + mh, 0x00FFFFFF);
    CHECK(inked > 20);
    CHECK_EQ(count_other(pixels, 0, 0, W, 40, 0x00FFFFFF), 0);
    CHECK_EQ(count_other(pixels, 0, 40 + mh, W, H, 0x00FFFFFF), 0);
    // The ink is red: the red byte stays high where the others fell.
    int reddish = 0;
    for (int y = 40; y < 40 + mh; y++)
        for (int x = 20; x < 20 + mw; x++) {
            uint32_t p = pixel(pixels, x, y);
            if (p != 0x00FFFFFF && (p >> 16) == 0xFF && (p & 0xFF) < 0x80) reddish++;
        }
    CHECK(reddish > 10);
    // The a-umlaut is one character, not two bytes' worth of others.
    int one = 0, two = 0;
    plat_measure_text(font, "\xC3\xA4", 2, &one, nullptr);
    plat_measure_text(font, "\xC3\xA4\xC3\xA4", 4, &two, nullptr);
    CHECK(one > 0);
    CHECK_EQ(two, 2 * one);
    // Bad UTF-8 is still drawn (as a replacement), never dropped.
    CHECK(plat_draw_text(pixels, W, H, font, 20, 100, "a\xFF" "b", 3, 0, &whole) > 0);

    // A clip that leaves the text out leaves every pixel alone, and the
    // width is still told.
    for (int i = 0; i < W * H; i++) pixels[i] = 0x00FFFFFF;
    const PlatRect elsewhere = {0, 200, W, H};
    CHECK_EQ(plat_draw_text(pixels, W, H, font, 20, 40, text, (int)strlen(text), 0, &elsewhere),
             mw);
    CHECK_EQ(count_other(pixels, 0, 0, W, H, 0x00FFFFFF), 0);
    // A clip cutting the text in half: ink only below the cut.
    const PlatRect lower = {0, 40 + mh / 2, W, H};
    plat_draw_text(pixels, W, H, font, 20, 40, text, (int)strlen(text), 0, &lower);
    CHECK_EQ(count_other(pixels, 0, 0, W, 40 + mh / 2, 0x00FFFFFF), 0);
    CHECK(count_other(pixels, 0, 40 + mh / 2, W, H, 0x00FFFFFF) > 0);
    // Right after drawing, a pixel the program writes stays written.
    pixels[41 * W + 21] = 0x00123456;
    plat_present(window);
    CHECK_EQ(pixel(pixels, 21, 41), 0x00123456);

    // A picture that is not the back buffer gets the same text.
    std::vector<uint32_t> other((size_t)W * H, 0x00FFFFFF);
    CHECK_EQ(plat_draw_text(other.data(), W, H, font, 20, 40, text, (int)strlen(text), 0x00FF0000,
                            &whole),
             mw);
    CHECK(count_other(other.data(), 20, 40, 20 + mw, 40 + mh, 0x00FFFFFF) > 20);
    CHECK_EQ(count_other(other.data(), 0, 0, W, 40, 0x00FFFFFF), 0);

    plat_delete_font(font);
    plat_delete_font(small);
    plat_delete_back_buffer(window);
    plat_present(window);   // no buffer: nothing happens
}

void check_icon(void) {
    const int size = 16;
    std::vector<uint32_t> picture((size_t)size * size, 0);
    for (int y = 4; y < 12; y++)
        for (int x = 4; x < 12; x++) picture[(size_t)y * size + x] = 0xFF20C040;
    plat_icon icon = plat_create_icon(picture.data(), size, size);
    CHECK(icon != 0);
    // Drawn on white, the transparent border stays white, the middle green.
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(dc, target);
    RECT all = {0, 0, size, size};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    DrawIconEx(dc, 0, 0, (HICON)(uintptr_t)icon, size, size, 0, nullptr, DI_NORMAL);
    CHECK_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255));
    CHECK_EQ(GetPixel(dc, 8, 8), RGB(0x20, 0xC0, 0x40));
    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DestroyIcon((HICON)(uintptr_t)icon);
}

// The key state is the system's, whatever window has the focus: a key
// pressed by injected input reads down until released.
void check_keys(void) {
    CHECK_EQ(plat_key_down(0), 0);
    CHECK_EQ(plat_key_down(300), 0);
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_DELETE;
    SendInput(1, &input, sizeof input);
    pump(50, nullptr);
    CHECK_EQ(plat_key_down(PLAT_VK_DELETE), 1);
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
    pump(50, nullptr);
    CHECK_EQ(plat_key_down(PLAT_VK_DELETE), 0);
}

void check_destroy(void) {
    // DestroyWindow reaches the procedure with WM_DESTROY for a window never
    // shown; the handle is dead afterwards.
    plat_window hidden = plat_create_window("QuorvaxCheck", "hidden", 0, 0, 50, 50);
    CHECK(hidden != 0);
    seen.clear();
    plat_destroy_window(hidden);
    CHECK_EQ(count_of(PLAT_WM_DESTROY), 1);
    CHECK(!IsWindow((HWND)(uintptr_t)hidden));
    plat_destroy_window(hidden);   // twice: no second WM_DESTROY
    CHECK_EQ(count_of(PLAT_WM_DESTROY), 1);
}

} // namespace

int main(void) {
    if (!plat_init()) {
        printf("FAIL: plat_init\n");
        return 1;
    }
    plat_quit_on_termination();
    CHECK(plat_register_class("QuorvaxCheck", recording_proc, PLAT_CURSOR_ARROW, 0));
    plat_window window = plat_create_window("QuorvaxCheck", "Qu\xC3\xB6rvax 1.0", 40, 30, W, H);
    CHECK(window != 0);
    if (window) {
        check_class_and_window(window);
        check_queue(window);
        check_back_buffer_and_text(window);
        plat_destroy_window(window);
    }
    check_icon();
    check_keys();
    check_destroy();
    plat_finish();
    // A second start in the same process: the class registers again.
    CHECK(plat_init());
    CHECK(plat_register_class("QuorvaxCheck", recording_proc, PLAT_CURSOR_HAND, 0));
    plat_window again = plat_create_window("QuorvaxCheck", "again", 0, 0, 20, 20);
    CHECK(again != 0);
    if (again)
        CHECK_EQ(GetClassLongPtrW((HWND)(uintptr_t)again, GCLP_HCURSOR),
                 (LONG_PTR)LoadCursorW(nullptr, IDC_HAND));
    plat_finish();
    printf("%s: %d failure(s)\n", failures ? "FAIL" : "PASS", failures);
    return failures;
}
