// The Settings dialog on a running window: the controls, the address check,
// Esc, saving, and switching the link (serial port, listener) on OK.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "main_window.h"
#include "settings_dialog.h"
#include "window_start.h"
#include "zapfer_app.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

// A pty pair standing in for a serial device; closed on every way out.
class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0)
            m_path = QString::fromLocal8Bit(name);
        if (m_slave >= 0)
            ::close(m_slave); // the engine opens it by its path
    }
    ~PtyPair() {
        if (m_master >= 0)
            ::close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    const QString& path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// How many descriptors of this process are open on `path`.
int openCount(const QString& path) {
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == path)
            ++count;
    }
    return count;
}

class SettingsDialogTest : public AppWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        seedSettings({{"DestDir", m_root.path()}, {"CurDir", m_root.path()}, {"CommType", 5}});
    }

    // Picks the entry `text` with the keyboard, as a user would.
    static bool choose(SettingsDialog* dialog, const QString& text) {
        QComboBox* list = dialog->commTypeList();
        list->setFocus();
        for (int i = 0; i < 2 * list->count() && list->currentText() != text; ++i)
            QTest::keyClick(list,
                            list->currentIndex() + 1 < list->count() ? Qt::Key_Down : Qt::Key_Home);
        return list->currentText() == text;
    }
};

TEST_F(SettingsDialogTest, ControlsAddressCheckEscAndOkWritingTheSettings) {
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    SettingsDialog* dialog = openSettings(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal() || dialog->windowModality() != Qt::NonModal);

    QComboBox* types = dialog->commTypeList();
    QStringList entries;
    for (int i = 0; i < types->count(); ++i)
        entries.append(types->itemText(i));
    EXPECT_EQ(entries,
              QStringLiteral("IRDA|USB|COM1|COM2|LAN|WAN / Internet").split(QLatin1Char('|')));
    EXPECT_EQ(types->currentText(), QStringLiteral("LAN"));
    EXPECT_EQ(control<QLineEdit>(dialog, "1001")->text(), m_root.path());
    EXPECT_TRUE(control<QLineEdit>(dialog, "1001")->isReadOnly());
    EXPECT_EQ(control<QLineEdit>(dialog, "1022")->text(), localAddressText());
    EXPECT_FALSE(control<QLineEdit>(dialog, "1022")->isEnabled());
    EXPECT_FALSE(control<QLineEdit>(dialog, "SerialDevice")->isEnabled());

    auto* peer = control<QLineEdit>(dialog, "1021");
    EXPECT_FALSE(peer->isEnabled());
    ASSERT_TRUE(choose(dialog, QStringLiteral("WAN / Internet")));
    EXPECT_TRUE(peer->isEnabled());
    ASSERT_TRUE(choose(dialog, QStringLiteral("COM2")));
    EXPECT_FALSE(peer->isEnabled());
    EXPECT_TRUE(control<QLineEdit>(dialog, "SerialDevice")->isEnabled());
    ASSERT_TRUE(choose(dialog, QStringLiteral("WAN / Internet")));
    EXPECT_TRUE(peer->isEnabled());

    // Octets above 255 and letters are not taken; an incomplete address is refused.
    QTest::keyClicks(peer, QStringLiteral("10.300x.2"));
    EXPECT_EQ(peer->text(), QStringLiteral("10.30.2"));
    pressOk(dialog);
    ASSERT_EQ(feedback.messages.size(), 1);
    EXPECT_TRUE(feedback.messages[0].startsWith(QStringLiteral("'10.30.2' is not a complete")));
    EXPECT_TRUE(dialog->isVisible());
    // Esc does nothing.
    QTest::keyClick(dialog, Qt::Key_Escape);
    QTest::qWait(50);
    ASSERT_TRUE(window->findChild<SettingsDialog*>());
    EXPECT_TRUE(dialog->isVisible());

    QTest::keyClicks(peer, QStringLiteral(".4"));
    control<QComboBox>(dialog, "1014")->setCurrentIndex(1); // Replace the file
    control<QCheckBox>(dialog, "1011")->setChecked(false);
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_EQ(feedback.messages.size(), 1);
    EXPECT_EQ(stored(QStringLiteral("CommType")).toUInt(), 6u);
    EXPECT_EQ(stored(QStringLiteral("PeerIP")).toUInt(), 0x0A1E0204u);
    EXPECT_EQ(stored(QStringLiteral("Preferences")).toUInt(), 2u | 8u | 16u);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - WAN / Internet"));
    EXPECT_EQ(m_app->engine()->settings().peerIp, 0x0A1E0204u);
    EXPECT_EQ(stored(QStringLiteral("NameConflict")).toUInt(), 1u);
    EXPECT_EQ(m_app->engine()->settings().nameConflict, NameConflict::Replace);
    EXPECT_EQ(m_app->engine()->state().CommType.load(), CommType::Wan);
}

