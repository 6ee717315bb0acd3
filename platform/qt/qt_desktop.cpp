// qt_desktop.cpp - what the program asks of the desktop around its window:
// the clipboard, opening files and addresses, the two modal dialogs, icons
// and the notification-area icon.
//
// Sections: [CLIPBOARD] [SHELL] [DIALOGS] [ICONS] [TRAY] [RELEASE]
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#ifdef QT_DBUS_LIB
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Clipboard text handed out is bounded: page addresses are short, and a
// huge clipboard must not be copied around every 50 ms poll.
const size_t CLIPBOARD_TEXT_MAX = 1024 * 1024;

// The clipboard is read again at least this often even when no change was
// reported (an owner that changes its text without taking the selection
// anew, or an X server without the XFixes notifications).
const uint32_t CLIPBOARD_REREAD_MS = 2000;

// The notification-area tip holds 63 characters and a NUL on Windows.
const size_t TRAY_TIP_MAX = 63;

// Mouse messages the tray callback reports, as Windows does.
const int32_t TRAY_LEFT_PRESS = 0x0201;
const int32_t TRAY_LEFT_DOUBLE = 0x0203;
const int32_t TRAY_RIGHT_PRESS = 0x0204;
const int32_t TRAY_MIDDLE_PRESS = 0x0207;

struct TrayEntry {
    plat_window window;
    QSystemTrayIcon *icon;      // null while the desktop has no tray for it
    uint32_t callback_message;
    bool refused;               // an add found no notification area
};

// The clipboard as last read.  Reading it costs round trips to the X
// server and to the selection's owner (its list of types, then the text),
// and the program polls it every 50 ms: so it is read only after Qt reports
// a change of the clipboard (on X11 from the XFixes selection
// notifications, for other programs' copies and for our own), after the
// program empties it, and every CLIPBOARD_REREAD_MS all the same.
struct ClipboardCopy {
    bool watched = false;       // QClipboard::changed is connected
    bool fresh = false;         // nothing reported since the last reading
    uint32_t read_tick = 0;     // plat_tick of the last reading
    bool has_text = false;      // text that is not empty
    bool text_type = false;     // the owner offers text at all (maybe empty)
    bool secret = false;        // marked secret by a password manager
    QByteArray text;            // the text, bounded, as UTF-8
};

struct DesktopState {
    bool clipboard_open = false;
    QByteArray clipboard_text;  // valid until plat_clipboard_close
    ClipboardCopy clipboard;
    std::vector<QIcon *> icons; // handle = index + 1
    std::vector<TrayEntry> trays;
};

DesktopState d;

} // namespace

size_t qt_utf8_prefix(const char *text, size_t length, size_t max) {
    if (length <= max) return length;
    size_t cut = max;
    // Step back over continuation bytes so the cut falls between characters.
    while (cut > 0 && ((unsigned char)text[cut] & 0xC0) == 0x80) cut--;
    return cut;
}

// ------------------------------------------------------------ [CLIPBOARD]

// Password managers mark a copied password with this type and the data
// "secret" (the convention of KDE's clipboard); such text is never read.
static bool marked_secret(const QMimeData *data) {
    static const QString hint = QStringLiteral("x-kde-passwordManagerHint");
    return data->hasFormat(hint) && data->data(hint) == QByteArrayLiteral("secret");
}

// The clipboard copy, read again when it may be out of date.
static const ClipboardCopy &clipboard_now(void) {
    ClipboardCopy &c = d.clipboard;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!c.watched) {
        QObject::connect(clipboard, &QClipboard::changed, [](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard) d.clipboard.fresh = false;
        });
        c.watched = true;
    }
    const uint32_t now = plat_tick();
    if (c.fresh && now - c.read_tick < CLIPBOARD_REREAD_MS) return c;
    const QMimeData *data = clipboard->mimeData(QClipboard::Clipboard);
    c.text_type = data && data->hasText();
    c.secret = c.text_type && marked_secret(data);
    c.text = c.text_type ? data->text().toUtf8() : QByteArray();
    c.text.truncate((qsizetype)qt_utf8_prefix(c.text.constData(), (size_t)c.text.size(),
                                              CLIPBOARD_TEXT_MAX - 1));
    c.has_text = !c.text.isEmpty();
    c.fresh = true;
    c.read_tick = now;
    return c;
}

int plat_clipboard_has_text(void) {
    if (!qt_app_ready()) return 0;
    return clipboard_now().has_text ? 1 : 0;
}

// The X11 clipboard needs no opening; the flag only keeps the Windows rule
// that the text is valid between open and close.
int plat_clipboard_open(plat_window window) {
    if (!qt_app_ready()) return 0;
    d.clipboard_open = true;
    return 1;
}

