#pragma once

class QWidget;

namespace zapfer {

// Centres `dialog` over its parent window when it fits there with room to
// spare in both directions, else on the screen (a dialog larger than the
// screen gets a negative position). Call before the dialog is shown; a
// dialog that was never resized takes its size hint first.
void CenterDialog(QWidget* dialog);

} // namespace zapfer
