// The paired link as the window shows it: the pairing code in the Settings
// dialog (typed, refused, made new, stored), "Only paired peers", the title,
// and the messages of a paired send that could not be made.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "main_window.h"
#include "pairing_key_file.h"
#include "settings_dialog.h"
#include "window_start.h"
#include "zapfer_app.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

constexpr int kPairedChoice = 2; // "Only paired peers" in "Accept files from"

class PairingWindow : public AppWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        m_file =
            seedSettings({{"DestDir", m_root.path()}, {"CurDir", m_root.path()}, {"CommType", 5}});
    }

    int fileMode() const {
        struct stat st {};
        if (::stat(QFile::encodeName(m_file).constData(), &st) != 0)
            return -1;
        return int(st.st_mode & 07777);
    }

    static bool pairedChoiceEnabled(SettingsDialog* dialog) {
        auto* model =
            qobject_cast<QStandardItemModel*>(control<QComboBox>(dialog, "AcceptFrom")->model());
        return model && model->item(kPairedChoice)->isEnabled();
    }

    // The window started, its messages recorded from then on, and its
    // Settings dialog open with the pairing code's field found.
    void openCodeDialog() {
        m_window = startWindow();
        ASSERT_TRUE(m_window);
        m_feedback.emplace();
        m_dialog = openSettings(m_window);
        ASSERT_TRUE(m_dialog);
        m_code = control<QLineEdit>(m_dialog, "PairingCode");
        ASSERT_TRUE(m_code);
    }

    QString m_file;
    MainWindow* m_window = nullptr;
    SettingsDialog* m_dialog = nullptr;
    QLineEdit* m_code = nullptr;
    std::optional<FeedbackRecorder> m_feedback;
};

TEST_F(PairingWindow, ATypedCodeIsStoredInOneFormAndPutsTheLinkInPairedMode) {
    ASSERT_NO_FATAL_FAILURE(openCodeDialog());
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    auto* acceptFrom = control<QComboBox>(m_dialog, "AcceptFrom");
    ASSERT_TRUE(acceptFrom && control<QPushButton>(m_dialog, "NewPairingCode"));
    EXPECT_EQ(m_code->text(), QString());
    EXPECT_EQ(acceptFrom->itemText(kPairedChoice), QStringLiteral("Only paired peers"));
    EXPECT_FALSE(pairedChoiceEnabled(m_dialog)) << "no code, nobody can be paired";

    m_code->setFocus();
    QTest::keyClicks(m_code, QStringLiteral("7kq3 m4xd-2hv"));
    EXPECT_FALSE(pairedChoiceEnabled(m_dialog)) << "eleven characters are no code";
    QTest::keyClicks(m_code, QStringLiteral("f"));
    EXPECT_TRUE(pairedChoiceEnabled(m_dialog));
    acceptFrom->setCurrentIndex(kPairedChoice);
    EXPECT_FALSE(control<QLineEdit>(m_dialog, "AcceptList")->isEnabled());
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_TRUE(m_feedback->messages.isEmpty()) << m_feedback->messages.join(u'|').toStdString();

    EXPECT_EQ(stored("PairingCode").toString(), QStringLiteral("7KQ3M4XD2HVF"));
    EXPECT_EQ(stored("AcceptFrom").toString(), QStringLiteral("paired"));
    EXPECT_EQ(fileMode(), 0600);
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Zapfer - LAN (paired)"));
    const EngineSettings engine = m_app->engine()->settings();
    EXPECT_EQ(engine.pairingCode, "7KQ3M4XD2HVF");
    EXPECT_EQ(engine.acceptFrom.kind, AcceptFrom::PairedPeers);
    EXPECT_FALSE(engine.plainLink);

    // Shown again in its groups, with the choice it was stored with.
    m_dialog = openSettings(m_window);
    ASSERT_TRUE(m_dialog);
    EXPECT_EQ(control<QLineEdit>(m_dialog, "PairingCode")->text(),
              QStringLiteral("7KQ3-M4XD-2HVF"));
    EXPECT_EQ(control<QComboBox>(m_dialog, "AcceptFrom")->currentIndex(), kPairedChoice);
    EXPECT_EQ(control<QLineEdit>(m_dialog, "AcceptList")->text(), QString());
    // The whole code is in sight, not scrolled.
    auto* shown = control<QLineEdit>(m_dialog, "PairingCode");
    EXPECT_LT(shown->fontMetrics().horizontalAdvance(shown->text()), shown->width() - 8);
    if (const QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR"); !dir.isEmpty()) {
        const QString file = QDir(dir).filePath(QStringLiteral("pairing-settings.png"));
        EXPECT_TRUE(m_dialog->grab().save(file));
    }

    // Taking the code away does not quietly widen whom files come from: OK
    // asks for a code or another choice.
    control<QLineEdit>(m_dialog, "PairingCode")->clear();
    EXPECT_FALSE(pairedChoiceEnabled(m_dialog));
    pressOk(m_dialog);
    ASSERT_EQ(m_feedback->messages.size(), 1);
    EXPECT_TRUE(m_feedback->messages[0].startsWith(QStringLiteral("Only paired peers needs")))
        << m_feedback->messages[0].toStdString();
    EXPECT_TRUE(m_dialog->isVisible());
    control<QComboBox>(m_dialog, "AcceptFrom")->setCurrentIndex(0);
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_FALSE(stored("PairingCode").isValid());
    EXPECT_EQ(stored("AcceptFrom").toString(), QString());
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    EXPECT_EQ(m_app->engine()->settings().pairingCode, "");
    EXPECT_EQ(m_app->engine()->settings().acceptFrom.kind, AcceptFrom::Anyone);
    EXPECT_NE(m_app->engine()->listenPort(), 0);
}

