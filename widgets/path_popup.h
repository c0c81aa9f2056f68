#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QMenu;
class QWidget;

namespace zapfer {

// One entry of the path popup. Choosing it sends the message 1024 + k, and
// k - 1 is the number of levels it goes up: k = 1 is the current folder,
// k = depth + 1 the volume root, k = depth + 2 "My Computer".
struct PathPopupEntry {
    QString text;
    int k = 0;
};

// The entry with number k sends this message (1024 + k).
inline constexpr int kPathPopupMessageBase = 1024;

// The volume root that `path` lies on: the longest of `volumes` that is the
// path or one of its parents, else "/". Empty for the empty path.
QString volumeRootOf(const QString& path, const QStringList& volumes);

// The entries, top to bottom, for `path` (empty: the "My Computer" view):
// "My Computer", the volume root, then each folder indented two spaces per
// level, the current one marked with "* " in place of its last two spaces.
std::vector<PathPopupEntry> pathPopupEntries(const QString& path, const QStringList& volumes);

// The path that entry k of `path`'s popup names; any depth, so every entry
// leads where it says. k = 1 or a k beyond the popup leaves the path as it is.
QString ApplyPathPopupChoice(const QString& path, int k, const QStringList& volumes);

// The popup's menu: one item per entry, the item's data holding its k.
QMenu* makePathPopupMenu(QWidget* parent, const QString& path, const QStringList& volumes);

// Shows the popup for `path` just below `pathButton` and returns the chosen
// entry's k, or 0 when the menu is dismissed. `setOpen` is called with true
// before the menu shows and with false after it closed.
int PathPopup(QWidget* owner, const QString& path, const QStringList& volumes, QWidget* pathButton,
              const std::function<void(bool)>& setOpen);

} // namespace zapfer
