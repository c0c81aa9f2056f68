#pragma once

#include <QByteArray>
#include <QString>

namespace zapfer {

// A FileList row's name is one component: not empty, not "." or "..", no
// separator. Anything else would act outside the folder shown.
bool isPlainName(const QString& name);

// The path as the file system takes it (the local 8-bit encoding).
QByteArray nativePath(const QString& path);

} // namespace zapfer
