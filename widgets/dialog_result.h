#pragma once

namespace zapfer {

// How the program's own dialogs end: the value their exec() returns and
// their finished() carries. The numbers are part of each dialog's contract.
enum class DialogResult : int {
    ClosedByTransfer = 0, // the engine closed a transfer dialog
    Ok = 1,               // the directory picker's OK
    Cancelled = 2,        // Cancel or Esc
};

inline constexpr int dialogCode(DialogResult result) {
    return static_cast<int>(result);
}

} // namespace zapfer
