#include "main_window.h"
#include "send_list.h"
#include "termination_signals.h"
#include "zapfer_app.h"

#include <QApplication>
#include <QSaveFile>
#include <QTimer>

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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Zapfer"));
    QApplication::setDesktopFileName(QStringLiteral("zapfer"));
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
