// The pairing code and "Only paired peers" in the settings file: one stored
// form, a file nobody else may read, and no way for a damaged value to turn
// paired transfers off or let anyone in.

#include "pairing_key_file.h"
#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace zapfer;

namespace {

// The permission bits of `path`; -1 when it does not exist.
int modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// A umask that lets the group and others read new files, as most desktops
// have it; the old one is put back.
class ReadableUmask {
public:
    ReadableUmask() : m_old(::umask(022)) {}
    ~ReadableUmask() { ::umask(m_old); }
    ReadableUmask(const ReadableUmask&) = delete;
    ReadableUmask& operator=(const ReadableUmask&) = delete;

private:
    mode_t m_old;
};

class PairingSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Each file is new: QSettings caches a file it has read.
    QString newPath() { return m_dir.filePath(QStringLiteral("c%1/Zapfer.conf").arg(++m_files)); }

    static Settings load(const QString& path) {
        QSettings store(path, QSettings::IniFormat);
        return LoadSettings(store);
    }
    static void save(const Settings& s, const QString& path) {
        QSettings store(path, QSettings::IniFormat);
        SaveSettings(s, store);
    }
    static QVariant stored(const QString& path, const char* key) {
        QSettings store(path, QSettings::IniFormat);
        return store.value(QString::fromLatin1(key));
    }
    QString written(const QByteArray& text) {
        const QString path = newPath();
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    ReadableUmask m_umask;
    QTemporaryDir m_dir;
    int m_files = 0;
};

TEST_F(PairingSettings, TheCodeIsStoredInOneFormInAFileOnlyItsOwnerReads) {
    Settings s;
    s.pairingCode = QStringLiteral("7KQ3M4XD2HVF");

    // A first start: neither the file nor its folder exist yet.
    const QString fresh = newPath();
    save(s, fresh);
    EXPECT_EQ(stored(fresh, "PairingCode").toString(), QStringLiteral("7KQ3M4XD2HVF"));
    EXPECT_EQ(modeOf(fresh), 0600);

    // A file an earlier run left readable by everyone is closed before the
    // code goes in, and what it held is kept.
    const QString old = written("[General]\nSort=2\n");
    ASSERT_TRUE(QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                               QFile::ReadOther));
    ASSERT_EQ(modeOf(old), 0644);
    Settings loaded = load(old);
    EXPECT_EQ(loaded.sort, 2u);
    EXPECT_TRUE(loaded.pairingCode.isEmpty());
    loaded.pairingCode = s.pairingCode;
    save(loaded, old);
    EXPECT_EQ(modeOf(old), 0600);
    EXPECT_EQ(stored(old, "Sort").toUInt(), 2u);
    EXPECT_EQ(load(old).pairingCode, QStringLiteral("7KQ3M4XD2HVF"));

    // Taken away, it leaves no trace in the file.
    loaded.pairingCode.clear();
    save(loaded, old);
    EXPECT_FALSE(stored(old, "PairingCode").isValid());
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("7KQ3M4XD2HVF"));

    // Without a code nothing is changed about the file's mode.
    const QString plain = newPath();
    save(Settings{}, plain);
    EXPECT_EQ(modeOf(plain), 0644);
}

TEST_F(PairingSettings, AHandEditedCodeIsReadAsTypedAndADamagedOneStaysInForce) {
    EXPECT_EQ(load(written("[General]\nPairingCode=7kq3 m4xd-2hvf\n")).pairingCode,
              QStringLiteral("7KQ3M4XD2HVF"));
    EXPECT_TRUE(load(written("[General]\nPairingCode=\" - \"\n")).pairingCode.isEmpty());

    // Not a code: still a code the sender must use, so a send fails where it
    // would otherwise go out unencrypted.
    const Settings damaged = load(written("[General]\nPairingCode=7KQ3-M4XD\nCommType=5\n"));
    EXPECT_EQ(damaged.pairingCode, QStringLiteral("7KQ3-M4XD"));
    EXPECT_TRUE(damaged.pairedSending());

    Settings s;
    s.pairingCode = QStringLiteral("7KQ3M4XD2HVF");
    for (uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u}) {
        s.commType = type;
        EXPECT_EQ(s.pairedSending(), type == 5u || type == 6u) << type; // LAN, WAN only
    }
    s.commType = 5;
    s.pairingCode.clear();
    EXPECT_FALSE(s.pairedSending());
}

