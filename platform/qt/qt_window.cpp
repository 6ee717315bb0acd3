// qt_window.cpp - the application object, the message queue, window timers,
// the window itself and the input it receives.
//
// Sections: [STATE] [APPLICATION] [QUEUE] [TIMERS] [WIDGET] [WINDOW] [INPUT]
//           [SIGNALS] [MODAL]
//
// The program is written against a Windows-style queue: it pulls one message
// at a time with plat_get_message and hands it to plat_dispatch_message.  Qt
// delivers events to widgets instead, so the widget turns every event into a
// message on our own first-in first-out queue, and plat_get_message runs the
// Qt event loop only until that queue (or a synthesised message) has
// something.  Synthesised messages follow the Windows order: queued input and
// posted messages, then the quit message, then WM_PAINT, then WM_TIMER - the
// last two are flags, not queue entries, so they coalesce.
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QEnterEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <string>
#include <unistd.h>
#include <vector>

// ---------------------------------------------------------------- [STATE]

namespace {

// Windows messages the header does not name but Windows would send.
const uint32_t WM_RBUTTONDBLCLK = 0x0206;
const uint32_t WM_MBUTTONDOWN = 0x0207;
const uint32_t WM_MBUTTONUP = 0x0208;
const uint32_t WM_MBUTTONDBLCLK = 0x0209;

// Windows keeps no timer faster than this (USER_TIMER_MINIMUM).
const uint32_t TIMER_MINIMUM_MS = 10;

struct ClassEntry {
    std::string name;
    PlatWindowProc proc;
    PlatCursor cursor;
    plat_icon icon;
};

struct TimerEntry {
    uint32_t id;
    QTimer *timer;
    bool pending;        // one WM_TIMER waits to be retrieved
    bool in_dispatch;    // a tick is being handed over inside a modal loop
};

struct WindowEntry {
    QWidget *widget;           // null once destroyed
    int class_index;
    bool destroy_sent;         // WM_DESTROY went out (at most once)
    bool paint_pending;
    QRegion shape;             // the window region; empty = the whole window
    QImage back_buffer;        // the program draws here (RGB32, top byte 0)
    QImage picture;            // the back buffer as last presented (top byte 0xFF)
    int wheel_rest;            // wheel angle received but not yet sent (below a notch)
    std::vector<TimerEntry> timers;
};

// libxcb's pointer query, found at run time as the display probe below finds
// its functions: the program links no X library of its own.  The reply
// mirrors xcb_query_pointer_reply_t, whose layout the X protocol fixes.
struct XPointerReply {
    uint8_t response_type, same_screen;
    uint16_t sequence;
    uint32_t length, root, child;
    int16_t root_x, root_y, win_x, win_y;
    uint16_t mask;
    uint8_t pad[2];
};
struct XCookie {
    unsigned int sequence;
};
const uint16_t X_BUTTON1_MASK = 0x0100;

struct XPointerQuery {
    bool tried = false;      // the library was looked for (once)
    void *lib = nullptr;
    XCookie (*query)(void *, uint32_t) = nullptr;
    XPointerReply *(*reply)(void *, XCookie, void **) = nullptr;
};

struct BackendState {
    QApplication *app = nullptr;
    std::vector<ClassEntry> classes;
    std::vector<WindowEntry> windows;    // handle = index + 1
    std::deque<PlatMessage> queue;       // window 0 = a message to no window
    bool quit_pending = false;
    int quit_code = 0;
    bool presenting = false;             // plat_present is repainting
    bool keys[256] = {};                 // keys seen down by our window
    bool left_held = false;              // left press on our window, release not yet seen
    // The pointer's last known screen position (see plat_cursor_pos).
    bool pointer_known = false;
    QPoint pointer;
    uint32_t pointer_seen_at = 0;        // plat_tick when it was last learned
    XPointerQuery x_pointer;
    std::vector<QDialog *> modal_stack;  // open modal dialogs, innermost last
    int signal_pipe[2] = {-1, -1};
    QSocketNotifier *signal_notifier = nullptr;
};

BackendState g;

// Kept for the lifetime of the application object, as Qt requires.
int app_argc = 1;
char app_arg0[] = "quorvax";
char *app_argv[] = {app_arg0, nullptr};

// Qt's offscreen platform (used by the tests) keeps no window shapes and
// stacking, and warns at every attempt; the shape still filters input.
bool headless_platform() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

WindowEntry *entry_of(plat_window window) {
    if (window == 0 || window > g.windows.size()) return nullptr;
    WindowEntry *e = &g.windows[window - 1];
    return e->widget ? e : nullptr;
}

PlatWindowProc proc_of(const WindowEntry *e) {
    return g.classes[(size_t)e->class_index].proc;
}

int32_t pack_point(int x, int y) {
    return (int32_t)((((uint32_t)y & 0xFFFFu) << 16) | ((uint32_t)x & 0xFFFFu));
}

void post(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    PlatMessage m;
    m.window = window;
    m.message = message;
    m.wparam = wparam;
    m.lparam = lparam;
    g.queue.push_back(m);
}

void set_message(PlatMessage *out, plat_window window, uint32_t message, uint32_t wparam) {
    out->window = window;
    out->message = message;
    out->wparam = wparam;
    out->lparam = 0;
}

} // namespace

