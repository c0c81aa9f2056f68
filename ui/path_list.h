#pragma once

#include <QStringList>

namespace zapfer {

// A path list names files to add to the SendList: either one full path, or a
// folder followed by two or more names in it. The list ends at its first
// empty string. A folder followed by a single name counts as one entry, the
// folder itself.

// The number of entries.
int pathListCount(const QStringList& list);
// The full path of entry `index`; empty when there is no such entry.
QString PathListEntry(const QStringList& list, int index);

} // namespace zapfer
