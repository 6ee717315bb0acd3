// qt_backend_test.cpp - checks of the Qt backend that need no person and no
// X server: they run on Qt's offscreen platform, feed the window Qt events
// and read back the Windows-style messages the program would see.
//
// Built separately from the program's test binary, which links the fake
// backend instead (run_qt_backend_test.sh builds and runs it).  ctest runs
// them twice: offscreen, and on a virtual X server through Qt's xcb platform
// (run_qt_backend_test_x11.sh), where focus, the pointer grab and the
// server's button and key state are real.  There the pointer and keyboard
// checks drive the server itself with xdotool, as a person would.
#include "platform/platform.h"
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QElapsedTimer>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QPainter>
#include <QScreen>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const uint32_t MARK = 0x8001;       // a message of our own that ends a drain
const uint32_t APP_A = 0x8002;
const uint32_t APP_B = 0x8003;

struct Seen {
    plat_window window;
    uint32_t message, wparam;
    int32_t lparam;
    bool in_modal;
};

std::vector<Seen> dispatched;       // what reached the window procedure
bool in_modal = false;              // the test is inside a modal call
std::function<void(const Seen &)> on_message;

int32_t test_proc(plat_window w, uint32_t m, uint32_t wp, int32_t lp) {
    Seen s{w, m, wp, lp, in_modal};
    dispatched.push_back(s);
    if (on_message) on_message(s);
    return plat_default_window_proc(w, m, wp, lp);
}

class QtBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ASSERT_EQ(plat_init(), 1);
        ASSERT_EQ(plat_register_class("Quorvax", test_proc, PLAT_CURSOR_ARROW, 0), 1);
    }

    void SetUp() override {
        dispatched.clear();
        on_message = nullptr;
        window = plat_create_window("Quorvax", "Quorvax 1.0", 40, 30, 288, 417);
        ASSERT_NE(window, 0u);
    }

    void TearDown() override {
        on_message = nullptr;
        plat_destroy_window(window);
        drain();
        // The next window opens where this one was: the real pointer must
        // not wait there to send it messages of its own.
        if (on_x11() && have_xdotool()) put_pointer(1270, 790);
    }

    static bool on_x11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
    static bool have_xdotool() { return system("command -v xdotool >/dev/null 2>&1") == 0; }
    // Input through the X server (XTEST), routed as a person's would be.
    static void xdo(const std::string &args) {
        const std::string command = "xdotool " + args + " >/dev/null 2>&1";
        EXPECT_EQ(system(command.c_str()), 0) << command;
    }

    // Moves the X server's pointer and waits until it is there (xdotool's own
    // --sync waits for ever when the pointer is there already).
    static void put_pointer(int x, int y) {
        xdo("mousemove " + std::to_string(x) + " " + std::to_string(y));
        EXPECT_TRUE(pump_until([&] { return QCursor::pos() == QPoint(x, y); }, 2000));
    }

    // Runs the event loop until done() holds or ms have passed.
    static bool pump_until(const std::function<bool()> &done, int ms = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            usleep(2000);
        }
        return true;
    }
    static void pump(int ms) { pump_until([] { return false; }, ms); }

    // The messages that come within ms, until enough() says they suffice.
    std::vector<PlatMessage> drain_until(
        const std::function<bool(const std::vector<PlatMessage> &)> &enough, int ms = 5000) {
        std::vector<PlatMessage> all;
        pump_until([&] {
            for (const PlatMessage &m : drain()) all.push_back(m);
            return enough(all);
        }, ms);
        return all;
    }

    // The left button at a client point: on X11 the server's own button,
    // elsewhere through Qt's input path (what the platform plugin feeds).
    void left_button(QEvent::Type type, QPoint client) {
        if (!on_x11()) {
            if (type == QEvent::MouseMove) QTest::mouseMove(native(), client);
            if (type == QEvent::MouseButtonPress) QTest::mousePress(native(), Qt::LeftButton, {}, client);
            if (type == QEvent::MouseButtonRelease) QTest::mouseRelease(native(), Qt::LeftButton, {}, client);
            return;
        }
        PlatRect r;
        plat_window_rect(window, &r);
        put_pointer(r.left + client.x(), r.top + client.y());
        if (type == QEvent::MouseButtonPress) xdo("mousedown 1");
        if (type == QEvent::MouseButtonRelease) xdo("mouseup 1");
    }

    // Shows the window and answers the paint its first exposure asks for.
    void show_settled() {
        plat_show_window(window, 1);
        PlatMessage m;
        for (int i = 0; i < 100; i++) {
            ASSERT_EQ(plat_get_message(&m), 1);
            if (m.message == PLAT_WM_PAINT) {
                validate();
                return;
            }
        }
        FAIL() << "no WM_PAINT after showing the window";
    }

    // What a window procedure does with WM_PAINT, drawing nothing.
    void validate() {
        plat_begin_paint(window);
        plat_end_paint(window);
    }

    // Retrieves every queued message up to a mark of our own.
    std::vector<PlatMessage> drain() {
        std::vector<PlatMessage> got;
        plat_post_message(window, MARK, 0, 0);
        PlatMessage m;
        while (plat_get_message(&m) && m.message != MARK) got.push_back(m);
        return got;
    }

    PlatMessage next() {
        PlatMessage m;
        memset(&m, 0, sizeof m);
        plat_get_message(&m);
        return m;
    }

    // The first synthesised message waiting: a probe timer shows it, since a
    // pending paint or an earlier timer would come out before the probe's.
    PlatMessage first_synthesised() {
        const uint32_t PROBE_TIMER = 99;
        plat_set_timer(window, PROBE_TIMER, 10);
        PlatMessage m = next();
        plat_kill_timer(window, PROBE_TIMER);
        return m;
    }

    QWidget *widget() { return qt_widget_of(window); }
    QWindow *native() { return widget()->windowHandle(); }

    void mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, widget()->mapToGlobal(pos), button, buttons, mods);
        QApplication::sendEvent(widget(), &e);
    }

    void key(QEvent::Type type, int k, Qt::KeyboardModifiers mods = Qt::NoModifier,
             bool repeat = false) {
        QKeyEvent e(type, k, mods, QString(), repeat);
        QApplication::sendEvent(widget(), &e);
    }

    plat_window window = 0;
};