// ---------------------------------------------------------- [APPLICATION]

// Wayland gives no client a way to stay on top or to read the clipboard
// while another window has the focus; the program needs both, so on a
// Wayland session it runs through XWayland unless the user chose a platform.
static void prefer_x11_on_wayland(void) {
    const char *chosen = getenv("QT_QPA_PLATFORM");
    if (chosen && *chosen) return;
    const char *wayland = getenv("WAYLAND_DISPLAY");
    const char *session = getenv("XDG_SESSION_TYPE");
    if ((wayland && *wayland) || (session && strcmp(session, "wayland") == 0))
        setenv("QT_QPA_PLATFORM", "xcb", 1);
}

// Qt ends the process when its display connection fails, so the X server is
// tried first: a failed start must return 0 to the program instead.  The
// trial connection stays open until Qt has its own: an X server with no other
// client resets when its last client leaves, and would refuse Qt meanwhile.
namespace {
struct XProbe {
    void *lib = nullptr;
    void *conn = nullptr;
    void (*disconnect_fn)(void *) = nullptr;
};
}

static bool x_display_open(XProbe *probe) {
    const char *display = getenv("DISPLAY");
    if (!display || !*display) return false;
    probe->lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!probe->lib) return false;
    typedef void *(*ConnectFn)(const char *, int *);
    typedef int (*HasErrorFn)(void *);
    ConnectFn connect_fn = (ConnectFn)dlsym(probe->lib, "xcb_connect");
    HasErrorFn has_error_fn = (HasErrorFn)dlsym(probe->lib, "xcb_connection_has_error");
    probe->disconnect_fn = (void (*)(void *))dlsym(probe->lib, "xcb_disconnect");
    if (!connect_fn || !has_error_fn || !probe->disconnect_fn) return false;
    probe->conn = connect_fn(nullptr, nullptr);
    return probe->conn && has_error_fn(probe->conn) == 0;
}

static void x_display_close(XProbe *probe) {
    // xcb_disconnect also frees a connection that failed.
    if (probe->conn) probe->disconnect_fn(probe->conn);
    if (probe->lib) dlclose(probe->lib);
    *probe = XProbe();
}

int plat_init(void) {
    if (g.app) return 1;
    prefer_x11_on_wayland();
    const char *platform = getenv("QT_QPA_PLATFORM");
    XProbe probe;
    if (!platform || !*platform || strncmp(platform, "xcb", 3) == 0) {
        if (!x_display_open(&probe)) {
            x_display_close(&probe);
            return 0;
        }
    }
    g.app = new QApplication(app_argc, app_argv);
    x_display_close(&probe);
    if (!QGuiApplication::primaryScreen()) {
        delete g.app;
        g.app = nullptr;
        return 0;
    }
    // The program ends by its own quit message, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);
    return 1;
}

int qt_app_ready(void) { return g.app != nullptr; }

void plat_finish(void) {
    if (!g.app) return;
    qt_instance_release();
    qt_desktop_release();
    qt_text_release();
    for (WindowEntry &e : g.windows) {
        for (TimerEntry &t : e.timers) delete t.timer;
        e.timers.clear();
        delete e.widget;
        e.widget = nullptr;
    }
    g.windows.clear();
    g.queue.clear();
    g.quit_pending = false;
    memset(g.keys, 0, sizeof g.keys);
    g.left_held = false;
    g.pointer_known = false;
    if (g.x_pointer.lib) dlclose(g.x_pointer.lib);
    g.x_pointer = XPointerQuery();
    if (g.signal_notifier) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        delete g.signal_notifier;
        g.signal_notifier = nullptr;
        close(g.signal_pipe[0]);
        close(g.signal_pipe[1]);
        g.signal_pipe[0] = g.signal_pipe[1] = -1;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete g.app;
    g.app = nullptr;
}

// ---------------------------------------------------------------- [QUEUE]

