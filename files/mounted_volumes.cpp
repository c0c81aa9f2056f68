#include "mounted_volumes.h"

#include <QFile>
#include <QList>

#include <array>
#include <string_view>

namespace zapfer {

namespace {

constexpr std::array<std::string_view, 27> kPseudoTypes = {
    "proc",        "sysfs",      "devtmpfs",  "devpts",      "tmpfs",     "cgroup",
    "cgroup2",     "securityfs", "pstore",    "debugfs",     "tracefs",   "configfs",
    "fusectl",     "mqueue",     "hugetlbfs", "binfmt_misc", "autofs",    "bpf",
    "nsfs",        "efivarfs",   "ramfs",     "rpc_pipefs",  "selinuxfs", "fuse.gvfsd-fuse",
    "fuse.portal", "squashfs",   "overlay"};

constexpr std::array<std::string_view, 5> kSystemTrees = {"/proc", "/sys", "/dev", "/run", "/snap"};

bool isUnder(std::string_view path, std::string_view tree) {
    return path == tree || (path.size() > tree.size() && path.substr(0, tree.size()) == tree &&
                            path[tree.size()] == '/');
}

// Mount tables write space, tab, newline and backslash as octal escapes.
QByteArray unescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3') {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

} // namespace

QStringList parseMountedVolumes(const QByteArray& mountsText) {
    QStringList volumes{QStringLiteral("/")};
    const QList<QByteArray> lines = mountsText.split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        const QByteArray point = unescapeMountField(fields[1]);
        const std::string_view pointView(point.constData(), size_t(point.size()));
        const std::string_view type(fields[2].constData(), size_t(fields[2].size()));
        bool skip = point.isEmpty() || point[0] != '/';
        for (std::string_view pseudo : kPseudoTypes)
            skip = skip || type == pseudo;
        for (std::string_view tree : kSystemTrees)
            skip = skip || isUnder(pointView, tree);
        if (skip)
            continue;
        const QString name = QFile::decodeName(point);
        if (!volumes.contains(name))
            volumes.append(name);
    }
    return volumes;
}

QStringList mountedVolumes() {
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {QStringLiteral("/")};
    return parseMountedVolumes(mounts.readAll());
}

} // namespace zapfer