// The window's rectangle: at (left, top), the program's 288x417.
void expect_window_at(plat_window window, int left, int top) {
    PlatRect r;
    ASSERT_EQ(plat_window_rect(window, &r), 1);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right - r.left, 288);
    EXPECT_EQ(r.bottom - r.top, 417);
}

int32_t point(int x, int y) { return (int32_t)(((uint32_t)y << 16) | ((uint32_t)x & 0xFFFF)); }

bool is_button_message(const PlatMessage &m) {
    return m.message >= PLAT_WM_LBUTTONDOWN && m.message <= 0x0209;
}

// Another program's text field, holding the focus.
struct OtherProgram {
    QLineEdit field;
    explicit OtherProgram(int x = 700, int y = 100) {
        field.setGeometry(x, y, 200, 30);
        field.show();
        field.activateWindow();
    }
    bool active() const { return QApplication::activeWindow() == &field; }
};

// ------------------------------------------------------------- messages

TEST_F(QtBackendTest, posted_messages_then_paint_then_timer_and_quit_before_both) {
    show_settled();
    plat_post_message(window, APP_A, 1, 2);
    plat_post_message(window, APP_B, 3, 4);
    plat_invalidate(window);
    plat_invalidate(window);   // coalesces with the first
    plat_set_timer(window, 7, 10);
    usleep(40000);

    EXPECT_EQ(next().message, APP_A);
    PlatMessage b = next();
    EXPECT_EQ(b.message, APP_B);
    EXPECT_EQ(b.wparam, 3u);
    EXPECT_EQ(b.lparam, 4);
    PlatMessage p = next();
    EXPECT_EQ(p.message, (uint32_t)PLAT_WM_PAINT);
    EXPECT_EQ(p.window, window);
    // Not validated: the paint comes back, still ahead of the timer.
    EXPECT_EQ(next().message, (uint32_t)PLAT_WM_PAINT);
    validate();
    PlatMessage t = next();
    EXPECT_EQ(t.message, (uint32_t)PLAT_WM_TIMER);
    EXPECT_EQ(t.wparam, 7u);
    EXPECT_EQ(t.window, window);

    // The quit message waits for what is queued, but not for paint or timer.
    plat_invalidate(window);
    usleep(30000);
    plat_post_message(window, APP_A, 0, 0);
    plat_post_quit(9);
    plat_post_message(window, APP_B, 0, 0);
    EXPECT_EQ(next().message, APP_A);
    EXPECT_EQ(next().message, APP_B);
    PlatMessage q;
    EXPECT_EQ(plat_get_message(&q), 0);
    EXPECT_EQ(q.message, (uint32_t)PLAT_WM_QUIT);
    EXPECT_EQ(q.wparam, 9u);
    plat_kill_timer(window, 7);
}

TEST_F(QtBackendTest, messages_name_their_window_and_dispatch_goes_to_the_window_named) {
    plat_window other = plat_create_window("Quorvax", "other", 0, 0, 10, 10);
    ASSERT_NE(other, 0u);
    plat_post_message(window, APP_A, 5, 6);
    plat_post_message(0, APP_B, 0, 0);   // a message for no window
    plat_post_message(other, APP_A, 7, 8);
    PlatMessage a = next(), b = next(), c = next();
    EXPECT_EQ(a.window, window);
    EXPECT_EQ(b.window, 0u);
    EXPECT_EQ(c.window, other);
    // Dispatch follows the message, not the order of retrieval.
    plat_dispatch_message(&c);
    plat_dispatch_message(&b);
    plat_dispatch_message(&a);
    ASSERT_EQ(dispatched.size(), 2u);
    EXPECT_EQ(dispatched[0].window, other);
    EXPECT_EQ(dispatched[0].wparam, 7u);
    EXPECT_EQ(dispatched[1].window, window);
    EXPECT_EQ(dispatched[1].message, APP_A);
    EXPECT_EQ(dispatched[1].wparam, 5u);
    EXPECT_EQ(dispatched[1].lparam, 6);

    // A message for a window that is gone reaches no procedure; the quit
    // message names no window.
    plat_destroy_window(other);
    dispatched.clear();
    plat_dispatch_message(&c);
    EXPECT_TRUE(dispatched.empty());
    plat_post_quit(0);
    PlatMessage q;
    EXPECT_EQ(plat_get_message(&q), 0);
    EXPECT_EQ(q.window, 0u);
}

