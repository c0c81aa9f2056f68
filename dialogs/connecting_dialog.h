#pragma once

#include "dialog_result.h"

#include <QDialog>

namespace zapfer {

// "Connecting...": up on the sending side while the engine looks for the
// peer. It has no time-out; the engine closes it (closeByTransfer) once the
// link is up or its set-up gave up, and Cancel or Esc close it with DialogResult::Cancelled.
class ConnectingDialog : public QDialog {
    Q_OBJECT
public:
    // `infrared`: the "(Align infrared ports)" hint shows.
    explicit ConnectingDialog(bool infrared, QWidget* owner = nullptr);

    void closeByTransfer() { done(dialogCode(DialogResult::ClosedByTransfer)); }
    void reject() override { done(dialogCode(DialogResult::Cancelled)); }
};

} // namespace zapfer
