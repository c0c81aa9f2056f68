#pragma once

#include <QString>

namespace zapfer {

// Where Zapfer's help index is for a program in `programDir`: the share
// folder beside it (…/bin/../share/zapfer/help/index.html, which is also
// where a build tree puts it), else wherever the desktop's data folders hold
// "zapfer/help/index.html". The first place when it is nowhere.
QString helpIndexPath(const QString& programDir);

} // namespace zapfer