TEST_F(QtBackendTest, presenting_on_paint_shows_the_back_buffer_and_asks_for_no_further_paint) {
    show_settled();
    uint32_t *pixels = plat_create_back_buffer(window, 288, 417);
    ASSERT_NE(pixels, nullptr);
    int nonzero = 0;
    for (int i = 0; i < 288 * 417; i++) nonzero += pixels[i] != 0;
    EXPECT_EQ(nonzero, 0) << "a fresh back buffer is all 0";
    for (int i = 0; i < 288 * 417; i++) pixels[i] = 0x00336699;
    pixels[5 * 288 + 7] = 0x00FF0000;   // top-down: row 5, column 7
    plat_invalidate(window);
    ASSERT_EQ(next().message, (uint32_t)PLAT_WM_PAINT);
    plat_begin_paint(window);
    plat_present(window);
    plat_end_paint(window);
    EXPECT_EQ(first_synthesised().message, (uint32_t)PLAT_WM_TIMER);

    QImage shown = widget()->grab().toImage();
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFFu, 0x336699u);
    EXPECT_EQ(shown.pixel(7, 5) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(shown.pixel(287, 416) & 0xFFFFFFu, 0x336699u);
    // Drawing after the present reaches the window only at the next one.
    pixels[0] = 0x00000000;
    EXPECT_EQ(widget()->grab().toImage().pixel(0, 0) & 0xFFFFFFu, 0x336699u);
    plat_present(window);
    EXPECT_EQ(widget()->grab().toImage().pixel(0, 0) & 0xFFFFFFu, 0u);

    plat_delete_back_buffer(window);
    plat_present(window);   // nothing to present: the last picture stays
    EXPECT_EQ(widget()->grab().toImage().pixel(7, 5) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(plat_create_back_buffer(window, 0, 417), nullptr);
    EXPECT_EQ(plat_create_back_buffer(window + 100, 288, 417), nullptr);
}

// Presenting sends the screen only the rows that changed since the last
// present: what the X server shows must still be the whole back buffer.
TEST_F(QtBackendTest, every_present_leaves_the_whole_back_buffer_on_the_screen) {
    if (!on_x11()) GTEST_SKIP() << "needs an X server to read the screen back";
    show_settled();
    uint32_t *pixels = plat_create_back_buffer(window, 288, 417);
    ASSERT_NE(pixels, nullptr);
    auto on_screen_matches = [&](const char *when) {
        pump(100);
        QImage screen = widget()->screen()->grabWindow(widget()->winId()).toImage();
        ASSERT_EQ(screen.size(), QSize(288, 417)) << when;
        int wrong = 0;
        for (int y = 0; y < 417; y++)
            for (int x = 0; x < 288; x++)
                wrong += (screen.pixel(x, y) & 0xFFFFFFu) != (pixels[y * 288 + x] & 0xFFFFFFu);
        EXPECT_EQ(wrong, 0) << when;
    };
    for (int y = 0; y < 417; y++)
        for (int x = 0; x < 288; x++) pixels[y * 288 + x] = (uint32_t)(x << 16 | y << 4 | (x ^ y));
    plat_present(window);
    on_screen_matches("first picture");
    // Changes in separate places, the corners included; the top byte, which
    // the program leaves undefined, changes nothing.
    for (int y = 10; y < 13; y++)
        for (int x = 5; x < 21; x++) pixels[y * 288 + x] = 0x00FF0000;
    pixels[200 * 288 + 287] = 0x0000FF00;
    pixels[416 * 288 + 0] = 0x000000FF;
    pixels[0] = 0x00FFFFFF;
    pixels[100 * 288 + 100] |= 0xAB000000u;
    plat_present(window);
    on_screen_matches("after changes");
    plat_present(window);
    on_screen_matches("presented unchanged");
    plat_delete_back_buffer(window);
}

TEST_F(QtBackendTest, ticks_missed_while_nobody_retrieves_come_out_as_one) {
    plat_set_timer(window, 4, 10);
    for (int i = 0; i < 6; i++) {
        usleep(20000);
        QCoreApplication::processEvents();   // the timer fires, unretrieved
    }
    plat_post_message(window, APP_A, 0, 0);
    EXPECT_EQ(next().message, APP_A);
    PlatMessage t = next();
    EXPECT_EQ(t.message, (uint32_t)PLAT_WM_TIMER);
    // Killing the timer also drops a tick that was still pending.
    usleep(30000);
    QCoreApplication::processEvents();
    plat_kill_timer(window, 4);
    EXPECT_EQ(first_synthesised().wparam, 99u);
}

TEST_F(QtBackendTest, hidden_window_gets_its_paint_when_shown) {
    plat_invalidate(window);
    EXPECT_EQ(first_synthesised().message, (uint32_t)PLAT_WM_TIMER);
    plat_show_window(window, 1);
    bool painted = false;
    for (int i = 0; i < 100 && !painted; i++) painted = next().message == PLAT_WM_PAINT;
    EXPECT_TRUE(painted);
}

// ---------------------------------------------------------------- modal

TEST_F(QtBackendTest, timer_runs_inside_message_box_and_quit_closes_it) {
    setenv("QUORVAX_MESSAGE_BOX_TIMEOUT_MS", "20000", 1);   // guard only
    plat_set_timer(window, 5, 10);
    int modal_ticks = 0;
    on_message = [&](const Seen &s) {
        if (s.message == PLAT_WM_TIMER && s.in_modal && ++modal_ticks == 3) plat_post_quit(4);
    };
    in_modal = true;
    plat_message_box("List.o", "File not found!!");
    in_modal = false;
    // Closed by the quit message at the third tick, not by the guard.
    EXPECT_EQ(modal_ticks, 3);
    for (const Seen &s : dispatched) EXPECT_EQ(s.window, window);
    PlatMessage q;
    EXPECT_EQ(plat_get_message(&q), 0);
    EXPECT_EQ(q.wparam, 4u);
    plat_kill_timer(window, 5);
    unsetenv("QUORVAX_MESSAGE_BOX_TIMEOUT_MS");
}

TEST_F(QtBackendTest, folder_chooser_opens_at_the_start_folder_and_answers_utf8_within_the_buffer) {
    char dir_template[] = "/tmp/quorvax-chooser-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = std::string(dir_template) + "/Vid\xc3\xa9os";   // "Vidéos"
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    plat_set_timer(window, 6, 10);
    QString opened_at;
    on_message = [&](const Seen &s) {
        if (s.message != PLAT_WM_TIMER || !s.in_modal) return;
        QFileDialog *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) return;
        opened_at = dialog->directory().absolutePath();
        // Typed as a person would (selectFile leaves a focused name field alone).
        QLineEdit *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromUtf8(dir.c_str()));
        static_cast<QDialog *>(dialog)->accept();   // QFileDialog checks the choice
    };

    char out[512];
    in_modal = true;
    int chosen = plat_choose_folder(window, "Download folder", dir.c_str(), out, sizeof out);
    in_modal = false;
    ASSERT_EQ(chosen, 1);
    EXPECT_EQ(std::string(out), dir);
    EXPECT_EQ(opened_at, QString::fromUtf8(dir.c_str()));

    // A start folder that does not exist opens the home folder; a path that
    // would not fit is refused and the buffer left alone.
    char small[8];
    memset(small, 'x', sizeof small);
    opened_at.clear();
    in_modal = true;
    chosen = plat_choose_folder(window, "Download folder", "/no/such/folder", small, sizeof small);
    in_modal = false;
    EXPECT_EQ(chosen, 0);
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));
    EXPECT_EQ(opened_at, QDir(QDir::homePath()).absolutePath());
    plat_kill_timer(window, 6);
    rmdir(dir.c_str());
    rmdir(dir_template);
}

// ---------------------------------------------------------------- input

TEST_F(QtBackendTest, mouse_buttons_become_windows_messages_with_client_point_and_flags) {
    show_settled();
    mouse(QEvent::MouseMove, {12, 34}, Qt::NoButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, {12, 34}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    mouse(QEvent::MouseButtonRelease, {12, 34}, Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseButtonDblClick, {12, 34}, Qt::LeftButton, Qt::LeftButton,
          Qt::ControlModifier);
    mouse(QEvent::MouseButtonRelease, {12, 34}, Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, {200, 400}, Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {200, 400}, Qt::RightButton, Qt::NoButton);

    std::vector<PlatMessage> got = drain();
    const uint32_t want[][2] = {
        {PLAT_WM_MOUSEMOVE, 0},       {PLAT_WM_LBUTTONDOWN, 0x1 | 0x4},
        {PLAT_WM_LBUTTONUP, 0},       {PLAT_WM_LBUTTONDBLCLK, 0x1 | 0x8},
        {PLAT_WM_LBUTTONUP, 0},       {PLAT_WM_RBUTTONDOWN, 0x2},
        {PLAT_WM_RBUTTONUP, 0},
    };
    ASSERT_EQ(got.size(), sizeof want / sizeof want[0]);
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].message, want[i][0]) << i;
        EXPECT_EQ(got[i].wparam, want[i][1]) << i;
    }
    EXPECT_EQ(got[0].lparam, point(12, 34));
    EXPECT_EQ(got[5].lparam, point(200, 400));
}

