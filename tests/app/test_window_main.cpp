// zapfer-test-window: the program as the tests start it. Beside what
// zapfer does, environment variables move the TCP listener off 1756 (and
// the echo responder off 1755) and have the SendList written to a file on
// every change; transfer_test_hooks.cpp adds pressing Send and reporting
// results. None of this is linked into the installed zapfer.

#include "main_window.h"
#include "send_list_controller.h"
#include "zapfer_app.h"
#include "zapfer_program.h"

#include <QSaveFile>

namespace {

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
    auto* sendList = window->findChild<zapfer::SendListController*>();
    if (path.isEmpty() || !sendList)
        return;
    const auto write = [sendList, path] {
        QSaveFile out(path);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(sendList->model()->paths().join(QLatin1Char('\n')).toUtf8());
            out.commit();
        }
    };
    QObject::connect(sendList, &zapfer::SendListController::contentsChanged, window, write);
    write();
}

} // namespace

int main(int argc, char** argv) {
    zapfer::ProgramOptions options;
    options.link = testLinkConfig();
    options.started = [](zapfer::ZapferApp& app) { writeSendListOnChange(app.window()); };
    return zapfer::runZapfer(argc, argv, options);
}
