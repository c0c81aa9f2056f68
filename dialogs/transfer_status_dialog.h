#pragma once

#include "dialog_result.h"
#include "engine.h"

#include <QDialog>
#include <QElapsedTimer>

#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace zapfer {

// What one StatusRefresh writes into the File Xfer Status dialog.
struct StatusTexts {
    QString files;       // 1002 "%1 of %2 Files"
    QString bytes;       // 1005 "%1 of %2 Bytes"
    int filePercent = 0; // 1003
    bool hasTotal = false;
    QString totalBytes;   // 1006, when hasTotal
    int totalPercent = 0; // 1004, when hasTotal
    QString rate;         // 1007 "%1 bytes per second"
    QString timeLeft;     // "about %1 s left"; empty while no rate is known
};

// The texts for `progress`, `elapsedMs` after the dialog opened; nothing
// while no block of the transfer has been counted (the dialog keeps its
// first texts until then).
std::optional<StatusTexts> statusTexts(const TransferProgress& progress, int64_t elapsedMs);

// "File Xfer Status": the file in progress, counts, two progress bars, the
// rate and the time left. The engine closes it (closeByTransfer, result 0);
// Cancel or Esc close it with DialogResult::Cancelled.
class TransferStatusDialog : public QDialog {
    Q_OBJECT
public:
    TransferStatusDialog(bool receiving, QWidget* owner = nullptr);

    void setFileName(const QString& name);
    // StatusRefresh's progress display; the rate counts from the dialog's
    // creation.
    void refresh(const TransferProgress& progress);

    void closeByTransfer() { done(dialogCode(DialogResult::ClosedByTransfer)); }
    void reject() override { done(dialogCode(DialogResult::Cancelled)); }

private:
    QElapsedTimer m_started;
    QLabel* m_files = nullptr;
    QLineEdit* m_name = nullptr;
    QLabel* m_bytes = nullptr;
    QProgressBar* m_fileBar = nullptr;
    QLabel* m_total = nullptr;
    QProgressBar* m_totalBar = nullptr;
    QLabel* m_rate = nullptr;
    QLabel* m_timeLeft = nullptr;
};

} // namespace zapfer
