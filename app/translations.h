#pragma once

#include <QLocale>
#include <QStringList>

namespace zapfer {

// The folders that may hold Zapfer's translations (zapfer_<language>.qm), in
// the order they are tried: beside the program (bin/../share/zapfer/
// translations, which a build tree has too), then the data folders of
// XDG_DATA_DIRS.
QStringList translationDirs(const QString& programDir);

// Installs Qt's own translation (qtbase, when the system has one for
// `locale`) and Zapfer's from the first of `dirs` that has one, as children
// of the application object. Returns whether Zapfer's was found; without it
// the window speaks English. GUI thread, after the application object exists.
bool installTranslations(const QLocale& locale, const QStringList& dirs);

} // namespace zapfer
