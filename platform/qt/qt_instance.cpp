// qt_instance.cpp - listening for later starts of the program on the same
// list, which ask this instance to show its window.
//
// The socket work is POSIX's (platform/posix/posix_instance.cpp); here the
// event loop watches the listening socket and each connection with socket
// notifiers, so a request is taken while messages are retrieved - in a
// modal dialog's loop too - and nothing ever waits for a caller.
#include "platform/qt/qt_backend.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/posix/posix_io.h"

namespace {

// A connection that has not sent its request by then is dropped (the
// caller itself gives up after a second).
const int REQUEST_WAIT_MS = 2000;

struct Listener {
    QSocketNotifier *notifier = nullptr;  // owns the connections' notifiers
    plat_window window = 0;
    uint32_t message = 0;
};

Listener listener;

// Reads the request of one connection: when it is there the message goes to
// the window and then the caller has its answer.  true when the connection
// is finished with (answered, closed, or not one of ours).
bool take_request(int fd) {
    int request = posix_instance_read_request(fd);
    if (request == 0) return false;
    if (request == 1 && listener.window) {
        plat_post_message(listener.window, listener.message, 0, 0);
        posix_instance_answer(fd);
    }
    return true;
}

// The descriptor is closed with its notifier, however that goes: answered,
// timed out, or with the listener.
void watch_connection(int fd) {
    if (take_request(fd)) {
        posix_instance_close(fd);
        return;
    }
    QSocketNotifier *n = new QSocketNotifier(fd, QSocketNotifier::Read, listener.notifier);
    QObject::connect(n, &QObject::destroyed, [fd]() { posix_instance_close(fd); });
    QObject::connect(n, &QSocketNotifier::activated, [n, fd]() {
        if (!take_request(fd)) return;
        n->setEnabled(false);
        n->deleteLater();
    });
    QTimer::singleShot(REQUEST_WAIT_MS, n, [n]() {
        n->setEnabled(false);
        n->deleteLater();
    });
}

void end_listening(void) {
    delete listener.notifier;   // closes the listening socket and every connection
    listener = Listener();
}

}  // namespace

int plat_listen_for_instances(plat_window window, const char *key, uint32_t message) {
    end_listening();
    if (!qt_app_ready() || !qt_widget_of(window)) return 0;
    int fd = posix_instance_listen(key);
    if (fd < 0) return 0;
    listener.notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    listener.window = window;
    listener.message = message;
    QObject::connect(listener.notifier, &QObject::destroyed, [fd]() { posix_instance_close(fd); });
    QObject::connect(listener.notifier, &QSocketNotifier::activated, [fd]() {
        for (int c = posix_instance_accept(fd); c >= 0; c = posix_instance_accept(fd))
            watch_connection(c);
    });
    return 1;
}

void qt_instance_window_destroyed(plat_window window) {
    if (listener.notifier && listener.window == window) end_listening();
}

void qt_instance_release(void) { end_listening(); }