// The button messages among msgs must be want[0..count) exactly.
void expect_buttons(const std::vector<PlatMessage> &msgs, const uint32_t (*want)[3], size_t count) {
    std::vector<PlatMessage> got;
    for (const PlatMessage &m : msgs)
        if (is_button_message(m)) got.push_back(m);
    ASSERT_EQ(got.size(), count);
    for (size_t i = 0; i < count; i++) {
        EXPECT_EQ(got[i].message, want[i][0]) << i;
        EXPECT_EQ(got[i].wparam, want[i][1]) << i;
        EXPECT_EQ((uint32_t)got[i].lparam, want[i][2]) << i;
    }
}

TEST_F(QtBackendTest, a_double_click_comes_as_press_release_double_press_release) {
    show_settled();
    const uint32_t want[][3] = {
        {PLAT_WM_LBUTTONDOWN, 0x1 | 0x8, (uint32_t)point(12, 34)},
        {PLAT_WM_LBUTTONUP, 0x8, (uint32_t)point(12, 34)},
        {PLAT_WM_LBUTTONDBLCLK, 0x1 | 0x8, (uint32_t)point(12, 34)},
        {PLAT_WM_LBUTTONUP, 0x8, (uint32_t)point(12, 34)},
        {PLAT_WM_LBUTTONDOWN, 0x1, (uint32_t)point(50, 60)},
        {PLAT_WM_LBUTTONUP, 0, (uint32_t)point(50, 60)},
        {PLAT_WM_LBUTTONDOWN, 0x1, (uint32_t)point(50, 60)},
        {PLAT_WM_LBUTTONUP, 0, (uint32_t)point(50, 60)},
    };
    // Through Qt's own double-click detection, as the platform feeds it;
    // clicks further apart than the double-click time stay single.
    QTest::mouseDClick(native(), Qt::LeftButton, Qt::ControlModifier, QPoint(12, 34));
    QTest::mouseClick(native(), Qt::LeftButton, {}, QPoint(50, 60));
    QTest::mouseClick(native(), Qt::LeftButton, {}, QPoint(50, 60));
    expect_buttons(drain(), want, 8);

    // On X11 a person's double click, through the server.
    if (!on_x11() || !have_xdotool()) return;
    left_button(QEvent::MouseMove, {12, 34});
    xdo("keydown ctrl click --repeat 2 --delay 60 1 keyup ctrl");
    expect_buttons(drain_until([](const std::vector<PlatMessage> &all) {
                       int buttons = 0;
                       for (const PlatMessage &m : all) buttons += is_button_message(m);
                       return buttons >= 4;
                   }),
                   want, 4);
}

TEST_F(QtBackendTest, pointer_outside_the_shape_gives_no_message) {
    // Stepped top corners: (1, 1) lies outside the shape.
    const PlatRect rects[] = {{4, 0, 284, 2}, {2, 2, 286, 4}, {0, 4, 288, 417}};
    ASSERT_EQ(plat_set_window_region(window, rects, 3), 1);
    show_settled();
    mouse(QEvent::MouseMove, {1, 1}, Qt::NoButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton, Qt::LeftButton);
    // During a drag X11 still reports the pointer beyond the window.
    mouse(QEvent::MouseMove, {-30, 50}, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {300, 50}, Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseMove, {5, 1}, Qt::NoButton, Qt::NoButton);   // inside the step
    std::vector<PlatMessage> got = drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, (uint32_t)PLAT_WM_MOUSEMOVE);
    EXPECT_EQ(got[0].lparam, point(5, 1));
}

