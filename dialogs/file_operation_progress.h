#pragma once

#include "operation_progress.h"

#include <QString>

#include <functional>

class QWidget;

namespace zapfer {

// Runs one file operation on a worker thread so the window keeps painting.
// Input to the window is held back while it runs; when it takes longer than
// the show delay, an application-modal progress dialog with Cancel appears.
// GUI thread only.
class FileOperationProgress {
public:
    // `caption` titles the progress dialog, which `owner` owns.
    FileOperationProgress(QWidget* owner, QString caption);

    void setShowDelay(int milliseconds) { m_showDelayMs = milliseconds; }

    // Runs `work` on a worker thread and returns once it has ended. `work`
    // must not touch widgets; it sees a cancel through its progress.
    void run(const std::function<void(OperationProgress&)>& work);

    // Whether the last run showed its progress dialog.
    bool dialogShown() const { return m_dialogShown; }

private:
    QWidget* m_owner;
    QString m_caption;
    int m_showDelayMs = 500;
    bool m_dialogShown = false;
};

} // namespace zapfer
