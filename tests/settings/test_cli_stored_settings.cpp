// zapfer-cli reads the window's stored settings without Qt: what the window
// writes, the command line must read back the same.

#include "default_destination.h"
#include "settings_store.h"
#include "stored_settings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zapfer;

TEST(CliStoredSettings, ReadsWhatTheWindowWrites) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("Zapfer.conf"));
    const QStringList destinations = {
        QStringLiteral("/home/ann/Downloads"),
        QStringLiteral("/tmp/with space, comma; semicolon \"quoted\" back\\slash"),
        QStringLiteral("/tmp/caf\u00e9 \u65e5\u672c"),
        QStringLiteral("@/starts/with/at"),
        QStringLiteral("/tmp/tab\there"),
    };
    for (const QString& dest : destinations) {
        SCOPED_TRACE(dest.toStdString());
        {
            QSettings store(file, QSettings::IniFormat);
            Settings settings;
            settings.destDir = dest;
            settings.commType = 6;
            settings.peerIp = 0xC0A80005; // 192.168.0.5
            settings.nameConflict = zapfer::NameConflict::Replace;
            settings.serialPorts.com1 = "/dev/ttyUSB7";
            SaveSettings(settings, store);
        }
        const cli::StoredSettings read = cli::readStoredSettings(file.toStdString());
        ASSERT_TRUE(read.destDir);
        EXPECT_EQ(*read.destDir, dest.toStdString());
        EXPECT_EQ(read.commType, 6u);
        EXPECT_EQ(read.peerIp, 0xC0A80005u);
        EXPECT_TRUE(read.overwriteFiles());
        EXPECT_EQ(read.com1Port, "/dev/ttyUSB7");
        EXPECT_FALSE(read.usbPort) << "an unset device stays unset";
    }
}

TEST(CliStoredSettings, MissingFileOrValuesLeaveDefaults) {
    const cli::StoredSettings none = cli::readStoredSettings("/nonexistent/Zapfer.conf");
    // With no folder stored, files go to the download folder, as in the window.
    ASSERT_TRUE(none.destDir);
    EXPECT_EQ(*none.destDir, zapfer::defaultDestination());
    EXPECT_EQ(*none.destDir, zapfer::defaultDestinationPath());
    EXPECT_FALSE(none.commType);
    EXPECT_FALSE(none.overwriteFiles());

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Zapfer.conf"));
    {
        QSettings store(file, QSettings::IniFormat);
        store.setValue(QStringLiteral("CommType"), QStringLiteral("not a number"));
        store.setValue(QStringLiteral("Preferences"), 14);
    }
    const cli::StoredSettings read = cli::readStoredSettings(file.toStdString());
    EXPECT_FALSE(read.commType);
    EXPECT_EQ(read.preferences, 14u);
    EXPECT_FALSE(read.overwriteFiles());
}

TEST(CliStoredSettings, TheWindowsNameConflictChoiceAndAcceptListReachTheCli) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Zapfer.conf"));
    {
        QSettings store(file, QSettings::IniFormat);
        Settings settings;
        settings.nameConflict = zapfer::NameConflict::KeepBoth;
        settings.acceptFrom = QStringLiteral("198.18.0.7 198.18.1.0/24");
        SaveSettings(settings, store);
    }
    const cli::StoredSettings read = cli::readStoredSettings(file.toStdString());
    EXPECT_EQ(read.nameConflictChoice(), zapfer::NameConflict::KeepBoth);
    EXPECT_FALSE(read.overwriteFiles());
    EXPECT_EQ(read.acceptFrom, "198.18.0.7 198.18.1.0/24");
}