TEST_F(QtBackendTest, left_button_is_held_from_a_press_on_the_window_until_released_anywhere) {
    if (on_x11() && !have_xdotool()) GTEST_SKIP() << "needs xdotool to press the X server's button";
    const PlatRect rects[] = {{4, 0, 284, 2}, {2, 2, 286, 4}, {0, 4, 288, 417}};
    ASSERT_EQ(plat_set_window_region(window, rects, 3), 1);
    show_settled();
    auto held = [] { return plat_key_down(PLAT_VK_LBUTTON) == 1; };
    auto released = [] { return plat_key_down(PLAT_VK_LBUTTON) == 0; };
    left_button(QEvent::MouseButtonPress, {20, 20});
    EXPECT_TRUE(pump_until(held));
    left_button(QEvent::MouseMove, {-30, 60});   // dragged out of the window
    pump(50);
    EXPECT_TRUE(held());
    left_button(QEvent::MouseButtonRelease, {-30, 60});
    EXPECT_TRUE(pump_until(released));
    // A press outside the window's shape is not ours.
    left_button(QEvent::MouseButtonPress, {1, 1});
    pump(50);
    EXPECT_TRUE(released());
    left_button(QEvent::MouseButtonRelease, {1, 1});
    // Hidden, the window loses the grab and will not see the release.
    left_button(QEvent::MouseButtonPress, {20, 20});
    EXPECT_TRUE(pump_until(held));
    plat_show_window(window, PLAT_HIDE);
    EXPECT_TRUE(released());
    left_button(QEvent::MouseButtonRelease, {20, 20});
    // Only the two presses inside reached the program, at their client point.
    const uint32_t want[][3] = {{PLAT_WM_LBUTTONDOWN, 0x1, (uint32_t)point(20, 20)},
                                {PLAT_WM_LBUTTONDOWN, 0x1, (uint32_t)point(20, 20)}};
    expect_buttons(drain(), want, 2);

    if (!on_x11()) return;
    // A press Qt saw whose release the server gave another window: the
    // server's button state ends it.
    show_settled();
    QTest::mousePress(native(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(released());
    QTest::mouseRelease(native(), Qt::LeftButton, {}, QPoint(20, 20));
}

TEST_F(QtBackendTest, dragged_window_keeps_its_size_unpainted_and_its_rect_matches_the_pointer) {
    show_settled();
    // X11 may expose a new window twice (Qt's first paint, then the
    // server's): its paints are answered before the moves begin.
    pump(100);
    if (first_synthesised().message == PLAT_WM_PAINT) validate();
    uint32_t *pixels = plat_create_back_buffer(window, 288, 417);
    ASSERT_NE(pixels, nullptr);
    for (int i = 0; i < 288 * 417; i++) pixels[i] = 0x00336699;
    plat_present(window);
    for (int i = 0; i <= 40; i++) {
        plat_move_window(window, 100 + i * 5, 80 + i * 3, 288, 417);
        QCoreApplication::processEvents();
    }
    pump(100);   // what the system answers to the moves
    expect_window_at(window, 300, 200);
    PlatRect r;
    ASSERT_EQ(plat_window_rect(window, &r), 1);
    EXPECT_EQ(widget()->size(), QSize(288, 417));
    EXPECT_EQ(first_synthesised().message, (uint32_t)PLAT_WM_TIMER) << "a move asked for a paint";
    EXPECT_EQ(widget()->grab().toImage().pixel(287, 416) & 0xFFFFFFu, 0x336699u);

    // The pointer put at a screen point (on X11 the server's pointer): the
    // message has the client point, which is also what the program finds
    // by taking the window's corner from the cursor position.
    QCursor::setPos(330, 250);
    std::vector<PlatMessage> got = drain_until([](const std::vector<PlatMessage> &all) {
        return !all.empty() && all.back().message == PLAT_WM_MOUSEMOVE;
    });
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().lparam, point(30, 50));
    int x = 0, y = 0;
    plat_cursor_pos(&x, &y);
    EXPECT_EQ(x, 330);
    EXPECT_EQ(y, 250);
    EXPECT_EQ(x - r.left, 30);
    EXPECT_EQ(y - r.top, 50);

    // A new size does need the program's picture.
    plat_move_window(window, 300, 200, 300, 417);
    ASSERT_EQ(plat_window_rect(window, &r), 1);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_TRUE(pump_until([&] {
        PlatMessage m = first_synthesised();
        if (m.message == PLAT_WM_PAINT) validate();
        return m.message == PLAT_WM_PAINT;
    }));
    plat_delete_back_buffer(window);
}

// The position the program reads on every heartbeat is learned from the
// pointer's own events; it must follow the pointer out of the window at
// once, not keep the last point inside (a hover look would stay lit).
TEST_F(QtBackendTest, cursor_position_follows_the_pointer_in_and_out_of_the_window) {
    if (!on_x11() || !have_xdotool()) GTEST_SKIP() << "needs an X server and xdotool";
    show_settled();
    PlatRect r;
    ASSERT_EQ(plat_window_rect(window, &r), 1);
    int x = 0, y = 0;
    put_pointer(r.left + 100, r.top + 200);
    pump(50);
    plat_cursor_pos(&x, &y);
    EXPECT_EQ(x, r.left + 100);
    EXPECT_EQ(y, r.top + 200);
    for (int round = 0; round < 3; round++) {
        put_pointer(r.left + 120 + round, r.top + 210);
        pump(20);
        plat_cursor_pos(&x, &y);
        EXPECT_EQ(x, r.left + 120 + round);
        // Out in one jump: no movement inside tells where it went.
        put_pointer(r.right + 300, r.top + 10 + round);
        pump(20);
        plat_cursor_pos(&x, &y);
        EXPECT_EQ(x, r.right + 300) << "round " << round;
        EXPECT_EQ(y, r.top + 10 + round) << "round " << round;
    }
    // A window that appears under a pointer standing still.
    plat_show_window(window, PLAT_HIDE);
    pump(50);
    put_pointer(r.left + 50, r.top + 60);
    plat_cursor_pos(&x, &y);
    plat_show_window(window, PLAT_SHOW_NO_ACTIVATE);
    pump(100);
    plat_cursor_pos(&x, &y);
    EXPECT_EQ(x, r.left + 50);
    EXPECT_EQ(y, r.top + 60);
}

TEST_F(QtBackendTest, class_cursor_changes_at_the_next_pointer_movement) {
    show_settled();
    EXPECT_EQ(widget()->cursor().shape(), Qt::ArrowCursor);
    plat_set_class_cursor(window, PLAT_CURSOR_HAND);
    EXPECT_EQ(widget()->cursor().shape(), Qt::ArrowCursor);
    mouse(QEvent::MouseMove, {20, 80}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(widget()->cursor().shape(), Qt::PointingHandCursor);
    plat_set_class_cursor(window, PLAT_CURSOR_ARROW);
    mouse(QEvent::MouseMove, {21, 80}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(widget()->cursor().shape(), Qt::ArrowCursor);
    drain();
}

TEST_F(QtBackendTest, wheel_puts_signed_delta_high_and_screen_point) {
    show_settled();
    QPointF pos(50, 60);
    QPointF global = widget()->mapToGlobal(pos);
    QWheelEvent down(pos, global, QPoint(), QPoint(0, -120), Qt::NoButton, Qt::ShiftModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget(), &down);
    QWheelEvent up(pos, global, QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget(), &up);
    std::vector<PlatMessage> got = drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, (uint32_t)PLAT_WM_MOUSEWHEEL);
    EXPECT_EQ((int16_t)(got[0].wparam >> 16), -120);
    EXPECT_EQ(got[0].wparam & 0xFFFF, 0x4u);
    EXPECT_EQ((int16_t)(got[1].wparam >> 16), 240);
    EXPECT_EQ(got[0].lparam, point((int)global.x(), (int)global.y()));

    // A high-resolution wheel's parts of a notch add up to whole notches;
    // the pixel delta beside the angle is the same turn, not more of it.
    auto turn = [&](int angle, int pixels) {
        QWheelEvent e(pos, global, QPoint(0, pixels), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::ScrollUpdate, false);
        QApplication::sendEvent(widget(), &e);
    };
    auto deltas = [&] {
        std::vector<int> out;
        for (const PlatMessage &m : drain())
            if (m.message == PLAT_WM_MOUSEWHEEL) out.push_back((int16_t)(m.wparam >> 16));
        return out;
    };
    turn(40, 5);
    turn(40, 5);
    EXPECT_TRUE(deltas().empty());
    turn(40, 5);
    turn(200, 25);   // 120 + 80 left over
    EXPECT_EQ(deltas(), (std::vector<int>{120, 120}));
    turn(-30, 4);   // the other way: the 80 left is dropped, not set against it
    turn(-90, 11);
    turn(120, 15);
    EXPECT_EQ(deltas(), (std::vector<int>{-120, 120}));
}

TEST_F(QtBackendTest, keys_give_virtual_key_codes_and_a_held_state) {
    show_settled();
    key(QEvent::KeyPress, Qt::Key_5);
    EXPECT_EQ(plat_key_down('5'), 1);
    key(QEvent::KeyRelease, Qt::Key_5, Qt::NoModifier, true);    // auto-repeat pair
    key(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, true);
    EXPECT_EQ(plat_key_down('5'), 1);
    key(QEvent::KeyRelease, Qt::Key_5);
    EXPECT_EQ(plat_key_down('5'), 0);
    key(QEvent::KeyPress, Qt::Key_Backspace);
    key(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    key(QEvent::KeyPress, Qt::Key_Space);
    key(QEvent::KeyPress, Qt::Key_Q);
    key(QEvent::KeyPress, Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(plat_key_down(PLAT_VK_BACK), 1);
    EXPECT_EQ(plat_key_down(PLAT_VK_RETURN), 1);
    EXPECT_EQ(plat_key_down(PLAT_VK_SPACE), 1);
    EXPECT_EQ(plat_key_down('7'), 0);   // the keypad's 7 is another key

    std::vector<PlatMessage> got = drain();
    const uint32_t want[][2] = {
        {PLAT_WM_KEYDOWN, '5'}, {PLAT_WM_KEYDOWN, '5'},  {PLAT_WM_KEYUP, '5'},
        {PLAT_WM_KEYDOWN, 8},   {PLAT_WM_KEYDOWN, 13},   {PLAT_WM_KEYDOWN, 32},
        {PLAT_WM_KEYDOWN, 'Q'}, {PLAT_WM_KEYDOWN, 0x67},
    };
    ASSERT_EQ(got.size(), sizeof want / sizeof want[0]);
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].message, want[i][0]) << i;
        EXPECT_EQ(got[i].wparam, want[i][1]) << i;
    }
    EXPECT_EQ(got[0].lparam & (1 << 30), 0);   // first press
    EXPECT_NE(got[1].lparam & (1 << 30), 0);   // repeat: was already down

    // Focus leaving with keys held must not leave them held for ever.
    key(QEvent::KeyPress, Qt::Key_Delete);
    EXPECT_EQ(plat_key_down(PLAT_VK_DELETE), 1);
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(widget(), &out);
    EXPECT_EQ(plat_key_down(PLAT_VK_DELETE), 0);
    EXPECT_EQ(plat_key_down(PLAT_VK_SPACE), 0);
    got = drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wparam, (uint32_t)PLAT_VK_DELETE);

    // Another window taking the activation forgets held keys too.
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget()));
    key(QEvent::KeyPress, Qt::Key_3);
    EXPECT_EQ(plat_key_down('3'), 1);
    OtherProgram other;
    ASSERT_TRUE(pump_until([&] { return other.active(); }));
    EXPECT_EQ(plat_key_down('3'), 0);
    drain();
}