const char *plat_clipboard_text(void) {
    if (!d.clipboard_open) return nullptr;
    const ClipboardCopy &c = clipboard_now();
    if (!c.text_type || c.secret) return nullptr;
    d.clipboard_text = c.text;
    return d.clipboard_text.constData();
}

// Giving up the selection removes the offer, so the next poll finds no text.
void plat_clipboard_empty(void) {
    if (!d.clipboard_open) return;
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    d.clipboard.fresh = false;
}

void plat_clipboard_close(void) {
    d.clipboard_open = false;
    d.clipboard_text = QByteArray();
    d.clipboard = ClipboardCopy();   // the next application's clipboard is watched anew
}

// ---------------------------------------------------------------- [SHELL]

// An address goes to the browser only when it is a web address with a
// host: a text that names another scheme could start another handler.
static bool web_address(const QString &text, QUrl *url) {
    *url = QUrl(text, QUrl::TolerantMode);
    const QString scheme = url->scheme();
    return url->isValid() && !url->host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

static void open_folder_of(const QString &file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

// The freedesktop file manager's D-Bus service can select the file; where
// none answers, the folder is opened instead.  The program name and option
// are for systems that run their file manager as a program: not needed here.
// The call is asynchronous: a file manager being started must not freeze
// the window.
void plat_show_in_folder(const char *program, const char *param_prefix, const char *path) {
    if (!path || !*path || !qt_app_ready()) return;
    QString file = QFileInfo(QString::fromUtf8(path)).absoluteFilePath();
#ifdef QT_DBUS_LIB
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        // A URI in its encoded form: spaces and non-ASCII letters of a
        // title-made name as %XX, which every file manager reads back.
        call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
        QDBusPendingCallWatcher *watcher =
            new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                         [file](QDBusPendingCallWatcher *w) {
                             if (w->isError()) open_folder_of(file);
                             w->deleteLater();
                         });
        return;
    }
#endif
    open_folder_of(file);
}

// Nothing here passes through a shell: a file or an address is one URL for
// the desktop's handler, and a program gets its parameters as one argument.
// A program is run only by its full path, so the search path cannot choose
// which one runs.
void plat_shell_open(const char *target, const char *params) {
    if (!target || !*target || !qt_app_ready()) return;
    const QString text = QString::fromUtf8(target);
    if (params && *params) {
        if (!QDir::isAbsolutePath(text)) return;
        QProcess::startDetached(text, QStringList{QString::fromUtf8(params)});
        return;
    }
    if (text.contains(QLatin1String("://"))) {
        QUrl url;
        if (web_address(text, &url)) QDesktopServices::openUrl(url);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath()));
}

// -------------------------------------------------------------- [DIALOGS]

void plat_message_box(const char *text, const char *caption) {
    fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    if (!qt_app_ready() && !plat_init()) return;
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(caption ? caption : ""),
                    QString::fromUtf8(text ? text : ""), QMessageBox::Ok);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    // Unattended runs (no one to press OK) close the box after a while.
    const char *timeout = getenv("QUORVAX_MESSAGE_BOX_TIMEOUT_MS");
    if (timeout && *timeout) {
        int ms = atoi(timeout);
        if (ms >= 0) QTimer::singleShot(ms, &box, [&box]() { box.reject(); });
    }
    qt_modal_enter(&box);
    box.exec();
    qt_modal_leave(&box);
}

