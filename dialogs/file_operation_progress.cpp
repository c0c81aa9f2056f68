#include "file_operation_progress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <thread>

namespace zapfer {

namespace {

constexpr int kSteps = 1000;
constexpr int kPollMs = 100;

} // namespace

FileOperationProgress::FileOperationProgress(QWidget* owner, QString caption)
    : m_owner(owner), m_caption(std::move(caption)) {}

void FileOperationProgress::run(const std::function<void(OperationProgress&)>& work) {
    m_dialogShown = false;
    SharedProgress progress;
    QEventLoop loop;
    std::atomic<bool> finished{false};
    // Declared last: joined before anything it uses goes away.
    std::jthread worker([&] {
        try {
            work(progress);
        } catch (...) {
            // Whatever it did is what the result reports; nothing crosses
            // back into the GUI thread.
        }
        finished.store(true);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QTimer delay;
    delay.setSingleShot(true);
    QObject::connect(&delay, &QTimer::timeout, &loop, &QEventLoop::quit);
    delay.start(m_showDelayMs);
    if (!finished.load())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    delay.stop();
    if (finished.load())
        return;

    QProgressDialog dialog(m_caption,
                           QCoreApplication::translate("FileOperationProgress", "Cancel"), 0,
                           kSteps, m_owner);
    dialog.setWindowTitle(m_caption);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);
    const auto cancel = [&] {
        progress.cancel();
        loop.quit(); // go on without user input until the worker stops
    };
    QObject::connect(&dialog, &QProgressDialog::canceled, &loop, cancel);
    QObject::connect(&dialog, &QDialog::rejected, &loop, cancel);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        const int64_t total = progress.total();
        if (total > 0 && !progress.cancelled())
            dialog.setValue(int(std::min<int64_t>(kSteps, progress.done() * kSteps / total)));
    });
    poll.start(kPollMs);
    dialog.show();
    m_dialogShown = true;
    while (!finished.load()) {
        loop.exec(progress.cancelled() ? QEventLoop::ExcludeUserInputEvents
                                       : QEventLoop::AllEvents);
    }
}

} // namespace zapfer
