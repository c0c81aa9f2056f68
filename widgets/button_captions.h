#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace zapfer {

// The PathButton's caption: "My Computer" for the volume view (even while
// the path popup is open), "Show" while the popup is open, the whole path
// of a volume root ("/", "/media/usb"), else the folder's last component.
QString pathButtonCaption(const QString& curDir, bool popupOpen, const QStringList& volumes);

// The SortButton's caption: "Sort By" while the sort popup is open, else the
// key's name; a stored key outside 0..3 sorts, and so reads, as "Name".
QString sortButtonCaption(uint32_t sort, bool popupOpen);

} // namespace zapfer
