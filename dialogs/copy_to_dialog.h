#pragma once

#include "operation_progress.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QLineEdit;

namespace zapfer {

// The Move... and Copy To... dialog: the destination folder, typed or
// browsed for. OK refuses the folder shown (the exact text of `curDir`),
// otherwise moves or copies `names` there with progress, reports failures
// once and ends accepted; the window then lists `curDir` again. Cancel
// changes nothing.
class CopyToDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Move = 0, Copy = 1 };

    CopyToDialog(Mode mode, QString curDir, QStringList names, const QString& destDir,
                 QWidget* owner);

    // Browse hands the destination text to `pick` (the directory picker);
    // on true the text it leaves becomes the destination.
    void setBrowseHandler(std::function<bool(QString&)> pick) { m_pick = std::move(pick); }
    // How long a move or copy runs before its progress dialog shows.
    void setProgressDelay(int milliseconds) { m_progressDelayMs = milliseconds; }

    QString destination() const;
    const OperationResult& operationResult() const { return m_result; }

public Q_SLOTS:
    void accept() override;

private:
    void browse();
    void showMessage(const UserMessage& message, bool error);

    Mode m_mode;
    QString m_curDir;
    QStringList m_names;
    QLineEdit* m_edit;
    std::function<bool(QString&)> m_pick;
    int m_progressDelayMs = 500;
    OperationResult m_result;
};

} // namespace zapfer
