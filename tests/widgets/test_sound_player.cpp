// The sound layer finds out whether anything can play a sound, and where
// nothing can it stays silent, on the terminal too.

#include "sound_player.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace zapfer;

namespace {

bool touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// What the process writes on its standard error while `run` runs.
template <typename Run> QByteArray standardErrorOf(Run run) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stderr"));
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    if (file < 0)
        return "cannot capture";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QFile captured(path);
    return captured.open(QIODevice::ReadOnly) ? captured.readAll() : QByteArray("unreadable");
}

TEST(SoundPlayer, AnOutputIsAPlaybackDeviceOrASoundServer) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("snd")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("runtime/pulse")));
    SoundOutputPlaces places;
    places.deviceDir = QFile::encodeName(dir.filePath(QStringLiteral("snd"))).toStdString();
    places.runtimeDir = QFile::encodeName(dir.filePath(QStringLiteral("runtime"))).toStdString();
    EXPECT_FALSE(soundOutputExists(places));

    // A capture device and the control node play nothing.
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("snd/pcmC0D0c"))));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("snd/controlC0"))));
    EXPECT_FALSE(soundOutputExists(places));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("snd/pcmC0D0p"))));
    EXPECT_TRUE(soundOutputExists(places));

    places.deviceDir = QFile::encodeName(dir.filePath(QStringLiteral("none"))).toStdString();
    EXPECT_FALSE(soundOutputExists(places));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("runtime/pulse/native"))));
    EXPECT_TRUE(soundOutputExists(places));
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("runtime/pulse/native"))));
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("runtime/pipewire-0"))));
    EXPECT_TRUE(soundOutputExists(places));

    places.runtimeDir.clear();
    EXPECT_FALSE(soundOutputExists(places));
    places.pulseServer = "tcp:192.0.2.1";
    EXPECT_TRUE(soundOutputExists(places));
}

TEST(SoundPlayer, WithoutAnOutputEverySoundIsSilentOnTheTerminalToo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SoundOutputPlaces nothing;
    nothing.deviceDir = QFile::encodeName(dir.filePath(QStringLiteral("snd"))).toStdString();
    nothing.runtimeDir = QFile::encodeName(dir.path()).toStdString();
    const QByteArray printed = standardErrorOf([&nothing] {
        SoundPlayer player(nothing);
        for (int round = 0; round < 2; ++round) {
            player.play(Sound::LinkUp);
            player.play(Sound::Completed);
            player.play(Sound::Interrupted);
        }
    });
    EXPECT_TRUE(printed.isEmpty()) << printed.toStdString();
}

TEST(SoundPlayer, ThisSessionWithoutSoundPrintsNothing) {
    // The tests' own session: a private runtime folder, and here no sound
    // device; the player looks for itself.
    if (soundOutputExists(SoundOutputPlaces::ofThisSession()))
        GTEST_SKIP() << "this machine can play sounds";
    const QByteArray printed = standardErrorOf([] {
        SoundPlayer player;
        player.play(Sound::Completed);
        player.play(Sound::Interrupted);
    });
    EXPECT_TRUE(printed.isEmpty()) << printed.toStdString();
}

} // namespace
