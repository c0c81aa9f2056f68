#pragma once

#include "file_record.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace zapfer {

// Lists `path` (the "My Computer" view of `volumes` when `path` is empty) and
// sorts it by `sort`. Folders whose name begins with "." are never listed;
// files whose name does are. With `foldersOnly` no file is listed. A folder
// that cannot be read gives an empty list and `*ok` false.
std::vector<FileRecord> ListDirectory(const QString& path, bool foldersOnly, uint32_t sort,
                                      const QStringList& volumes, bool* ok = nullptr);

void sortFileRecords(std::vector<FileRecord>& records, uint32_t sort);

// `folder` and `name` joined with one separator.
QString joinPath(const QString& folder, const QString& name);

} // namespace zapfer
