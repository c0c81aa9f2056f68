// The real zapfer binary started twice in an isolated home: the second start
// hands its files to the first and ends.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        for (const char* sub : {"home", "config", "runtime", "work"})
            ASSERT_TRUE(QDir(m_root.path()).mkdir(QString::fromLatin1(sub)));
        ASSERT_TRUE(QFile::setPermissions(dir("runtime"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("HOME"), dir("home"));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir("config"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir("runtime"));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("ZAPFER_TEST_TCP_PORT"), QStringLiteral("0"));
        m_env.insert(QStringLiteral("ZAPFER_TEST_SENDLIST_FILE"), sendListFile());
    }

    void TearDown() override {
        if (m_first.state() != QProcess::NotRunning) {
            m_first.kill();
            m_first.waitForFinished(5000);
        }
    }

    QString dir(const char* sub) const { return m_root.filePath(QString::fromLatin1(sub)); }
    QString sendListFile() const { return m_root.filePath(QStringLiteral("sendlist")); }
    QString configFile() const { return dir("config") + QStringLiteral("/Quorvel/Zapfer.conf"); }

    void startZapfer(QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(m_env);
        process.setWorkingDirectory(dir("work"));
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(ZAPFER_PATH), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    QStringList sendList() const {
        QFile file(sendListFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir m_root;
    QProcessEnvironment m_env;
    QProcess m_first;
};

TEST_F(TwoInstances, SecondStartHandsItsFilesOverAndExitsWithoutTouchingTheSettings) {
    for (const char* name : {"one.txt", "two.txt"}) {
        QFile file(dir("work") + QLatin1Char('/') + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
    startZapfer(m_first, {});
    // The first instance is ready once its (empty) SendList is written.
    ASSERT_TRUE(QTest::qWaitFor([this] { return QFile::exists(sendListFile()); }, 10000));
    EXPECT_TRUE(sendList().isEmpty());
    EXPECT_FALSE(QFile::exists(configFile()));

    // Relative names, as a shell passes them, arrive as absolute paths.
    QProcess second;
    startZapfer(second, {QStringLiteral("one.txt"), QStringLiteral("two.txt"),
                         QStringLiteral("missing.txt")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(configFile())) << "the second start wrote the settings";

    const QStringList expected = {dir("work") + QStringLiteral("/two.txt"),
                                  dir("work") + QStringLiteral("/one.txt")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return sendList() == expected; }, 10000))
        << sendList().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(m_first.state(), QProcess::Running);

    // A normal end (here by SIGTERM) stops the engine and writes the defaults.
    ::kill(pid_t(m_first.processId()), SIGTERM);
    ASSERT_TRUE(m_first.waitForFinished(10000));
    EXPECT_EQ(m_first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_first.exitCode(), 0);
    QSettings written(configFile(), QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("Preferences")).toUInt(), 14u);
    EXPECT_EQ(written.value(QStringLiteral("CommType")).toUInt(), 5u);
    EXPECT_EQ(written.value(QStringLiteral("Sort")).toUInt(), 0u);
    // The download folder, made when missing, is where a first start looks.
    EXPECT_EQ(written.value(QStringLiteral("CurDir")).toString(),
              dir("home") + QStringLiteral("/Downloads"));
    EXPECT_FALSE(QFile::exists(dir("runtime") + QStringLiteral("/zapfer")));
}

TEST_F(TwoInstances, ASocketLeftByACrashedInstanceIsTakenOver) {
    startZapfer(m_first, {});
    ASSERT_TRUE(QTest::qWaitFor([this] { return QFile::exists(sendListFile()); }, 10000));
    m_first.kill();
    ASSERT_TRUE(m_first.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(dir("runtime") + QStringLiteral("/zapfer")));
    QFile::remove(sendListFile());

    QFile file(dir("work") + QStringLiteral("/three.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QProcess next;
    startZapfer(next, {QStringLiteral("three.txt")});
    const QStringList expected = {dir("work") + QStringLiteral("/three.txt")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return sendList() == expected; }, 10000));
    EXPECT_EQ(next.state(), QProcess::Running);
    ::kill(pid_t(next.processId()), SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    EXPECT_EQ(next.exitCode(), 0);
}

} // namespace