TEST_F(SettingsDialogTest, SerialToLanClosesThePortAndOpensTheListener) {
    PtyPair pty;
    ASSERT_FALSE(pty.path().isEmpty());
    store(QStringLiteral("CommType"), 2);
    store(QStringLiteral("Com1Port"), pty.path());
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - COM1"));
    ASSERT_TRUE(m_app->engine()->snapshot().canSend) << int(m_app->engine()->linkError().fault);
    EXPECT_EQ(openCount(pty.path()), 1);
    EXPECT_EQ(m_app->engine()->listenPort(), 0);

    SettingsDialog* dialog = openSettings(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(control<QLineEdit>(dialog, "SerialDevice")->text(), pty.path());
    ASSERT_TRUE(choose(dialog, QStringLiteral("LAN")));
    EXPECT_EQ(control<QLineEdit>(dialog, "SerialDevice")->text(), QString());
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    EXPECT_EQ(openCount(pty.path()), 0);
    EXPECT_NE(m_app->engine()->listenPort(), 0);
    EXPECT_EQ(m_app->engine()->state().BlockSize.load(), 32768);
    EXPECT_EQ(stored(QStringLiteral("CommType")).toUInt(), 5u);
    EXPECT_EQ(stored(QStringLiteral("Com1Port")).toString(), pty.path());
    EXPECT_TRUE(feedback.messages.isEmpty());
}

TEST_F(SettingsDialogTest, ANewDevicePathReopensTheSerialLinkAndIsStored) {
    PtyPair first;
    PtyPair second;
    ASSERT_FALSE(first.path().isEmpty());
    ASSERT_FALSE(second.path().isEmpty());
    store(QStringLiteral("CommType"), 4); // RAW IR: kept, though not offered
    store(QStringLiteral("RawIrPort"), first.path());
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - RAW IR"));
    EXPECT_EQ(openCount(first.path()), 1);

    SettingsDialog* dialog = openSettings(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->commTypeList()->currentIndex(), -1);
    auto* device = control<QLineEdit>(dialog, "SerialDevice");
    EXPECT_EQ(device->text(), first.path());
    device->setText(second.path());
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));

    EXPECT_EQ(stored(QStringLiteral("CommType")).toUInt(), 4u);
    EXPECT_EQ(stored(QStringLiteral("RawIrPort")).toString(), second.path());
    EXPECT_EQ(openCount(first.path()), 0);
    EXPECT_EQ(openCount(second.path()), 1);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - RAW IR"));
}

} // namespace

TEST_F(SettingsDialogTest, TheAcceptListIsCheckedNamedAndAppliedWithKeepBoth) {
    store(QStringLiteral("NameConflict"), 2);
    MainWindow* window = startWindow();
    ASSERT_TRUE(window);
    FeedbackRecorder feedback;
    SettingsDialog* dialog = openSettings(window);
    ASSERT_TRUE(dialog);
    auto* conflict = control<QComboBox>(dialog, "1014");
    ASSERT_TRUE(conflict);
    EXPECT_EQ(conflict->count(), 3);
    EXPECT_EQ(conflict->currentText(), QStringLiteral("Keep both"));
    auto* acceptFrom = control<QComboBox>(dialog, "AcceptFrom");
    auto* list = control<QLineEdit>(dialog, "AcceptList");
    ASSERT_TRUE(acceptFrom && list);
    EXPECT_EQ(acceptFrom->currentIndex(), 0);
    EXPECT_FALSE(list->isEnabled());

    acceptFrom->setCurrentIndex(1);
    ASSERT_TRUE(list->isEnabled());
    // Each bad entry is named, and the dialog stays open.
    for (const char* bad : {"198.18.0.7 300.1.1.1", "10.0.0.0/40", "", "198.18.0.7 host.lan"}) {
        SCOPED_TRACE(bad);
        const qsizetype before = feedback.messages.size();
        list->setText(QString::fromLatin1(bad));
        pressOk(dialog);
        QTest::qWait(50);
        ASSERT_EQ(feedback.messages.size(), before + 1);
        EXPECT_TRUE(dialog->isVisible());
    }
    const auto textOf = [&feedback](int i) { return feedback.messages[i]; };
    EXPECT_TRUE(textOf(0).contains(QStringLiteral("'300.1.1.1'"))) << textOf(0).toStdString();
    EXPECT_TRUE(textOf(1).contains(QStringLiteral("'10.0.0.0/40'"))) << textOf(1).toStdString();
    EXPECT_TRUE(textOf(3).contains(QStringLiteral("'host.lan'"))) << textOf(3).toStdString();

    list->setText(QStringLiteral("198.18.0.7, 127.0.0.0/8"));
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_EQ(stored(QStringLiteral("AcceptFrom")).toString(),
              QStringLiteral("198.18.0.7 127.0.0.0/8"));
    EXPECT_EQ(stored(QStringLiteral("NameConflict")).toUInt(), 2u);
    EXPECT_EQ(stored(QStringLiteral("Preferences")).toUInt() & 16u, 0u);
    const EngineSettings engine = m_app->engine()->settings();
    EXPECT_EQ(engine.nameConflict, NameConflict::KeepBoth);
    EXPECT_EQ(engine.acceptFrom.kind, AcceptFrom::ListedAddresses);
    EXPECT_TRUE(engine.acceptFrom.admits(0x7F000001u));
    EXPECT_FALSE(engine.acceptFrom.admits(0xC6120008u));
}