TEST_F(PairingSettings, OnlyPairedPeersRoundTripsAndNeverLetsAnyoneIn) {
    Settings s;
    s.pairingCode = QStringLiteral("7KQ3M4XD2HVF");
    s.acceptFrom = QLatin1String(kAcceptPairedPeers);
    const QString path = newPath();
    save(s, path);
    EXPECT_EQ(stored(path, "AcceptFrom").toString(), QStringLiteral("paired"));
    const Settings loaded = load(path);
    EXPECT_TRUE(loaded.acceptsPairedPeersOnly());
    const AcceptList list = loaded.acceptList();
    EXPECT_EQ(list.kind, AcceptFrom::PairedPeers);
    EXPECT_TRUE(list.networks.empty());
    EXPECT_FALSE(list.admits(0x7F000001u)) << "a plain sender is never admitted";

    // Its code lost (the file edited by hand): still nobody on the plain link.
    const Settings codeless = load(written("[General]\nAcceptFrom=paired\n"));
    EXPECT_EQ(codeless.acceptList().kind, AcceptFrom::PairedPeers);
    EXPECT_FALSE(codeless.acceptList().admits(0xC6120007u));

    // An address list is not taken for it.
    s.acceptFrom = QStringLiteral("198.18.0.7");
    EXPECT_FALSE(s.acceptsPairedPeersOnly());
}

TEST_F(PairingSettings, TheKeptKeyIsReadForItsCodeAndGoesWhenTheCodeIsClearedOrReplaced) {
    Settings s;
    s.pairingCode = QStringLiteral("7KQ3M4XD2HVF");
    const QString path = newPath();
    save(s, path);
    const std::string keyFile = pairingKeyFileBeside(QFile::encodeName(path).toStdString());
    EXPECT_EQ(keyFile, QFile::encodeName(QFileInfo(path).absolutePath()).toStdString() +
                           "/Zapfer.pairing-key");
    KnownPairingKey known{"7KQ3M4XD2HVF", {}};
    known.key.bytes.fill(0x5A);
    ASSERT_TRUE(writePairingKeyFile(keyFile, known));
    {
        QSettings store(path, QSettings::IniFormat);
        const std::optional<KnownPairingKey> kept = KeptPairingKey(load(path), store);
        ASSERT_TRUE(kept.has_value());
        EXPECT_EQ(kept->code, "7KQ3M4XD2HVF");
        EXPECT_EQ(kept->key.bytes, known.key.bytes);
        Settings other = s;
        other.pairingCode = QStringLiteral("ABCDEFGHIJKL");
        EXPECT_FALSE(KeptPairingKey(other, store)) << "another code's key is never handed out";
    }

    // Saved again with the same code (every exit): the key stays.
    save(s, path);
    EXPECT_TRUE(readPairingKeyFile(keyFile, "7KQ3M4XD2HVF"));
    // A new code: the old key goes with the old code.
    s.pairingCode = QStringLiteral("ABCDEFGHIJKL");
    save(s, path);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(keyFile)));
    // Cleared: nothing made from a code is left.
    known.code = "ABCDEFGHIJKL";
    ASSERT_TRUE(writePairingKeyFile(keyFile, known));
    s.pairingCode.clear();
    save(s, path);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(keyFile)));
    EXPECT_FALSE(stored(path, "PairingCode").isValid());
}

} // namespace