TEST(QtVirtualKeyTest, digit_row_keys_are_digits_by_position_whatever_the_layout_types) {
    // X11 key codes 10..19 are the digit row: '&' and 'à' on a French
    // keymap, '!' with Shift on a US one.
    EXPECT_EQ(qt_virtual_key(Qt::Key_Ampersand, 0, 10), '1');
    EXPECT_EQ(qt_virtual_key(Qt::Key_Exclam, 0, 10), '1');
    EXPECT_EQ(qt_virtual_key(Qt::Key_Agrave, 0, 19), '0');
    EXPECT_EQ(qt_virtual_key(Qt::Key_7, 0, 10), '1');   // a Dvorak keymap's Shift digit
    // Without X11 key codes the digits still count, other symbols do not.
    EXPECT_EQ(qt_virtual_key(Qt::Key_4, 0, 0), '4');
    EXPECT_EQ(qt_virtual_key(Qt::Key_Ampersand, 0, 0), 0);
    // The keypad's digits are the keypad's keys (key codes 79..90 on X11).
    EXPECT_EQ(qt_virtual_key(Qt::Key_7, 1, 79), 0x67);
}

TEST_F(QtBackendTest, keys_typed_on_the_x_server_reach_the_focused_window_as_virtual_keys) {
    if (!on_x11() || !have_xdotool()) GTEST_SKIP() << "needs an X server and xdotool";
    show_settled();
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget()));
    xdo("key 5 Return space Delete BackSpace shift+2 KP_Enter");
    std::vector<uint32_t> downs;
    drain_until([&](const std::vector<PlatMessage> &all) {
        downs.clear();
        for (const PlatMessage &m : all)
            if (m.message == PLAT_WM_KEYDOWN) downs.push_back(m.wparam);
        return downs.size() >= 8;
    });
    EXPECT_EQ(downs, (std::vector<uint32_t>{'5', 13, 32, 46, 8, 0x10, '2', 13}));
    xdo("keydown shift+7");
    EXPECT_TRUE(pump_until([] { return plat_key_down('7') == 1; }));
    xdo("keyup shift+7");
    EXPECT_TRUE(pump_until([] { return plat_key_down('7') == 0; }));
}

// --------------------------------------------------------------- window

TEST_F(QtBackendTest, window_rect_follows_moves_and_handles_die_with_the_window) {
    expect_window_at(window, 40, 30);
    PlatRect r;
    plat_move_window(window, 100, 120, 288, 417);
    ASSERT_EQ(plat_window_rect(window, &r), 1);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.bottom, 120 + 417);

    plat_window other = plat_create_window("Quorvax", "other", 0, 0, 10, 10);
    ASSERT_NE(other, 0u);
    EXPECT_NE(other, window);
    plat_destroy_window(other);
    EXPECT_EQ(plat_window_rect(other, &r), 0);
    EXPECT_EQ(plat_set_timer(other, 1, 25), 0);
    EXPECT_EQ(plat_create_window("NoSuchClass", "x", 0, 0, 10, 10), 0u);
}