static bool take_next(PlatMessage *out) {
    if (!g.queue.empty()) {
        *out = g.queue.front();
        g.queue.pop_front();
        return true;
    }
    if (g.quit_pending) {
        g.quit_pending = false;
        set_message(out, 0, PLAT_WM_QUIT, (uint32_t)g.quit_code);
        return true;
    }
    // A hidden window gets no WM_PAINT; the request waits until it shows.
    // As on Windows the paint stays pending, and comes out again, until the
    // procedure validates it with plat_begin_paint.
    for (size_t i = 0; i < g.windows.size(); i++) {
        WindowEntry &e = g.windows[i];
        if (e.widget && e.paint_pending && e.widget->isVisible()) {
            set_message(out, (plat_window)(i + 1), PLAT_WM_PAINT, 0);
            return true;
        }
    }
    for (size_t i = 0; i < g.windows.size(); i++) {
        WindowEntry &e = g.windows[i];
        if (!e.widget) continue;
        for (TimerEntry &t : e.timers) {
            if (!t.pending) continue;
            t.pending = false;
            set_message(out, (plat_window)(i + 1), PLAT_WM_TIMER, t.id);
            return true;
        }
    }
    return false;
}

int plat_get_message(PlatMessage *msg) {
    if (!g.app) {
        set_message(msg, 0, PLAT_WM_QUIT, 0);
        return 0;
    }
    // Take in what the system already holds, so that input which has
    // happened comes before the synthesised paint and timer messages.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        if (take_next(msg)) return msg->message == PLAT_WM_QUIT ? 0 : 1;
        // No event loop runs at top level, so objects released with
        // deleteLater are collected here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void plat_dispatch_message(const PlatMessage *msg) {
    if (!msg || msg->message == PLAT_WM_QUIT) return;
    WindowEntry *e = entry_of(msg->window);
    if (!e) return;
    PlatWindowProc proc = proc_of(e);
    if (proc) proc(msg->window, msg->message, msg->wparam, msg->lparam);
}

void plat_post_quit(int exit_code) {
    g.quit_pending = true;
    g.quit_code = exit_code;
    // As on Windows, the quit message also ends an open modal loop, so that
    // shut-down is not held up by a dialog nobody answers.
    if (!g.modal_stack.empty()) g.modal_stack.back()->reject();
}

void plat_post_message(plat_window window, uint32_t message, uint32_t wparam, int32_t lparam) {
    post(window, message, wparam, lparam);
}

int32_t plat_default_window_proc(plat_window window, uint32_t message,
                                 uint32_t wparam, int32_t lparam) {
    return 0;
}

// --------------------------------------------------------------- [TIMERS]

// A tick only raises the timer's flag, so ticks never pile up behind a slow
// consumer.  Inside a modal dialog the main loop is not running, so the tick
// goes straight to the window procedure, as Windows' modal loops do.
static void timer_fired(plat_window window, uint32_t id) {
    WindowEntry *e = entry_of(window);
    if (!e) return;
    size_t index = 0;
    while (index < e->timers.size() && e->timers[index].id != id) index++;
    if (index == e->timers.size()) return;
    TimerEntry &t = e->timers[index];
    PlatWindowProc proc = proc_of(e);
    if (g.modal_stack.empty() || t.in_dispatch || !proc) {
        t.pending = true;
        return;
    }
    t.in_dispatch = true;
    t.pending = false;
    proc(window, PLAT_WM_TIMER, id, 0);
    // The procedure may have changed the tables; look the timer up again.
    e = entry_of(window);
    if (!e) return;
    for (TimerEntry &again : e->timers)
        if (again.id == id) again.in_dispatch = false;
}

int plat_set_timer(plat_window window, uint32_t id, uint32_t period_ms) {
    WindowEntry *e = entry_of(window);
    if (!e) return 0;
    if (period_ms < TIMER_MINIMUM_MS) period_ms = TIMER_MINIMUM_MS;
    for (TimerEntry &t : e->timers) {
        if (t.id == id) {
            t.timer->start((int)period_ms);
            return 1;
        }
    }
    TimerEntry t;
    t.id = id;
    t.timer = new QTimer();
    t.timer->setTimerType(Qt::PreciseTimer);
    t.pending = false;
    t.in_dispatch = false;
    QObject::connect(t.timer, &QTimer::timeout, [window, id]() { timer_fired(window, id); });
    t.timer->start((int)period_ms);
    e->timers.push_back(t);
    return 1;
}

// The QTimer object stays (stopped) until the window goes: the procedure may
// kill the timer from inside the tick that QTimer is delivering.
void plat_kill_timer(plat_window window, uint32_t id) {
    WindowEntry *e = entry_of(window);
    if (!e) return;
    for (TimerEntry &t : e->timers) {
        if (t.id == id) {
            t.timer->stop();
            t.pending = false;
        }
    }
}

// --------------------------------------------------------------- [WIDGET]

static uint32_t key_flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    uint32_t flags = 0;
    if (buttons & Qt::LeftButton) flags |= 0x0001;
    if (buttons & Qt::RightButton) flags |= 0x0002;
    if (mods & Qt::ShiftModifier) flags |= 0x0004;
    if (mods & Qt::ControlModifier) flags |= 0x0008;
    if (buttons & Qt::MiddleButton) flags |= 0x0010;
    return flags;
}

