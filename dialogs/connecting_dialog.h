#pragma once

#include <QDialog>

namespace zapfer {

// "Connecting...": up on the sending side while the engine looks for the
// peer. It has no time-out; the engine closes it (closeByTransfer) once the
// link is up or its set-up gave up, and Cancel or Esc close it with 2.
class ConnectingDialog : public QDialog {
    Q_OBJECT
public:
    // `infrared`: the "(Align infrared ports)" hint shows.
    explicit ConnectingDialog(bool infrared, QWidget* owner = nullptr);

    void closeByTransfer() { done(0); }
    void reject() override { done(2); }
};

} // namespace zapfer