TEST_F(QtBackendTest, destroy_sends_wm_destroy_once_whether_shown_or_not) {
    plat_window never_shown = plat_create_window("Quorvax", "a", 0, 0, 10, 10);
    plat_window shown = plat_create_window("Quorvax", "b", 0, 0, 10, 10);
    plat_show_window(shown, 1);
    plat_show_window(shown, 0);
    plat_destroy_window(never_shown);
    plat_destroy_window(shown);
    plat_destroy_window(shown);   // gone already: nothing more
    ASSERT_EQ(dispatched.size(), 2u);
    EXPECT_EQ(dispatched[0].window, never_shown);
    EXPECT_EQ(dispatched[0].message, (uint32_t)PLAT_WM_DESTROY);
    EXPECT_EQ(dispatched[1].window, shown);
    EXPECT_EQ(dispatched[1].message, (uint32_t)PLAT_WM_DESTROY);
}

TEST_F(QtBackendTest, showing_without_activation_leaves_the_focus_where_it_is) {
    show_settled();
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget()));
    OtherProgram other;
    ASSERT_TRUE(pump_until([&] { return other.active(); }));
    plat_show_window(window, PLAT_SHOW_NO_ACTIVATE);
    pump(200);
    EXPECT_TRUE(other.active());
    EXPECT_TRUE(widget()->isVisible());
    plat_show_window(window, PLAT_SHOW);
    EXPECT_TRUE(pump_until([&] { return QApplication::activeWindow() == widget(); }));

    // Popping up from hidden; Qt's offscreen platform activates every
    // window it shows, so only a real server can tell.
    if (!on_x11()) return;
    plat_show_window(window, PLAT_HIDE);
    other.field.activateWindow();
    ASSERT_TRUE(pump_until([&] { return other.active(); }));
    plat_show_window(window, PLAT_SHOW_NO_ACTIVATE);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget()));
    pump(300);
    EXPECT_TRUE(other.active());
    drain();
}

TEST_F(QtBackendTest, sigterm_ends_the_loop_with_the_quit_message) {
    plat_quit_on_termination();
    plat_post_message(window, APP_A, 0, 0);
    raise(SIGTERM);
    EXPECT_EQ(next().message, APP_A);
    PlatMessage q;
    EXPECT_EQ(plat_get_message(&q), 0);
    EXPECT_EQ(q.message, (uint32_t)PLAT_WM_QUIT);
}

// ------------------------------------------------------------ instances

// A later start knocks from another thread, as it would from another
// process: the loop that retrieves messages takes the request, posts the
// message to the listening window, and only then does the caller have its
// answer.  A window that is gone hears nothing any more.
TEST_F(QtBackendTest, a_later_start_is_heard_while_messages_are_retrieved) {
    const std::string key = "/qt-backend-test/" + std::to_string(getpid()) + "/list.o";
    ASSERT_EQ(plat_listen_for_instances(window, key.c_str(), APP_A), 1);
    auto knock = std::async(std::launch::async, [&] { return plat_signal_running_instance(key.c_str()); });
    auto knocks = [](const std::vector<PlatMessage> &all) {
        for (const PlatMessage &m : all)
            if (m.message == APP_A) return true;
        return false;
    };
    std::vector<PlatMessage> got = drain_until(knocks, 3000);
    ASSERT_TRUE(knocks(got));
    for (const PlatMessage &m : got) {
        if (m.message == APP_A) {
            EXPECT_EQ(m.window, window);
        }
    }
    EXPECT_EQ(knock.get(), 1);

    // A listen for another window replaces this one; it ends with its window.
    plat_window other = plat_create_window("Quorvax", "other", 0, 0, 10, 10);
    ASSERT_EQ(plat_listen_for_instances(other, key.c_str(), APP_B), 1);
    plat_destroy_window(other);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(plat_signal_running_instance(key.c_str()), 0);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(plat_listen_for_instances(other, key.c_str(), APP_B), 0);
}

// ------------------------------------------------------------ clipboard

TEST_F(QtBackendTest, clipboard_text_comes_as_utf8_and_emptying_removes_it) {
    QGuiApplication::clipboard()->setText(QString::fromUtf8("http://example.test/v?t=caf\xc3\xa9"));
    EXPECT_EQ(plat_clipboard_has_text(), 1);
    ASSERT_EQ(plat_clipboard_open(window), 1);
    const char *text = plat_clipboard_text();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "http://example.test/v?t=caf\xc3\xa9");
    plat_clipboard_empty();
    plat_clipboard_close();
    EXPECT_EQ(plat_clipboard_has_text(), 0);

    QGuiApplication::clipboard()->setText(QString());
    EXPECT_EQ(plat_clipboard_has_text(), 0);
}

TEST_F(QtBackendTest, text_a_password_manager_marks_secret_is_never_handed_out) {
    const QString hint = QStringLiteral("x-kde-passwordManagerHint");
    auto copy = [&](const char *text, const char *mark) {
        QMimeData *data = new QMimeData;   // the clipboard takes it over
        data->setText(QString::fromUtf8(text));
        if (mark) data->setData(hint, QByteArray(mark));
        QGuiApplication::clipboard()->setMimeData(data);
    };
    copy("reelbox.test/watch/hunter2", "secret");
    EXPECT_EQ(plat_clipboard_has_text(), 1);
    ASSERT_EQ(plat_clipboard_open(window), 1);
    EXPECT_EQ(plat_clipboard_text(), nullptr);
    plat_clipboard_close();

    // The mark with any other value hides nothing.
    copy("reelbox.test/watch/a", "accept");
    ASSERT_EQ(plat_clipboard_open(window), 1);
    const char *text = plat_clipboard_text();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "reelbox.test/watch/a");
    plat_clipboard_close();
    QGuiApplication::clipboard()->clear();
}

TEST_F(QtBackendTest, huge_clipboard_text_is_cut_below_a_mebibyte_between_characters) {
    // 'é' is two bytes, so one straddles the boundary at 1 MiB - 1 bytes.
    QString huge(600000, QChar(0xE9));
    QGuiApplication::clipboard()->setText(huge);
    ASSERT_EQ(plat_clipboard_open(window), 1);
    const char *text = plat_clipboard_text();
    ASSERT_NE(text, nullptr);
    size_t length = strlen(text);
    EXPECT_LT(length, (size_t)1024 * 1024);
    EXPECT_GT(length, (size_t)1024 * 1024 - 4);
    EXPECT_EQ(length % 2, 0u) << "cut inside a character";
    plat_clipboard_close();
    QGuiApplication::clipboard()->clear();
}

