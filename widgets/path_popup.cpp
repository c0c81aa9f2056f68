#include "path_popup.h"

#include <QCoreApplication>
#include <QDir>
#include <QMenu>

#include <memory>

namespace zapfer {

namespace {

const QString kMarker = QStringLiteral("* ");

QString myComputer() {
    return QCoreApplication::translate("PathButton", "My Computer");
}

// A trailing "/" names the same folder; "/Temp/" and "/Temp" give one popup.
QString normalised(const QString& path) {
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::root().filePath(path));
}

// The folder names below the volume root, outermost first.
QStringList levelsBelow(const QString& root, const QString& path) {
    if (path.size() <= root.size())
        return {};
    return path.mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

} // namespace

QString volumeRootOf(const QString& path, const QStringList& volumes) {
    const QString p = normalised(path);
    if (p.isEmpty())
        return {};
    QString best = QStringLiteral("/");
    for (const QString& volume : volumes) {
        const QString v = normalised(volume);
        if (v.size() <= best.size())
            continue;
        if (p == v || p.startsWith(v + QLatin1Char('/')))
            best = v;
    }
    return best;
}

std::vector<PathPopupEntry> pathPopupEntries(const QString& path, const QStringList& volumes) {
    const QString p = normalised(path);
    if (p.isEmpty())
        return {{kMarker + myComputer(), 1}};
    const QString root = volumeRootOf(p, volumes);
    const QStringList levels = levelsBelow(root, p);
    const int d = int(levels.size());
    std::vector<PathPopupEntry> entries;
    entries.push_back({myComputer(), d + 2});
    entries.push_back({d == 0 ? kMarker + root : root, d + 1});
    for (int i = 1; i <= d; ++i) {
        QString indent(2 * i, QLatin1Char(' '));
        if (i == d)
            indent.replace(indent.size() - 2, 2, kMarker);
        entries.push_back({indent + levels[i - 1], d + 1 - i});
    }
    return entries;
}

QString ApplyPathPopupChoice(const QString& path, int k, const QStringList& volumes) {
    const QString p = normalised(path);
    const int up = k - 1;
    if (p.isEmpty() || up <= 0)
        return path;
    const QString root = volumeRootOf(p, volumes);
    QStringList levels = levelsBelow(root, p);
    const int d = int(levels.size());
    if (up > d + 1)
        return path;
    if (up == d + 1)
        return {};
    levels.resize(d - up);
    if (levels.isEmpty())
        return root;
    return root == QStringLiteral("/") ? root + levels.join(QLatin1Char('/'))
                                       : root + QLatin1Char('/') + levels.join(QLatin1Char('/'));
}

QMenu* makePathPopupMenu(QWidget* parent, const QString& path, const QStringList& volumes) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("PathPopup"));
    for (const PathPopupEntry& entry : pathPopupEntries(path, volumes)) {
        QAction* action =
            menu->addAction(QString(entry.text).replace(QLatin1Char('&'), QStringLiteral("&&")));
        action->setData(entry.k);
    }
    return menu;
}

int PathPopup(QWidget* owner, const QString& path, const QStringList& volumes, QWidget* pathButton,
              const std::function<void(bool)>& setOpen) {
    if (setOpen)
        setOpen(true);
    const std::unique_ptr<QMenu> menu(makePathPopupMenu(owner, path, volumes));
    const QAction* chosen = menu->exec(pathButton->mapToGlobal(QPoint(0, pathButton->height())));
    const int k = chosen ? chosen->data().toInt() : 0;
    if (setOpen)
        setOpen(false);
    return k;
}

} // namespace zapfer
