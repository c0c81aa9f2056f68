#include "zapfer_program.h"

#include "termination_signals.h"
#include "translations.h"
#include "zapfer_app.h"

#include <QApplication>

namespace zapfer {

int runZapfer(int argc, char** argv, const ProgramOptions& options) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Zapfer"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quorvel.Zapfer"));
    installTranslations(QLocale::system(), translationDirs(QApplication::applicationDirPath()));
    QStringList files = QApplication::arguments();
    files.removeFirst();

    // Before the window starts: a SIGTERM that comes while it does must still
    // stop the engine and save the settings, not kill the process.
    TerminationSignals terminationSignals;
    ZapferApp zapfer(options.link);
    if (!zapfer.start(files))
        return 0;
    if (options.started)
        options.started(zapfer);
    const int code = QApplication::exec();
    zapfer.shutdown();
    return code;
}

} // namespace zapfer