TEST_F(PairingWindow, AnythingButACodeIsRefusedWithItsProblemNamed) {
    ASSERT_NO_FATAL_FAILURE(openCodeDialog());
    struct Bad {
        QString typed;
        QString named; // what the message must say
    };
    const Bad bad[] = {
        {QStringLiteral("7KQ3-M4XD-2HV1"), QStringLiteral("'1' (character 14)")},
        {QStringLiteral("7KQ3_M4XD_2HVF"), QStringLiteral("'_' (character 5)")},
        {QStringLiteral("\u00e97KQ3-M4XD-2HVF"), QStringLiteral("'\u00e9' (character 1)")},
        {QStringLiteral("7KQ3-M4XD"), QStringLiteral("it has 8 letters and digits instead of 12")},
        {QStringLiteral("7KQ3-M4XD-2HVF-A"),
         QStringLiteral("it has 13 letters and digits instead of 12")},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.typed.toStdString());
        const qsizetype before = m_feedback->messages.size();
        m_code->setText(b.typed);
        EXPECT_FALSE(pairedChoiceEnabled(m_dialog));
        pressOk(m_dialog);
        ASSERT_EQ(m_feedback->messages.size(), before + 1);
        const QString& message = m_feedback->messages.last();
        EXPECT_TRUE(message.startsWith(QStringLiteral("'%1' is not a pairing code").arg(b.typed)))
            << message.toStdString();
        EXPECT_TRUE(message.contains(b.named)) << message.toStdString();
        EXPECT_TRUE(m_dialog->isVisible());
        EXPECT_TRUE(m_code->hasFocus());
    }
    EXPECT_FALSE(stored("PairingCode").isValid()) << "nothing refused was stored";
    EXPECT_EQ(m_app->engine()->settings().pairingCode, "");

    // Spaces and dashes alone are no code at all, which is allowed.
    m_code->setText(QStringLiteral(" - -"));
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_FALSE(stored("PairingCode").isValid());
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Zapfer - LAN"));
}

