// Part of zapfer-test-window, never of zapfer: lets the end-to-end suite
// drive a real window without a mouse. With
// ZAPFER_TEST_TRANSFER_DIR set, the window writes "ready" there (its process
// id) once it is up, and after every send or receive it writes the result
// box's text to "result.txt" and a grab of the screen to "screen.png".
// ZAPFER_TEST_PRESS_SEND=1 presses Send once the window is up.

#include "control_ids.h"
#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(bytes);
        out.commit();
    }
}

// Once the result box has been painted: its text, then the screen.
void reportResult(zapfer::MainWindow* window, const QString& dir) {
    QTimer::singleShot(800, window, [dir] {
        QString text;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                text = box->text();
        }
        if (QScreen* screen = QGuiApplication::primaryScreen())
            screen->grabWindow(0).save(QDir(dir).filePath(QStringLiteral("screen.png")));
        writeFile(QDir(dir).filePath(QStringLiteral("result.txt")), text.toUtf8());
    });
}

void attach(const QString& dir, int triesLeft) {
    zapfer::MainWindow* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* main = qobject_cast<zapfer::MainWindow*>(widget); main && main->engine())
            window = main;
    }
    if (!window) {
        if (triesLeft > 0)
            QTimer::singleShot(100, qApp, [dir, triesLeft] { attach(dir, triesLeft - 1); });
        return;
    }
    QObject::connect(window, &zapfer::MainWindow::sendFinished, window,
                     [window, dir] { reportResult(window, dir); });
    QObject::connect(window, &zapfer::MainWindow::receiveFinished, window,
                     [window, dir] { reportResult(window, dir); });
    if (qEnvironmentVariable("ZAPFER_TEST_PRESS_SEND") == QStringLiteral("1"))
        QTimer::singleShot(500, window, [window] {
            window->findChild<QAction*>(QString::number(zapfer::id::Send), Qt::FindDirectChildrenOnly)
                ->trigger();
        });
    writeFile(QDir(dir).filePath(QStringLiteral("ready")),
              QByteArray::number(QCoreApplication::applicationPid()));
}

void installTransferHooks() {
    const QString dir = qEnvironmentVariable("ZAPFER_TEST_TRANSFER_DIR");
    if (!dir.isEmpty())
        QTimer::singleShot(0, qApp, [dir] { attach(dir, 100); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installTransferHooks)
