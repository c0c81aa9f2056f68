#pragma once

#include <QStringList>

namespace zapfer {

// The "My Computer" view: "/" first, then the mount points of real file
// systems in the order of `mountsText` (the format of /proc/self/mounts).
// Kernel and runtime file systems (/proc, /sys, /dev, /run, tmpfs ...) are
// left out, and so is every mount point listed twice.
QStringList parseMountedVolumes(const QByteArray& mountsText);

// parseMountedVolumes of this process's mount table; "/" alone when it
// cannot be read.
QStringList mountedVolumes();

} // namespace zapfer
