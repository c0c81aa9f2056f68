#include "main_window.h"
#include "send_list.h"
#include "termination_signals.h"
#include "zapfer_app.h"

#include <QApplication>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <string_view>

#ifdef ZAPFER_TEST_HOOKS
namespace {

// Test builds only: the test suite moves the TCP listener off 1756 and the
// echo responder off 1755, and reads the SendList back from a file.
zapfer::LinkConfig testLinkConfig() {
    zapfer::LinkConfig link;
    const QByteArray port = qgetenv("ZAPFER_TEST_TCP_PORT");
    if (!port.isEmpty()) {
        link.listenPort = uint16_t(port.toUInt());
        link.echoPort = 0;
    }
    return link;
}

void writeSendListOnChange(zapfer::MainWindow* window) {
    const QString path = QString::fromLocal8Bit(qgetenv("ZAPFER_TEST_SENDLIST_FILE"));
    if (path.isEmpty())
        return;
    const auto write = [window, path] {
        QSaveFile out(path);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(window->sendList()->paths().join(QLatin1Char('\n')).toUtf8());
            out.commit();
        }
    };
    QObject::connect(window->sendList(), &zapfer::SendList::contentsChanged, window, write);
    write();
}

} // namespace
#endif

namespace {

// Answered before the application object exists, so that they need no display:
// help2man writes zapfer(1) from them, and a terminal over ssh may ask too.
constexpr const char* kHelp =
    "Usage: zapfer [OPTION]... [FILE]...\n"
    "Opens the Zapfer window with the FILEs in its send list, ready to beam to\n"
    "another computer running Zapfer. When Zapfer is already running, the FILEs\n"
    "join the send list of that window instead.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -display, -style and the like) are taken too.\n";

// True when argv asks for --help or --version, which is then printed.
bool printedInfo(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return false;
        if (arg == "--help") {
            std::fputs(kHelp, stdout);
            return true;
        }
        if (arg == "--version") {
            std::printf("zapfer %s\n", ZAPFER_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (printedInfo(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Zapfer"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quorvel.Zapfer"));
    QStringList files = QApplication::arguments();
    files.removeFirst();

#ifdef ZAPFER_TEST_HOOKS
    zapfer::ZapferApp zapfer(testLinkConfig());
#else
    zapfer::ZapferApp zapfer;
#endif
    if (!zapfer.start(files))
        return 0;
#ifdef ZAPFER_TEST_HOOKS
    writeSendListOnChange(zapfer.window());
#endif
    zapfer::TerminationSignals terminationSignals;
    const int code = QApplication::exec();
    zapfer.shutdown();
    return code;
}
