// The program started as a user starts it, in a German session: the window
// comes up in German, having found its translation where an installed one
// is found (the data folders), and in English in an English session.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Starts zapfer-test-window with `lang`, waits (bounded) for the texts it
// reports once up, and ends it as the desktop would.
QStringList captionsWithLanguage(const QString& lang) {
    QTemporaryDir dir;
    EXPECT_TRUE(dir.isValid());
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    EXPECT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString captions = dir.filePath(QStringLiteral("captions"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral(ZAPFER_SHARE_DIR));
    env.insert(QStringLiteral("ZAPFER_TEST_TCP_PORT"), QStringLiteral("0"));
    env.insert(QStringLiteral("ZAPFER_TEST_CAPTIONS_FILE"), captions);

    QProcess zapfer;
    zapfer.setProcessEnvironment(env);
    zapfer.setProcessChannelMode(QProcess::ForwardedChannels);
    zapfer.start(QStringLiteral(ZAPFER_PATH), {});
    EXPECT_TRUE(zapfer.waitForStarted(5000));
    const bool written = QTest::qWaitFor([&] { return QFile::exists(captions); }, 20000);
    zapfer.terminate();
    EXPECT_TRUE(zapfer.waitForFinished(10000));
    EXPECT_TRUE(written);
    QFile file(captions);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

TEST(WindowLanguage, AGermanSessionGetsAGermanWindow) {
    const QStringList captions = captionsWithLanguage(QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(captions.size(), 8);
    EXPECT_EQ(captions[0], QStringLiteral("Dateien: 0  Bytes: 0"));
    EXPECT_EQ(captions[1], QStringLiteral("Zur Sendeliste hinzufügen"));
    EXPECT_EQ(captions[3], QStringLiteral("Senden"));
    EXPECT_EQ(captions[7], QStringLiteral("Beenden"));
}

TEST(WindowLanguage, AnEnglishSessionGetsTheEnglishTexts) {
    const QStringList captions = captionsWithLanguage(QStringLiteral("en_GB.UTF-8"));
    ASSERT_EQ(captions.size(), 8);
    EXPECT_EQ(captions[0], QStringLiteral("Files: 0  Bytes: 0"));
    EXPECT_EQ(captions[1], QStringLiteral("Add to Send List"));
    EXPECT_EQ(captions[7], QStringLiteral("Exit"));
}

} // namespace