TEST_F(PairingWindow, NewCodeMakesValidCodesAndWanShowsThePairedLink) {
    ASSERT_NO_FATAL_FAILURE(openCodeDialog());
    auto* newCode = control<QPushButton>(m_dialog, "NewPairingCode");
    ASSERT_TRUE(newCode);
    const QRegularExpression grouped(QStringLiteral("^[A-Z2-7]{4}-[A-Z2-7]{4}-[A-Z2-7]{4}$"));
    QTest::mouseClick(newCode, Qt::LeftButton);
    const QString first = m_code->text();
    EXPECT_TRUE(grouped.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(pairedChoiceEnabled(m_dialog));
    QTest::mouseClick(newCode, Qt::LeftButton);
    const QString second = m_code->text();
    EXPECT_TRUE(grouped.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second) << "60 random bits do not repeat";

    QComboBox* types = m_dialog->commTypeList();
    types->setCurrentIndex(types->findText(QStringLiteral("WAN / Internet")));
    Q_EMIT types->activated(types->currentIndex());
    control<QLineEdit>(m_dialog, "1021")->setText(QStringLiteral("198.18.0.7"));
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_TRUE(m_feedback->messages.isEmpty()) << m_feedback->messages.join(u'|').toStdString();
    QString plain = second;
    plain.remove(u'-');
    EXPECT_EQ(stored("PairingCode").toString(), plain);
    EXPECT_EQ(m_app->engine()->settings().pairingCode, plain.toStdString());
    EXPECT_EQ(stored("AcceptFrom").toString(), QString()) << "the choice is the user's";
    EXPECT_EQ(fileMode(), 0600);
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Zapfer - WAN / Internet (paired)"));
}

TEST_F(PairingWindow, TheKeptKeyOfTheStoredCodeGoesToTheEngineAndLeavesWithTheCode) {
    store("PairingCode", QStringLiteral("7KQ3M4XD2HVF"));
    const std::string keyFile = pairingKeyFileBeside(QFile::encodeName(m_file).toStdString());
    KnownPairingKey known{"7KQ3M4XD2HVF", {}};
    known.key.bytes.fill(0x5A); // no code's key: only the file can have given it
    ASSERT_TRUE(writePairingKeyFile(keyFile, known));
    ASSERT_NO_FATAL_FAILURE(openCodeDialog());
    const EngineSettings engine = m_app->engine()->settings();
    ASSERT_TRUE(engine.pairingKey.has_value());
    EXPECT_EQ(engine.pairingKey->code, "7KQ3M4XD2HVF");
    EXPECT_EQ(engine.pairingKey->key.bytes, known.key.bytes);

    // A new code: the old code's key is neither handed on nor left on disk.
    QTest::mouseClick(control<QPushButton>(m_dialog, "NewPairingCode"), Qt::LeftButton);
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_NE(m_app->engine()->settings().pairingCode, "7KQ3M4XD2HVF");
    EXPECT_FALSE(m_app->engine()->settings().pairingKey.has_value());
    EXPECT_FALSE(QFile::exists(QFile::decodeName(QByteArray::fromStdString(keyFile))));

    // Kept again for the new code (as zapfer-cli would) and then cleared.
    known.code = m_app->engine()->settings().pairingCode;
    ASSERT_TRUE(writePairingKeyFile(keyFile, known));
    m_dialog = openSettings(m_window);
    ASSERT_TRUE(m_dialog);
    control<QLineEdit>(m_dialog, "PairingCode")->clear();
    ASSERT_TRUE(pressOkAndWaitClosed(m_window, m_dialog));
    EXPECT_FALSE(stored("PairingCode").isValid());
    EXPECT_FALSE(QFile::exists(QFile::decodeName(QByteArray::fromStdString(keyFile))));
}

// The engine ends a paired send it cannot make the way it ends a send to
// this computer's own address: SendFailure set, then the abort.
TEST_F(PairingWindow, EachPairedSendFailureIsToldInItsOwnWords) {
    store("CommType", 6); // WAN / Internet
    store("PeerIP", 0x7F000001u);
    store("PairingCode", QStringLiteral("7KQ3M4XD2HVF"));
    // A listener that takes the connection and never answers the handshake,
    // so the send stays in its Connecting step; and not this machine's own
    // paired port, which the send would find to be its own address.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    LinkConfig link;
    link.pairedPeerPort = silent.serverPort();
    link.pairedListenPort = 0;
    MainWindow* window = startWindow(link);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - WAN / Internet (paired)"));
    EXPECT_EQ(m_app->engine()->settings().pairingCode, "7KQ3M4XD2HVF");
    const QString path = writeFile(m_root.filePath(QStringLiteral("note.txt")), "hello");
    ASSERT_EQ(window->addPaths({path}), 1);

    const std::pair<SendFailure, QString> failures[] = {
        {SendFailure::PairedNotAccepted,
         QStringLiteral("The peer does not accept paired transfers")},
        {SendFailure::PairingMismatch, QStringLiteral("The peer has a different pairing code")},
        {SendFailure::PairedNoAnswer, QStringLiteral("The peer did not answer")},
    };
    QSignalSpy finished(window, &MainWindow::sendFinished);
    for (const auto& [failure, text] : failures) {
        SCOPED_TRACE(text.toStdString());
        FeedbackRecorder feedback;
        const qsizetype before = finished.size();
        command(*window, id::Send);
        ASSERT_TRUE(QTest::qWaitFor([&] { return transfersOf(*window).connectingDialog(); }, 5000));
        QTest::qWait(100); // TransferThread is dialling by now
        m_app->engine()->state().SendFailure = failure;
        m_app->engine()->cancel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == before + 1; }, 10000));
        EXPECT_EQ(feedback.titles, QStringList{QStringLiteral("Error")});
        EXPECT_EQ(feedback.messages, QStringList{text});
        EXPECT_FALSE(transfersOf(*window).connectingDialog());
        EXPECT_EQ(sendListOf(*window).model()->paths(), QStringList{path}) << "nothing was sent";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_app->engine()->state().LinkState.load() == LinkState::Listening; },
            5000));
    }
}

} // namespace
