#pragma once

// The window's wording of a link failure.

#include "link_error.h"

#include <QString>

namespace zapfer {

// The message box text when a link fails to open as the user selects it
// (the string table's texts).
QString linkOpenMessage(const LinkError& error);
// One sentence naming the device and the cause, for a send the link cannot
// carry; empty for no fault.
QString linkErrorText(const LinkError& error);

} // namespace zapfer
