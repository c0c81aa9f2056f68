#include "owner_name.h"
#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zapfer;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Each write goes to a new file: QSettings caches a file it has read.
    QString path() const { return m_dir.filePath(QStringLiteral("Zapfer%1.conf").arg(m_writes)); }

    void write(const QByteArray& text) {
        ++m_writes;
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    Settings load() {
        QSettings store(path(), QSettings::IniFormat);
        return LoadSettings(store);
    }

    void save(const Settings& s) {
        QSettings store(path(), QSettings::IniFormat);
        SaveSettings(s, store);
    }

    QVariant stored(const char* key) {
        QSettings store(path(), QSettings::IniFormat);
        return store.value(QString::fromLatin1(key));
    }

    QTemporaryDir m_dir;
    int m_writes = 0;
};

TEST_F(SettingsTest, NoFileGivesTheDefaultsWhichAreThenWritten) {
    const Settings s = load();
    EXPECT_EQ(s.curDir, defaultTransferDir());
    EXPECT_EQ(s.destDir, defaultTransferDir());
    EXPECT_FALSE(s.curDir.isEmpty());
    EXPECT_TRUE(QDir(s.curDir).exists());
    EXPECT_EQ(s.commType, 5u);
    EXPECT_EQ(s.peerIp, 0u);
    EXPECT_EQ(s.sort, 0u);
    EXPECT_TRUE(s.promptDelete && s.showResults && s.preferenceBit1);
    EXPECT_FALSE((s.nameConflict == NameConflict::Replace) || s.pathPopupOpen);
    EXPECT_FALSE(s.serialPorts.usb || s.serialPorts.com1 || s.serialPorts.com2 ||
                 s.serialPorts.rawIr);

    save(s);
    EXPECT_EQ(stored("Preferences").toUInt(), 14u);
    EXPECT_EQ(stored("CommType").toUInt(), 5u);
    EXPECT_EQ(stored("PeerIP").toUInt(), 0u);
    EXPECT_EQ(stored("Sort").toUInt(), 0u);
    EXPECT_EQ(stored("CurDir").toString(), s.curDir);
    EXPECT_EQ(stored("DestDir").toString(), s.destDir);
    EXPECT_FALSE(stored("UsbPort").isValid()); // unset devices stay unset
}

TEST_F(SettingsTest, CommTypeOutOfRangeIsLanAndRawIrIsKept) {
    write("[General]\nCommType=9\n");
    EXPECT_EQ(load().commType, 5u);
    write("[General]\nCommType=4\n");
    EXPECT_EQ(load().commType, 4u);
    write("[General]\nCommType=0\n");
    EXPECT_EQ(load().commType, 0u);
    write("[General]\nCommType=-1\n");
    EXPECT_EQ(load().commType, 5u);
}

TEST_F(SettingsTest, PreferenceBitsAboveFourAreDroppedAndZeroTurnsAllOff) {
    write("[General]\nPreferences=4294967272\n"); // 0xFFFFFFE8: bit 3 and bits 5..31
    Settings s = load();
    EXPECT_TRUE(s.showResults);
    EXPECT_FALSE(s.promptDelete || (s.nameConflict == NameConflict::Replace) || s.preferenceBit1 ||
                 s.pathPopupOpen);
    save(s);
    EXPECT_EQ(stored("Preferences").toUInt(), 8u);

    write("[General]\nPreferences=0\n");
    s = load();
    EXPECT_FALSE(s.showResults || s.promptDelete || (s.nameConflict == NameConflict::Replace) ||
                 s.preferenceBit1);
    save(s);
    EXPECT_EQ(stored("Preferences").toUInt(), 0u);

    write("[General]\nPreferences=17\n");
    s = load();
    EXPECT_TRUE((s.nameConflict == NameConflict::Replace) && s.pathPopupOpen);
    EXPECT_FALSE(s.showResults);
}

TEST_F(SettingsTest, OneValueMissingKeepsOnlyThatDefault) {
    write("[General]\nSort=2\nPeerIP=3232235525\nCommType=6\nDestDir=/srv/in\nCurDir=\n");
    const Settings s = load();
    EXPECT_EQ(s.sort, 2u);
    EXPECT_EQ(s.peerIp, (192u << 24) | (168u << 16) | 5u);
    EXPECT_EQ(s.commType, 6u);
    EXPECT_EQ(s.destDir, QStringLiteral("/srv/in"));
    EXPECT_TRUE(s.curDir.isEmpty());                                  // the "My Computer" view
    EXPECT_TRUE(s.promptDelete && s.showResults && s.preferenceBit1); // no "Preferences"
    save(s);
    EXPECT_EQ(stored("PeerIP").toUInt(), 3232235525u);
    EXPECT_EQ(stored("Preferences").toUInt(), 14u);
}

TEST_F(SettingsTest, ValuesThatAreNotNumbersKeepTheirDefaults) {
    write("[General]\nSort=abc\nPeerIP=99999999999\nCommType=\n");
    const Settings s = load();
    EXPECT_EQ(s.sort, 0u);
    EXPECT_EQ(s.peerIp, 0u);
    EXPECT_EQ(s.commType, 5u);
}

TEST_F(SettingsTest, LongFoldersLoadWhole) {
    const QString deep = QStringLiteral("/") + QString(300, QLatin1Char('d'));
    Settings s;
    s.curDir = deep;
    s.destDir = deep;
    save(s);
    EXPECT_EQ(load().destDir, deep);
}

