#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>

namespace zapfer {

QStringList translationDirs(const QString& programDir) {
    QStringList dirs{QDir::cleanPath(programDir + QStringLiteral("/../share/zapfer/translations"))};
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        dirs.append(QDir(data).filePath(QStringLiteral("zapfer/translations")));
    dirs.removeDuplicates();
    return dirs;
}

namespace {

// The translator is kept only when it loaded, so that an English system has
// none installed at all.
bool install(const QLocale& locale, const QString& name, const QString& dir) {
    QCoreApplication* app = QCoreApplication::instance();
    auto* translator = new QTranslator(app);
    if (translator->load(locale, name, QStringLiteral("_"), dir) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace

bool installTranslations(const QLocale& locale, const QStringList& dirs) {
    install(locale, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    for (const QString& dir : dirs) {
        if (install(locale, QStringLiteral("zapfer"), dir))
            return true;
    }
    return false;
}

} // namespace zapfer