TEST(QtUtf8PrefixTest, never_cuts_inside_a_character) {
    const char *text = "ab\xc3\xa9\xe2\x82\xac";   // a b é €
    EXPECT_EQ(qt_utf8_prefix(text, 7, 10), 7u);
    EXPECT_EQ(qt_utf8_prefix(text, 7, 3), 2u);   // é would be cut
    EXPECT_EQ(qt_utf8_prefix(text, 7, 4), 4u);
    EXPECT_EQ(qt_utf8_prefix(text, 7, 6), 4u);   // € would be cut
}

// ----------------------------------------------------------------- text

TEST_F(QtBackendTest, missing_windows_faces_take_their_substitutes) {
    const QStringList families = QFontDatabase::families();
    for (const char *needed : {"Liberation Serif", "Liberation Sans", "DejaVu Sans"})
        if (!families.contains(QString::fromLatin1(needed))) GTEST_SKIP() << "needs " << needed;
    if (families.contains(QStringLiteral("MS Serif")) || families.contains(QStringLiteral("Arial")))
        GTEST_SKIP() << "the Windows faces are installed here";
    const char *sample = "Quorvax 1,5M 0123456789";
    auto width_of = [&](const char *face, int weight) {
        plat_font font = plat_create_font(face, 12, weight);
        int width = 0, height = 0;
        plat_measure_text(font, sample, -1, &width, &height);
        plat_delete_font(font);
        return width;
    };
    // Left to fontconfig, an unknown serif face would come out sans.
    EXPECT_EQ(width_of("MS Serif", 400), width_of("Liberation Serif", 400));
    EXPECT_NE(width_of("MS Serif", 400), width_of("DejaVu Sans", 400));
    EXPECT_EQ(width_of("Arial", 800), width_of("Liberation Sans", 800));
    EXPECT_EQ(width_of("Thoma", 400), width_of("DejaVu Sans", 400));
}

TEST_F(QtBackendTest, text_lands_below_y_inside_the_clip_in_the_exact_colour) {
    const int W = 120, H = 40;
    const uint32_t background = 0x00102030, colour = 0x00FFEE00;
    std::vector<uint32_t> pixels((size_t)W * H, background);
    plat_font font = plat_create_font("DejaVu Sans", 14, 700);
    const PlatRect clip = {10, 5, 60, 35};
    int drawn = plat_draw_text(pixels.data(), W, H, font, 12, 8, "IIIIIIIIIIIIIIII", 16, colour,
                               &clip);
    int measured, height;
    plat_measure_text(font, "IIIIIIIIIIIIIIII", 16, &measured, &height);
    EXPECT_EQ(drawn, measured);
    EXPECT_GT(drawn, 50);   // the text runs past the clip

    int changed = 0, exact = 0, outside = 0, above = 0, right_of_clip = 0;
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            uint32_t p = pixels[(size_t)y * W + x] & 0x00FFFFFF;
            if (p == background) continue;
            changed++;
            if (p == colour) exact++;
            if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) outside++;
            if (y < 8) above++;
            if (x >= 55) right_of_clip++;
        }
    }
    EXPECT_GT(changed, 0);
    EXPECT_GT(exact, 0);          // full-coverage stems carry the colour as given
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(above, 0);          // y is the top of the text
    EXPECT_GT(right_of_clip, 0);  // drawn right up to the clip's edge
    plat_delete_font(font);
}

// Text comes from masks kept per text and clip; laid on any background in
// any colour, at a second place and a second time (from the kept mask), it
// must give the pixels a painter drawing the text there gives.
TEST_F(QtBackendTest, kept_text_gives_the_pixels_a_painter_gives) {
    const int W = 200, H = 60;
    std::vector<uint32_t> background((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            background[(size_t)y * W + x] = (uint32_t)((x * 5) & 0xFF) << 16 |
                                            (uint32_t)((y * 9) & 0xFF) << 8 | (uint32_t)((x + y) & 0xFF);
    plat_font font = plat_create_font("DejaVu Sans", 13, 400);
    QFont reference_font("DejaVu Sans");
    reference_font.setPixelSize(13);
    reference_font.setWeight(QFont::Normal);
    reference_font.setHintingPreference(QFont::PreferFullHinting);
    reference_font.setKerning(false);
    const int ascent = QFontMetrics(reference_font).ascent();
    const char *text = "Caf\xc3\xa9 Society 12.5 MB/s";
    const struct {
        int x, y;
        uint32_t colour;
        PlatRect clip;
    } cases[] = {
        {3, 2, 0x00202090, {0, 0, W, H}},
        {40, 30, 0x00FFEE00, {45, 33, 120, 44}},   // cut on every side
        {3, 2, 0x00202090, {0, 0, W, H}},          // again: from the kept mask
        {-20, 20, 0x009A9A00, {0, 0, W, H}},       // partly left of the picture
    };
    for (const auto &c : cases) {
        std::vector<uint32_t> got = background, want = background;
        int advance = plat_draw_text(got.data(), W, H, font, c.x, c.y, text, (int)strlen(text),
                                     c.colour, &c.clip);
        EXPECT_GT(advance, 100);
        QImage image((uchar *)want.data(), W, H, W * 4, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            painter.setClipRect(QRect(c.clip.left, c.clip.top, c.clip.right - c.clip.left,
                                      c.clip.bottom - c.clip.top));
            painter.setFont(reference_font);
            painter.setPen(QColor((int)(c.colour >> 16), (int)((c.colour >> 8) & 0xFF),
                                  (int)(c.colour & 0xFF)));
            painter.drawText(QPoint(c.x, c.y + ascent), QString::fromUtf8(text));
        }
        int changed = 0, worst = 0;
        for (size_t k = 0; k < got.size(); k++) {
            if ((want[k] & 0xFFFFFF) != background[k]) changed++;
            for (int shift = 0; shift <= 16; shift += 8) {
                int d = (int)((got[k] >> shift) & 0xFF) - (int)((want[k] >> shift) & 0xFF);
                if (d < 0) d = -d;
                if (d > worst) worst = d;
            }
        }
        EXPECT_GT(changed, 20) << "at " << c.x << "," << c.y;
        EXPECT_LE(worst, 2) << "at " << c.x << "," << c.y;
    }
    plat_delete_font(font);
}

} // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    plat_finish();
    return result;
}