static int virtual_key_of(const QKeyEvent *event);
static void learn_pointer(const QPoint &screen);
static void forget_pointer(void);

namespace {

class QuorvaxWidget : public QWidget {
public:
    explicit QuorvaxWidget(plat_window handle)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          handle_(handle) {
        // Every pixel comes from the presented picture.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent *event) override {
        WindowEntry *e = entry_of(handle_);
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (e && !e->picture.isNull()) painter.drawImage(0, 0, e->picture);
        // The system asked for a repaint: the program hears of it too.  Our
        // own repaint from plat_present must not, or presenting on WM_PAINT
        // would never end.
        if (e && !g.presenting) e->paint_pending = true;
    }

    void mouseMoveEvent(QMouseEvent *event) override {
        learn_pointer(event->globalPosition().toPoint());
        QPoint p = event->position().toPoint();
        if (!inside(p)) return;
        // The class cursor shows at the next pointer movement.
        WindowEntry *e = entry_of(handle_);
        if (e) {
            Qt::CursorShape wanted = g.classes[(size_t)e->class_index].cursor == PLAT_CURSOR_HAND
                                         ? Qt::PointingHandCursor
                                         : Qt::ArrowCursor;
            if (cursor().shape() != wanted) setCursor(wanted);
        }
        post(handle_, PLAT_WM_MOUSEMOVE, key_flags(event->buttons(), event->modifiers()),
             pack_point(p.x(), p.y()));
    }

    void mousePressEvent(QMouseEvent *event) override {
        // Qt marks the second press of a double click and holds it back from
        // widgets; should it ever hand it on, it is dropped here, since the
        // double-click event that follows stands for it, as WM_LBUTTONDBLCLK
        // stands for the second WM_LBUTTONDOWN on Windows.
        learn_pointer(event->globalPosition().toPoint());
        if (event->flags() & Qt::MouseEventCreatedDoubleClick) return;
        // A click activates the window, as on Windows, so keys reach it.
        if (!isActiveWindow()) activateWindow();
        button_message(event, PLAT_WM_LBUTTONDOWN, PLAT_WM_RBUTTONDOWN, WM_MBUTTONDOWN);
    }
    void mouseReleaseEvent(QMouseEvent *event) override {
        // The release ends a press on our window wherever the pointer is
        // now: X11 hands it to the window that took the press.
        learn_pointer(event->globalPosition().toPoint());
        if (event->button() == Qt::LeftButton) g.left_held = false;
        button_message(event, PLAT_WM_LBUTTONUP, PLAT_WM_RBUTTONUP, WM_MBUTTONUP);
    }
    // Qt reports a double click as press, release, double-click, release;
    // the double-click event stands where Windows sends WM_LBUTTONDBLCLK.
    void mouseDoubleClickEvent(QMouseEvent *event) override {
        learn_pointer(event->globalPosition().toPoint());
        button_message(event, PLAT_WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK);
    }

    // Qt reports every wheel in angle units of 1/8 degree, 120 a notch,
    // whatever the device gives (high-resolution wheels and touchpads send
    // parts of a notch; pixelDelta is the same turn in other units, so it is
    // not added).  Windows passes such parts on as they come, but a
    // procedure that counts notches as delta / 120 would lose them; so the
    // parts are added up here and every WM_MOUSEWHEEL carries whole notches,
    // the rest waiting for the next event.  A turn the other way starts the
    // sum afresh, so that it answers at once.
    void wheelEvent(QWheelEvent *event) override {
        WindowEntry *e = entry_of(handle_);
        int delta = event->angleDelta().y();
        if (!e || delta == 0 || !inside(event->position().toPoint())) return;
        const int NOTCH = 120, MOST = 32760;   // the largest whole notches a word holds
        if ((e->wheel_rest < 0 && delta > 0) || (e->wheel_rest > 0 && delta < 0))
            e->wheel_rest = 0;
        long sum = (long)e->wheel_rest + delta;
        long notches = sum / NOTCH * NOTCH;   // towards zero
        if (notches > MOST) notches = MOST;
        if (notches < -MOST) notches = -MOST;
        e->wheel_rest = (int)(sum - notches);
        if (notches == 0) return;
        QPoint screen = event->globalPosition().toPoint();
        uint32_t wparam = ((uint32_t)(notches & 0xFFFF) << 16) |
                          key_flags(event->buttons(), event->modifiers());
        post(handle_, PLAT_WM_MOUSEWHEEL, wparam, pack_point(screen.x(), screen.y()));
    }

    // The pointer came in (or the window appeared under it) and went out:
    // where it went is asked of the server once, at the next look.
    void enterEvent(QEnterEvent *event) override {
        learn_pointer(event->globalPosition().toPoint());
        QWidget::enterEvent(event);
    }
    void leaveEvent(QEvent *event) override {
        forget_pointer();
        QWidget::leaveEvent(event);
    }

