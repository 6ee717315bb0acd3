// recording_file_manager.cpp - a stand-in for the desktop's file manager on
// a private session bus, for the end-to-end checks of "show the file".
//
//   recording_file_manager RECORD_FILE
//
// Owns org.freedesktop.FileManager1 and serves /org/freedesktop/FileManager1
// the way a file manager does: ShowItems, ShowFolders and ShowItemProperties
// each append one line per URI to RECORD_FILE ("ShowItems <uri>") and reply
// with nothing.  Prints "READY" once the name is owned, so that a check can
// start the program only when the service answers; exits 2 when the bus or
// the name cannot be had.  It runs until killed.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

const char SERVICE[] = "org.freedesktop.FileManager1";
const char PATH[] = "/org/freedesktop/FileManager1";

// The interface as file managers publish it, for callers that introspect.
const char INTROSPECTION[] =
    "  <interface name=\"org.freedesktop.FileManager1\">\n"
    "    <method name=\"ShowFolders\">\n"
    "      <arg type=\"as\" name=\"URIs\" direction=\"in\"/>\n"
    "      <arg type=\"s\" name=\"StartupId\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"ShowItems\">\n"
    "      <arg type=\"as\" name=\"URIs\" direction=\"in\"/>\n"
    "      <arg type=\"s\" name=\"StartupId\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"ShowItemProperties\">\n"
    "      <arg type=\"as\" name=\"URIs\" direction=\"in\"/>\n"
    "      <arg type=\"s\" name=\"StartupId\" direction=\"in\"/>\n"
    "    </method>\n"
    "  </interface>\n";

// A virtual object takes every call to its path without generated adaptor
// code, which keeps this program free of Qt's meta-object compiler.
class RecordingObject : public QDBusVirtualObject {
public:
    explicit RecordingObject(const QString &record_path) : record_path_(record_path) {}

    QString introspect(const QString &path) const override {
        return path == QLatin1String(PATH) ? QLatin1String(INTROSPECTION) : QString();
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        const QString member = message.member();
        const bool known = member == QLatin1String("ShowItems") || member == QLatin1String("ShowFolders") ||
                           member == QLatin1String("ShowItemProperties");
        if (message.interface() != QLatin1String(SERVICE) || !known) return false;
        const QList<QVariant> args = message.arguments();
        if (args.size() != 2 || message.signature() != QLatin1String("ass")) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                     QStringLiteral("expected (as, s)")));
            return true;
        }
        // One line per URI, written through at once: the check reads the
        // file while this program keeps running.
        QFile record(record_path_);
        if (record.open(QIODevice::Append | QIODevice::Text)) {
            for (const QString &uri : args.at(0).toStringList())
                record.write((member + QLatin1Char(' ') + uri + QLatin1Char('\n')).toUtf8());
            record.close();
        }
        connection.send(message.createReply());
        return true;
    }

private:
    QString record_path_;
};

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: recording_file_manager RECORD_FILE\n");
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fprintf(stderr, "recording_file_manager: no session bus: %s\n",
                qPrintable(bus.lastError().message()));
        return 2;
    }
    RecordingObject object(QString::fromLocal8Bit(argv[1]));
    if (!bus.registerVirtualObject(QLatin1String(PATH), &object)) {
        fprintf(stderr, "recording_file_manager: cannot serve %s\n", PATH);
        return 2;
    }
    // Registering the name last: a caller that finds it can be served.
    if (!bus.registerService(QLatin1String(SERVICE))) {
        fprintf(stderr, "recording_file_manager: cannot own %s: %s\n", SERVICE,
                qPrintable(bus.lastError().message()));
        return 2;
    }
    printf("READY\n");
    fflush(stdout);
    return app.exec();
}
