#pragma once

#include <QString>

#include <cstdint>

namespace zapfer {

// The FileList sort keys, in the order of the stored "Sort" value.
enum class SortKey : uint32_t { Name = 0, Date = 1, Size = 2, Type = 3 };
inline constexpr uint32_t kSortKeyCount = 4;

// One row of the FileList or of the directory picker. The keys are whole
// values: a name is compared in full, a date to the second, a size in 64 bits.
struct FileRecord {
    QString name;       // volume rows: the mount point
    QString foldedName; // case-folded name, taken once so sorting never folds
    int64_t size = 0;   // files only
    int64_t mtime = 0;  // last write, seconds since the epoch (UTC); files only
    bool folder = false;
    bool volume = false; // a row of the "My Computer" view
    int volumeIndex = 0; // position in the volume list

    static FileRecord makeFile(const QString& name, int64_t size, int64_t mtime);
    static FileRecord makeFolder(const QString& name);
    static FileRecord makeVolume(const QString& mountPoint, int index);
};

// The text after the last dot of `name`, empty when there is none.
QStringView typeOf(const QString& name);

// -1, 0 or 1. Folders come before files when sorting by name; equal keys fall
// back to the name (case-insensitively, then exactly) so every order is
// defined. Volume rows keep their own order under every key. A key outside
// 0..3 (a hand-edited settings file) sorts by name.
int CompareFileRecords(const FileRecord& a, const FileRecord& b, uint32_t sort);

} // namespace zapfer