    void keyPressEvent(QKeyEvent *event) override {
        int vk = virtual_key_of(event);
        if (vk == 0) return;
        g.keys[vk] = true;
        // lparam: repeat count 1, bit 30 = the key was already down.
        post(handle_, PLAT_WM_KEYDOWN, (uint32_t)vk,
             event->isAutoRepeat() ? (int32_t)(1 | (1u << 30)) : 1);
    }

    void keyReleaseEvent(QKeyEvent *event) override {
        // X11 repeats a held key as release/press pairs; Windows sends only
        // repeated key-downs, so the inner releases are dropped.
        if (event->isAutoRepeat()) return;
        int vk = virtual_key_of(event);
        if (vk == 0) return;
        g.keys[vk] = false;
        post(handle_, PLAT_WM_KEYUP, (uint32_t)vk, (int32_t)(1u | (1u << 30) | (1u << 31)));
    }

    // Releases that happen elsewhere never reach us: forget every key when
    // the focus goes, or a Delete key could read as held for ever.
    void focusOutEvent(QFocusEvent *event) override {
        memset(g.keys, 0, sizeof g.keys);
        QWidget::focusOutEvent(event);
    }
    void changeEvent(QEvent *event) override {
        if (event->type() == QEvent::ActivationChange && !isActiveWindow())
            memset(g.keys, 0, sizeof g.keys);
        QWidget::changeEvent(event);
    }

    // The window manager closing the window ends the program as WM_DESTROY
    // does on Windows; the widget itself stays until plat_destroy_window.
    void closeEvent(QCloseEvent *event) override {
        event->ignore();
        WindowEntry *e = entry_of(handle_);
        if (e && !e->destroy_sent) {
            e->destroy_sent = true;
            post(handle_, PLAT_WM_DESTROY, 0, 0);
        }
    }

private:
    // Pointer input outside the window's shape does not exist on Windows; on
    // X11 it still arrives while a button is held (the implicit grab).
    bool inside(const QPoint &p) const {
        if (!rect().contains(p)) return false;
        const WindowEntry *e = entry_of(handle_);
        return !e || e->shape.isEmpty() || e->shape.contains(p);
    }

    void button_message(QMouseEvent *event, uint32_t left, uint32_t right, uint32_t middle) {
        QPoint p = event->position().toPoint();
        if (!inside(p)) return;
        uint32_t message;
        switch (event->button()) {
        case Qt::LeftButton: message = left; break;
        case Qt::RightButton: message = right; break;
        case Qt::MiddleButton: message = middle; break;
        default: return;
        }
        if (message == PLAT_WM_LBUTTONDOWN || message == PLAT_WM_LBUTTONDBLCLK) g.left_held = true;
        post(handle_, message, key_flags(event->buttons(), event->modifiers()),
             pack_point(p.x(), p.y()));
    }

    plat_window handle_;
};

} // namespace

// --------------------------------------------------------------- [WINDOW]

int plat_register_class(const char *class_name, PlatWindowProc proc,
                        PlatCursor cursor, plat_icon icon) {
    if (!class_name || !*class_name) return 0;
    ClassEntry c;
    c.name = class_name;
    c.proc = proc;
    c.cursor = cursor;
    c.icon = icon;
    for (ClassEntry &old : g.classes) {
        if (strcasecmp(old.name.c_str(), class_name) == 0) {
            old = c;
            return 1;
        }
    }
    g.classes.push_back(c);
    // X11 takes WM_CLASS from the application name when the first window is
    // made, so the class name set here becomes the window's class.
    QCoreApplication::setApplicationName(QString::fromUtf8(class_name));
    return 1;
}

QWidget *qt_widget_of(plat_window window) {
    WindowEntry *e = entry_of(window);
    return e ? e->widget : nullptr;
}

const QIcon *qt_class_icon_of(plat_window window) {
    WindowEntry *e = entry_of(window);
    return e ? qt_icon_of(g.classes[(size_t)e->class_index].icon) : nullptr;
}

