#include "path_list.h"

#include "directory_listing.h"

namespace zapfer {

namespace {
int stringCount(const QStringList& list) {
    int n = 0;
    while (n < list.size() && !list[n].isEmpty())
        ++n;
    return n;
}
} // namespace

int pathListCount(const QStringList& list) {
    const int n = stringCount(list);
    return n <= 1 ? n : n - 1;
}

QString PathListEntry(const QStringList& list, int index) {
    const int count = pathListCount(list);
    if (index < 0 || index >= count)
        return {};
    if (count == 1 && index == 0)
        return list[0];
    return joinPath(list[0], list[index + 1]);
}

} // namespace zapfer
