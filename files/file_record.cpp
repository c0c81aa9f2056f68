#include "file_record.h"

namespace zapfer {

FileRecord FileRecord::makeFile(const QString& name, int64_t size, int64_t mtime) {
    FileRecord r;
    r.name = name;
    r.foldedName = name.toCaseFolded();
    r.size = size;
    r.mtime = mtime;
    return r;
}

FileRecord FileRecord::makeFolder(const QString& name) {
    FileRecord r;
    r.name = name;
    r.foldedName = name.toCaseFolded();
    r.folder = true;
    return r;
}

FileRecord FileRecord::makeVolume(const QString& mountPoint, int index) {
    FileRecord r;
    r.name = mountPoint;
    r.foldedName = mountPoint;
    r.folder = true;
    r.volume = true;
    r.volumeIndex = index;
    return r;
}

QStringView typeOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    return QStringView(name).mid(dot + 1);
}

namespace {

template <typename T> int threeWay(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

int compareNames(const FileRecord& a, const FileRecord& b) {
    if (a.folder != b.folder)
        return a.folder ? -1 : 1;
    if (const int c = sign(a.foldedName.compare(b.foldedName)); c != 0)
        return c;
    return sign(a.name.compare(b.name));
}

} // namespace

int CompareFileRecords(const FileRecord& a, const FileRecord& b, uint32_t sort) {
    if (a.volume || b.volume) {
        if (a.volume && b.volume)
            return threeWay(a.volumeIndex, b.volumeIndex);
        return a.volume ? -1 : 1;
    }
    int c = 0;
    switch (static_cast<SortKey>(sort)) {
    case SortKey::Date:
        // Folders carry no date and sort first, as they do by size.
        c = a.folder != b.folder ? (a.folder ? -1 : 1) : threeWay(a.mtime, b.mtime);
        break;
    case SortKey::Size:
        c = a.folder != b.folder ? (a.folder ? -1 : 1) : threeWay(a.size, b.size);
        break;
    case SortKey::Type:
        c = sign(typeOf(a.name).compare(typeOf(b.name)));
        break;
    case SortKey::Name:
    default:
        break;
    }
    return c != 0 ? c : compareNames(a, b);
}

} // namespace zapfer