plat_window plat_create_window(const char *class_name, const char *title,
                               int x, int y, int width, int height) {
    if (!g.app || !class_name) return 0;
    int class_index = -1;
    for (size_t i = 0; i < g.classes.size(); i++)
        if (strcasecmp(g.classes[i].name.c_str(), class_name) == 0) class_index = (int)i;
    if (class_index < 0 || width <= 0 || height <= 0) return 0;

    plat_window handle = (plat_window)(g.windows.size() + 1);
    WindowEntry e;
    e.widget = nullptr;
    e.class_index = class_index;
    e.destroy_sent = false;
    e.paint_pending = false;
    e.wheel_rest = 0;
    g.windows.push_back(e);

    QuorvaxWidget *widget = new QuorvaxWidget(handle);
    g.windows.back().widget = widget;
    widget->setWindowTitle(QString::fromUtf8(title ? title : ""));
    widget->setFixedSize(width, height);
    // The client area's place, as plat_move_window sets it.
    widget->setGeometry(x, y, width, height);
    const ClassEntry &c = g.classes[(size_t)class_index];
    widget->setCursor(c.cursor == PLAT_CURSOR_HAND ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (const QIcon *icon = qt_icon_of(c.icon)) widget->setWindowIcon(*icon);
    return handle;
}

void plat_destroy_window(plat_window window) {
    WindowEntry *e = entry_of(window);
    if (!e) return;
    // As DestroyWindow does, whether the window was ever shown or not (the
    // program posts its quit message from WM_DESTROY).  A window the window
    // manager closed has had its WM_DESTROY already.
    if (!e->destroy_sent) {
        e->destroy_sent = true;
        PlatWindowProc proc = proc_of(e);
        if (proc) proc(window, PLAT_WM_DESTROY, 0, 0);
        e = entry_of(window);
        if (!e) return;
    }
    qt_instance_window_destroyed(window);
    for (TimerEntry &t : e->timers) delete t.timer;
    e->timers.clear();
    QWidget *widget = e->widget;
    e->widget = nullptr;
    e->back_buffer = QImage();
    e->picture = QImage();
    e->paint_pending = false;
    widget->hide();
    delete widget;
    g.left_held = false;   // the pointer grab went with the window
}

// A window shown without activation is the pop-up that greets a copied
// address: the user is typing elsewhere, and the keys must stay there.  Qt
// passes the wish to the system as it maps the window (on X11 a user time
// of 0, which tells the window manager not to focus it); it reads the
// widget's attribute for a window not made yet and the native window's
// property afterwards, so both are set.  Nothing then calls activateWindow.
void plat_show_window(plat_window window, int show) {
    WindowEntry *e = entry_of(window);
    if (!e) return;
    QWidget *widget = e->widget;
    if (show == PLAT_HIDE) {
        widget->hide();
        // X11 ends the pointer grab with the window: the release of a press
        // held now goes elsewhere.
        g.left_held = false;
        return;
    }
    const bool activate = show != PLAT_SHOW_NO_ACTIVATE;
    widget->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (QWindow *native = widget->windowHandle())
        native->setProperty("_q_showWithoutActivating", !activate);
    widget->show();
    if (!headless_platform()) widget->raise();
    if (activate) widget->activateWindow();
}

// Positions are those of the client area, which for this frameless window
// is the whole window: plat_window_rect answers with the same rectangle, and
// a window manager's frame, should it add one, never shifts either.  A pure
// move asks for no repaint: the system moves the picture along, and what an
// uncovered part needs comes back from Qt's backing store.  Only a new size
// makes the program draw the window again (through WM_PAINT).
void plat_move_window(plat_window window, int x, int y, int width, int height) {
    WindowEntry *e = entry_of(window);
    if (!e || width <= 0 || height <= 0) return;
    QWidget *widget = e->widget;
    const QRect target(x, y, width, height);
    if (widget->geometry() == target) return;
    if (widget->size() != target.size()) {
        widget->setFixedSize(width, height);
        widget->update();
    }
    widget->setGeometry(target);
}

int plat_window_rect(plat_window window, PlatRect *rect) {
    WindowEntry *e = entry_of(window);
    if (!e || !rect) return 0;
    QRect r = e->widget->geometry();
    rect->left = r.x();
    rect->top = r.y();
    rect->right = r.x() + r.width();
    rect->bottom = r.y() + r.height();
    return 1;
}

void plat_screen_size(int *width, int *height) {
    QScreen *screen = g.app ? QGuiApplication::primaryScreen() : nullptr;
    QRect r = screen ? screen->geometry() : QRect();
    if (width) *width = r.width();
    if (height) *height = r.height();
}

int plat_set_window_region(plat_window window, const PlatRect *rects, int count) {
    WindowEntry *e = entry_of(window);
    if (!e) return 0;
    QRegion region;
    for (int i = 0; rects && i < count; i++) {
        const PlatRect &r = rects[i];
        if (r.right > r.left && r.bottom > r.top)
            region += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    // No rectangle at all means no shape (Qt cannot make a window with an
    // empty shape; the program never asks for one).
    e->shape = region;
    if (headless_platform()) return 1;
    if (region.isEmpty())
        e->widget->clearMask();
    else
        e->widget->setMask(region);
    return 1;
}

void plat_invalidate(plat_window window) {
    WindowEntry *e = entry_of(window);
    if (e) e->paint_pending = true;
}

void plat_begin_paint(plat_window window) {
    WindowEntry *e = entry_of(window);
    if (e) e->paint_pending = false;
}

// Nothing is held between begin and end: the picture reaches the screen
// through plat_present, whenever the program presents it.
void plat_end_paint(plat_window window) {}

// The buffer is a QImage whose rows are exactly width pixels apart (RGB32
// rows need no padding), so its bits are the top-down picture the contract
// promises.  It is made and kept unshared: bits() on a shared QImage would
// copy it and leave the program drawing into a picture nobody presents.
uint32_t *plat_create_back_buffer(plat_window window, int width, int height) {
    WindowEntry *e = entry_of(window);
    if (!e || width <= 0 || height <= 0) return nullptr;
    e->back_buffer = QImage(width, height, QImage::Format_RGB32);
    if (e->back_buffer.isNull() || e->back_buffer.bytesPerLine() != (qsizetype)width * 4) {
        e->back_buffer = QImage();
        return nullptr;
    }
    // Not QImage::fill, which sets the top byte of RGB32 pixels to 0xFF.
    uint32_t *pixels = (uint32_t *)e->back_buffer.bits();
    memset(pixels, 0, (size_t)e->back_buffer.sizeInBytes());
    return pixels;
}

void plat_delete_back_buffer(plat_window window) {
    WindowEntry *e = entry_of(window);
    if (e) e->back_buffer = QImage();
}

void plat_present(plat_window window) {
    WindowEntry *e = entry_of(window);
    if (!e || e->back_buffer.isNull()) return;
    const QImage &buffer = e->back_buffer;
    const int width = buffer.width(), height = buffer.height();
    bool everything = false;
    if (e->picture.width() != width || e->picture.height() != height) {
        e->picture = QImage(width, height, QImage::Format_RGB32);
        everything = true;
    }
    // The picture on screen is the one presented last (a paint the system
    // asks for draws it whole), so only the rows that changed since need to
    // go to the screen: while downloads run that is a few text rows, not
    // the whole window.  Changed rows next to each other go as one
    // rectangle, as wide as what changed in them.
    // The program leaves the top byte undefined; Qt wants it 0xFF for RGB32.
    QRegion changed;
    int run_top = -1, run_left = width, run_right = -1;
    for (int row = 0; row <= height; row++) {
        int left = width, right = -1;
        if (row < height) {
            uint32_t *dst = (uint32_t *)e->picture.scanLine(row);
            const uint32_t *src = (const uint32_t *)buffer.constScanLine(row);
            for (int col = 0; col < width; col++) {
                const uint32_t p = src[col] | 0xFF000000u;
                if (dst[col] == p) continue;
                dst[col] = p;
                if (col < left) left = col;
                right = col;
            }
        }
        if (right >= 0) {
            if (run_top < 0) run_top = row;
            if (left < run_left) run_left = left;
            if (right > run_right) run_right = right;
        } else if (run_top >= 0) {
            changed += QRect(run_left, run_top, run_right - run_left + 1, row - run_top);
            run_top = -1;
            run_left = width;
            run_right = -1;
        }
    }
    g.presenting = true;
    if (everything)
        e->widget->repaint();
    else if (!changed.isEmpty())
        e->widget->repaint(changed);
    g.presenting = false;
}

void plat_set_class_cursor(plat_window window, PlatCursor cursor) {
    WindowEntry *e = entry_of(window);
    if (e) g.classes[(size_t)e->class_index].cursor = cursor;
}

// ---------------------------------------------------------------- [INPUT]

// Windows virtual-key codes.  The keys of the digit row count by position,
// as Windows counts them: X11 gives them key codes 10 to 19 on every keymap
// (evdev and the older kbd alike, XWayland included), so layouts whose
// digits need Shift (the French one types "&" there) still give '0' to '9',
// and so does Shift with a digit ('!' on a US keymap).  The position comes
// first, whatever symbol the layout puts on the key.
// The keypad's digits are other keys on Windows (VK_NUMPAD0 to 9, whatever
// Num Lock says), and GetAsyncKeyState('7') stays 0 while the keypad's 7 is
// held; they are kept apart here too, so that the settings digits act on the
// same keys on both systems.  The keypad's Enter is Enter there and here.
int qt_virtual_key(int key, int keypad, uint32_t x11_keycode) {
    if (x11_keycode >= 10 && x11_keycode <= 18) return '1' + (int)(x11_keycode - 10);
    if (x11_keycode == 19) return '0';
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return keypad ? 0x60 + (key - Qt::Key_0) : '0' + (key - Qt::Key_0);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return 0x70 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return PLAT_VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return PLAT_VK_RETURN;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return PLAT_VK_SPACE;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return PLAT_VK_DELETE;
    default: return 0;
    }
}

// Key codes are only known to be X11's on the xcb platform.
static int virtual_key_of(const QKeyEvent *event) {
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    return qt_virtual_key(event->key(), (event->modifiers() & Qt::KeypadModifier) != 0,
                          x11 ? event->nativeScanCode() : 0);
}

// The program looks at the pointer on every heartbeat, and on X11 every
// look at QCursor::pos is a round trip to the server, which was most of
// what an idle program cost.  While the pointer is over our window every
// movement reaches us as an event anyway, and when it leaves (or another
// window comes over it) we hear of that too; so the position is learned
// from those events, the server is asked only after the pointer has left,
// and otherwise at most every POINTER_RECHECK_MS, in case an event was
// missed (a crossing the window manager swallowed).  A hover look can thus
// stay lit that long at worst after the pointer went without an event.
static const uint32_t POINTER_RECHECK_MS = 250;

static void learn_pointer(const QPoint &screen) {
    g.pointer = screen;
    g.pointer_known = true;
    g.pointer_seen_at = plat_tick();
}

static void forget_pointer(void) { g.pointer_known = false; }

void plat_cursor_pos(int *x, int *y) {
    QPoint p;
    if (g.app) {
        if (!g.pointer_known || plat_tick() - g.pointer_seen_at >= POINTER_RECHECK_MS)
            learn_pointer(QCursor::pos());
        p = g.pointer;
    }
    if (x) *x = p.x();
    if (y) *y = p.y();
}

// The server's own state of the first button, which every X11 client may
// read whatever window holds the pointer: 1 down, 0 up, -1 when it cannot be
// had (not on X11, no native window yet, no libxcb).
static int x11_left_button(void) {
#if QT_CONFIG(xcb)
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return -1;
    XPointerQuery &q = g.x_pointer;
    if (!q.tried) {
        q.tried = true;
        q.lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (q.lib) {
            q.query = (XCookie(*)(void *, uint32_t))dlsym(q.lib, "xcb_query_pointer");
            q.reply = (XPointerReply * (*)(void *, XCookie, void **))
                dlsym(q.lib, "xcb_query_pointer_reply");
        }
    }
    if (!q.query || !q.reply) return -1;
    uint32_t any_window = 0;
    for (const WindowEntry &e : g.windows)
        if (e.widget && e.widget->internalWinId()) any_window = (uint32_t)e.widget->internalWinId();
    if (!any_window) return -1;
    void *error = nullptr;
    XPointerReply *reply = q.reply(x11->connection(), q.query(x11->connection(), any_window), &error);
    free(error);
    if (!reply) return -1;
    int down = (reply->mask & X_BUTTON1_MASK) != 0;
    free(reply);
    return down;
#else
    return -1;
#endif
}

// The left button is what ends the program's drags: it counts as held from
// a press on our window until its release reaches us, wherever the pointer
// went meanwhile (X11 hands the release to the window that took the press,
// the implicit grab).  That grab can end early - our window hidden, another
// client grabbing the pointer - and the release then goes elsewhere; so
// where the X server can be asked, its button state confirms a press still
// counted as held, and a drag never outlives the button.
static bool left_button_held(void) {
    if (!g.left_held) return false;
    if (x11_left_button() == 0) g.left_held = false;
    return g.left_held;
}

// Qt cannot read the keyboard of other windows: keys count as down while our
// window has seen them pressed and not released.  The right and middle
// buttons are Qt's own view of them.
int plat_key_down(int vk) {
    if (!g.app) return 0;
    switch (vk) {
    case PLAT_VK_LBUTTON: return left_button_held() ? 1 : 0;
    case 0x02: return (QGuiApplication::mouseButtons() & Qt::RightButton) != 0;
    case 0x04: return (QGuiApplication::mouseButtons() & Qt::MiddleButton) != 0;
    default: break;
    }
    if (vk <= 0 || vk > 255) return 0;
    return g.keys[vk] ? 1 : 0;
}

// -------------------------------------------------------------- [SIGNALS]

// The handler only writes a byte into a pipe; the event loop reads it and
// posts the quit message, so shut-down runs on the GUI thread as usual.
static void on_termination_signal(int sig) {
    int saved = errno;
    unsigned char byte = (unsigned char)sig;
    ssize_t ignored = write(g.signal_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

void plat_quit_on_termination(void) {
    if (!g.app || g.signal_notifier) return;
    if (pipe2(g.signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g.signal_notifier = new QSocketNotifier(g.signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(g.signal_notifier, &QSocketNotifier::activated, []() {
        unsigned char buffer[64];
        while (read(g.signal_pipe[0], buffer, sizeof buffer) > 0) {
        }
        plat_post_quit(0);
    });
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#if QT_CONFIG(sessionmanager)
    // The session ending (logout) ends the program the same way.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest,
                     [](QSessionManager &) { plat_post_quit(0); });
#endif
}

// ---------------------------------------------------------------- [MODAL]

void qt_modal_enter(QDialog *dialog) { g.modal_stack.push_back(dialog); }

void qt_modal_leave(QDialog *dialog) {
    for (size_t i = g.modal_stack.size(); i > 0; i--) {
        if (g.modal_stack[i - 1] == dialog) {
            g.modal_stack.erase(g.modal_stack.begin() + (long)(i - 1));
            return;
        }
    }
}