TEST_F(SettingsTest, SerialDevicesAreKeptOnlyWhenSet) {
    write("[General]\nCom1Port=/dev/ttyUSB7\nRawIrPort=\n");
    Settings s = load();
    ASSERT_TRUE(s.serialPorts.com1);
    EXPECT_EQ(*s.serialPorts.com1, "/dev/ttyUSB7");
    ASSERT_TRUE(s.serialPorts.rawIr); // set, even though empty
    EXPECT_EQ(*s.serialPorts.rawIr, "");
    EXPECT_FALSE(s.serialPorts.usb);
    s.serialPorts.com1.reset();
    save(s);
    EXPECT_FALSE(stored("Com1Port").isValid());
    EXPECT_TRUE(stored("RawIrPort").isValid());
}

TEST(OwnerName, FullNameElseLoginElseNoName) {
    EXPECT_EQ(ownerNameFrom("Ada Lovelace,Room 1,,", "ada"), "Ada Lovelace");
    EXPECT_EQ(ownerNameFrom("", "ada"), "ada");
    EXPECT_EQ(ownerNameFrom(",,,", "ada"), "ada");
    EXPECT_EQ(ownerNameFrom(nullptr, nullptr), "No Name");
    EXPECT_EQ(ownerNameFrom("", ""), "No Name");
}

TEST(OwnerName, ANameThatDoesNotFit128BytesIsPassedOver) {
    const std::string fits(127, 'a');
    const std::string tooLong(128, 'b');
    EXPECT_EQ(ownerNameFrom(fits.c_str(), "x"), fits);
    EXPECT_EQ(ownerNameFrom(tooLong.c_str(), "x"), "x");
    EXPECT_EQ(ownerNameFrom(tooLong.c_str(), tooLong.c_str()), "No Name");
    EXPECT_FALSE(ownerName().empty());
}

} // namespace

TEST_F(SettingsTest, NameConflictRoundTripsWithBit4InStep) {
    for (const NameConflict choice :
         {NameConflict::Refuse, NameConflict::Replace, NameConflict::KeepBoth}) {
        SCOPED_TRACE(int(choice));
        Settings s;
        s.nameConflict = choice;
        save(s);
        EXPECT_EQ(stored("NameConflict").toUInt(), uint32_t(choice));
        EXPECT_EQ(stored("Preferences").toUInt() & 16u, choice == NameConflict::Replace ? 16u : 0u);
        EXPECT_EQ(stored("Preferences").toUInt() & ~31u, 0u);
        EXPECT_EQ(load().nameConflict, choice);
    }
}

TEST_F(SettingsTest, AFileOfAnOlderProgramTakesItsChoiceFromBit4) {
    // Written before "NameConflict" existed: bit 4 only.
    write("[General]\nPreferences=30\n");
    Settings s = load();
    EXPECT_EQ(s.nameConflict, NameConflict::Replace);
    EXPECT_TRUE(s.promptDelete && s.showResults && s.preferenceBit1);
    save(s);
    EXPECT_EQ(stored("Preferences").toUInt(), 30u);
    EXPECT_EQ(stored("NameConflict").toUInt(), 1u);

    write("[General]\nPreferences=14\n");
    EXPECT_EQ(load().nameConflict, NameConflict::Refuse);

    // Keep both stored, then an older program turned overwriting on.
    write("[General]\nPreferences=30\nNameConflict=2\n");
    EXPECT_EQ(load().nameConflict, NameConflict::Replace);
    // Replace stored, then an older program turned it off.
    write("[General]\nPreferences=14\nNameConflict=1\n");
    EXPECT_EQ(load().nameConflict, NameConflict::Refuse);
    write("[General]\nPreferences=14\nNameConflict=2\n");
    EXPECT_EQ(load().nameConflict, NameConflict::KeepBoth);
    write("[General]\nPreferences=14\nNameConflict=7\n");
    EXPECT_EQ(load().nameConflict, NameConflict::Refuse);
}

TEST_F(SettingsTest, TheAcceptListRoundTripsAndADamagedOneStillRestricts) {
    Settings s;
    EXPECT_EQ(s.acceptList().kind, AcceptFrom::Anyone);
    s.acceptFrom = QStringLiteral("198.18.0.7 198.18.1.0/24");
    save(s);
    EXPECT_EQ(stored("AcceptFrom").toString(), QStringLiteral("198.18.0.7 198.18.1.0/24"));
    const Settings loaded = load();
    EXPECT_EQ(loaded.acceptFrom, s.acceptFrom);
    EXPECT_EQ(loaded.acceptList().networks.size(), 2u);

    // Edited by hand: the readable entry stays in force, nobody else gets in.
    write("[General]\nAcceptFrom=300.1.1.1 198.18.0.7\n");
    const AcceptList damaged = load().acceptList();
    EXPECT_EQ(damaged.kind, AcceptFrom::ListedAddresses);
    EXPECT_TRUE(damaged.admits(0xC6120007u));
    EXPECT_FALSE(damaged.admits(0x12C01010u));
    write("[General]\nAcceptFrom=nonsense\n");
    EXPECT_FALSE(load().acceptList().admits(0x7F000001u));
}
