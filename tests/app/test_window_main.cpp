// zapfer-test-window: the program as the tests start it. Beside what
// zapfer does, environment variables move the TCP listener off 1756 (and
// the echo responder off 1755) and have the SendList written to a file on
// every change, and ZAPFER_TEST_CAPTIONS_FILE has the texts of the window
// written once it is up; transfer_test_hooks.cpp adds pressing Send and reporting
// results. None of this is linked into the installed zapfer.

#include "control_ids.h"
#include "main_window.h"
#include "send_list_controller.h"
#include "window_buttons.h"
#include "zapfer_app.h"
#include "zapfer_program.h"

#include <QLabel>
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

// The language the window came up in: its status line, then the tooltip of
// each command button, one a line.
void writeCaptions(zapfer::MainWindow* window) {
    const QString path = QString::fromLocal8Bit(qgetenv("ZAPFER_TEST_CAPTIONS_FILE"));
    if (path.isEmpty())
        return;
    QStringList lines;
    if (auto* status = window->findChild<QLabel*>(QString::number(zapfer::id::StatusLine)))
        lines.append(status->text());
    for (int commandId : zapfer::kCommandButtonIds) {
        if (auto* button = window->findChild<zapfer::CommandButton*>(QString::number(commandId)))
            lines.append(button->toolTip());
    }
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(lines.join(QLatin1Char('\n')).toUtf8());
        out.commit();
    }
}

} // namespace

int main(int argc, char** argv) {
    zapfer::ProgramOptions options;
    options.link = testLinkConfig();
    options.started = [](zapfer::ZapferApp& app) {
        writeSendListOnChange(app.window());
        writeCaptions(app.window());
    };
    return zapfer::runZapfer(argc, argv, options);
}