int plat_choose_folder(plat_window owner, const char *title, const char *start_folder,
                       char *out, int cap) {
    if (!out || cap <= 0 || !qt_app_ready()) return 0;
    QString start = QString::fromUtf8(start_folder ? start_folder : "");
    if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
    QFileDialog dialog(qt_widget_of(owner), QString::fromUtf8(title ? title : ""), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // The owner stays on top; its dialog must not open behind it.
    dialog.setWindowFlags(dialog.windowFlags() | Qt::WindowStaysOnTopHint);
    qt_modal_enter(&dialog);
    int result = dialog.exec();
    qt_modal_leave(&dialog);
    if (result != QDialog::Accepted) return 0;
    QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return 0;
    // Paths at the seam are UTF-8, whatever the locale says.
    QByteArray path = QDir::toNativeSeparators(chosen.first()).toUtf8();
    // A path that does not fit is refused rather than cut: a cut path names
    // another folder, and downloads would go there.
    if (path.isEmpty() || path.size() >= (qsizetype)cap) return 0;
    memcpy(out, path.constData(), (size_t)path.size() + 1);
    return 1;
}

// ---------------------------------------------------------------- [ICONS]

plat_icon plat_create_icon(const uint32_t *pixels, int width, int height) {
    if (!qt_app_ready() || !pixels || width <= 0 || height <= 0) return 0;
    // The pixel layout (alpha, red, green, blue from the top byte down) is
    // Qt's ARGB32.  A picture with no alpha at all is taken as opaque.
    bool any_alpha = false;
    const size_t count = (size_t)width * (size_t)height;
    for (size_t i = 0; i < count && !any_alpha; i++) any_alpha = (pixels[i] >> 24) != 0;
    QImage image(width, height, any_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int row = 0; row < height; row++) {
        uint32_t *dst = (uint32_t *)image.scanLine(row);
        const uint32_t *src = pixels + (size_t)row * (size_t)width;
        for (int col = 0; col < width; col++)
            dst[col] = any_alpha ? src[col] : (src[col] | 0xFF000000u);
    }
    d.icons.push_back(new QIcon(QPixmap::fromImage(image)));
    return (plat_icon)d.icons.size();
}

const QIcon *qt_icon_of(plat_icon icon) {
    if (icon == 0 || icon > d.icons.size()) return nullptr;
    return d.icons[icon - 1];
}

// ----------------------------------------------------------------- [TRAY]

static TrayEntry *tray_of(plat_window window) {
    for (TrayEntry &t : d.trays)
        if (t.window == window) return &t;
    return nullptr;
}

static void tray_activated(plat_window window, QSystemTrayIcon::ActivationReason reason) {
    TrayEntry *t = tray_of(window);
    if (!t || !t->icon) return;
    int32_t mouse;
    switch (reason) {
    case QSystemTrayIcon::Trigger: mouse = TRAY_LEFT_PRESS; break;
    case QSystemTrayIcon::DoubleClick: mouse = TRAY_LEFT_DOUBLE; break;
    case QSystemTrayIcon::Context: mouse = TRAY_RIGHT_PRESS; break;
    case QSystemTrayIcon::MiddleClick: mouse = TRAY_MIDDLE_PRESS; break;
    default: return;
    }
    plat_post_message(window, t->callback_message, 0, mouse);
}

static void tray_apply(TrayEntry *t, plat_icon icon, const char *tip) {
    const QIcon *picture = qt_icon_of(icon);
    if (!picture && t->icon->icon().isNull()) picture = qt_class_icon_of(t->window);
    if (picture) t->icon->setIcon(*picture);
    if (tip) {
        size_t length = qt_utf8_prefix(tip, strnlen(tip, TRAY_TIP_MAX + 1), TRAY_TIP_MAX);
        t->icon->setToolTip(QString::fromUtf8(tip, (qsizetype)length));
    }
}

static void tray_create(TrayEntry *t) {
    t->icon = new QSystemTrayIcon();
    plat_window window = t->window;
    QObject::connect(t->icon, &QSystemTrayIcon::activated,
                     [window](QSystemTrayIcon::ActivationReason reason) {
                         tray_activated(window, reason);
                     });
}

// Where the desktop has no notification area the calls fail and nothing
// shows.  An icon refused that way is added by a later modify once a tray
// has appeared (a panel that starts after the program at login).
int plat_tray(PlatTrayCommand command, plat_window window, plat_icon icon,
              const char *tip, uint32_t callback_message) {
    if (!qt_app_ready() || !qt_widget_of(window)) return 0;
    TrayEntry *t = tray_of(window);
    switch (command) {
    case PLAT_TRAY_ADD:
        if (t && t->icon) return 0;   // the icon exists already
        if (!t) {
            d.trays.push_back(TrayEntry{window, nullptr, callback_message, false});
            t = &d.trays.back();
        }
        t->callback_message = callback_message;
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            t->refused = true;
            return 0;
        }
        t->refused = false;
        tray_create(t);
        tray_apply(t, icon, tip);
        t->icon->show();
        return 1;
    case PLAT_TRAY_MODIFY:
        if (!t) return 0;
        t->callback_message = callback_message;
        if (!t->icon) {
            if (!t->refused || !QSystemTrayIcon::isSystemTrayAvailable()) return 0;
            t->refused = false;
            tray_create(t);
            tray_apply(t, icon, tip);
            t->icon->show();
            return 1;
        }
        tray_apply(t, icon, tip);
        return 1;
    case PLAT_TRAY_DELETE: {
        if (!t) return 0;
        bool existed = t->icon != nullptr;
        if (t->icon) {
            t->icon->hide();
            delete t->icon;
        }
        d.trays.erase(d.trays.begin() + (t - d.trays.data()));
        return existed ? 1 : 0;
    }
    }
    return 0;
}

// -------------------------------------------------------------- [RELEASE]

void qt_desktop_release(void) {
    for (TrayEntry &t : d.trays) delete t.icon;
    d.trays.clear();
    for (QIcon *icon : d.icons) delete icon;
    d.icons.clear();
    d.clipboard_open = false;
    d.clipboard_text = QByteArray();
    d.clipboard = ClipboardCopy();   // the next application's clipboard is watched anew
}
