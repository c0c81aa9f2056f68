// The paired link as the window shows it: the pairing code in the Settings
// dialog (typed, refused, made new, stored), "Only paired peers", the title,
// and the messages of a paired send that could not be made.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "main_window.h"
#include "settings_dialog.h"
#include "window_parts.h"
#include "zapfer_app.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

constexpr int kPairedChoice = 2; // "Only paired peers" in "Accept files from"

class PairingWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        store.clear();
        store.setValue(QStringLiteral("DestDir"), m_root.path());
        store.setValue(QStringLiteral("CurDir"), m_root.path());
        store.setValue(QStringLiteral("CommType"), 5);
        store.sync();
        m_file = store.fileName();
    }

    static QVariant stored(const char* key) {
        QSettings s(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        return s.value(QString::fromLatin1(key));
    }

    int fileMode() const {
        struct stat st {};
        if (::stat(QFile::encodeName(m_file).constData(), &st) != 0)
            return -1;
        return int(st.st_mode & 07777);
    }

    MainWindow* startWindow(LinkConfig link = {}) {
        link.listenPort = 0;
        link.echoPort = 0;
        m_app = std::make_unique<ZapferApp>(link);
        return m_app->start({}) ? m_app->window() : nullptr;
    }

    static SettingsDialog* openDialog(MainWindow* window) {
        command(*window, id::Settings);
        auto* dialog = window->findChild<SettingsDialog*>();
        if (dialog && !QTest::qWaitForWindowExposed(dialog, 5000))
            return nullptr;
        return dialog;
    }

    template <typename T> static T* control(SettingsDialog* dialog, const char* name) {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }

    static bool pairedChoiceEnabled(SettingsDialog* dialog) {
        auto* model =
            qobject_cast<QStandardItemModel*>(control<QComboBox>(dialog, "AcceptFrom")->model());
        return model && model->item(kPairedChoice)->isEnabled();
    }

    static void pressOk(SettingsDialog* dialog) {
        QTest::mouseClick(control<QPushButton>(dialog, "1"), Qt::LeftButton);
    }

    static bool pressOkAndWaitClosed(MainWindow* window, SettingsDialog* dialog) {
        pressOk(dialog);
        return QTest::qWaitFor([window] { return !window->findChild<SettingsDialog*>(); }, 5000);
    }

    QTemporaryDir m_root;
    QString m_file;
    std::unique_ptr<ZapferApp> m_app;
};

TEST_F(PairingWindow, ATypedCodeIsStoredInOneFormAndPutsTheLinkInPairedMode) {
    MainWindow* window = startWindow();
    ASSERT_TRUE(window);
    FeedbackRecorder feedback;
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    SettingsDialog* dialog = openDialog(window);
    ASSERT_TRUE(dialog);
    auto* code = control<QLineEdit>(dialog, "PairingCode");
    auto* acceptFrom = control<QComboBox>(dialog, "AcceptFrom");
    ASSERT_TRUE(code && acceptFrom && control<QPushButton>(dialog, "NewPairingCode"));
    EXPECT_EQ(code->text(), QString());
    EXPECT_EQ(acceptFrom->itemText(kPairedChoice), QStringLiteral("Only paired peers"));
    EXPECT_FALSE(pairedChoiceEnabled(dialog)) << "no code, nobody can be paired";

    code->setFocus();
    QTest::keyClicks(code, QStringLiteral("7kq3 m4xd-2hv"));
    EXPECT_FALSE(pairedChoiceEnabled(dialog)) << "eleven characters are no code";
    QTest::keyClicks(code, QStringLiteral("f"));
    EXPECT_TRUE(pairedChoiceEnabled(dialog));
    acceptFrom->setCurrentIndex(kPairedChoice);
    EXPECT_FALSE(control<QLineEdit>(dialog, "AcceptList")->isEnabled());
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_TRUE(feedback.messages.isEmpty()) << feedback.messages.join(u'|').toStdString();

    EXPECT_EQ(stored("PairingCode").toString(), QStringLiteral("7KQ3M4XD2HVF"));
    EXPECT_EQ(stored("AcceptFrom").toString(), QStringLiteral("paired"));
    EXPECT_EQ(fileMode(), 0600);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN (paired)"));
    const EngineSettings engine = m_app->engine()->settings();
    EXPECT_EQ(engine.pairingCode, "7KQ3M4XD2HVF");
    EXPECT_EQ(engine.acceptFrom.kind, AcceptFrom::PairedPeers);
    EXPECT_FALSE(engine.plainLink);

    // Shown again in its groups, with the choice it was stored with.
    dialog = openDialog(window);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(control<QLineEdit>(dialog, "PairingCode")->text(), QStringLiteral("7KQ3-M4XD-2HVF"));
    EXPECT_EQ(control<QComboBox>(dialog, "AcceptFrom")->currentIndex(), kPairedChoice);
    EXPECT_EQ(control<QLineEdit>(dialog, "AcceptList")->text(), QString());
    // The whole code is in sight, not scrolled.
    auto* shown = control<QLineEdit>(dialog, "PairingCode");
    EXPECT_LT(shown->fontMetrics().horizontalAdvance(shown->text()), shown->width() - 8);
    if (const QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR"); !dir.isEmpty()) {
        const QString file = QDir(dir).filePath(QStringLiteral("pairing-settings.png"));
        EXPECT_TRUE(dialog->grab().save(file));
    }

    // Taking the code away does not quietly widen whom files come from: OK
    // asks for a code or another choice.
    control<QLineEdit>(dialog, "PairingCode")->clear();
    EXPECT_FALSE(pairedChoiceEnabled(dialog));
    pressOk(dialog);
    ASSERT_EQ(feedback.messages.size(), 1);
    EXPECT_TRUE(feedback.messages[0].startsWith(QStringLiteral("Only paired peers needs")))
        << feedback.messages[0].toStdString();
    EXPECT_TRUE(dialog->isVisible());
    control<QComboBox>(dialog, "AcceptFrom")->setCurrentIndex(0);
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_FALSE(stored("PairingCode").isValid());
    EXPECT_EQ(stored("AcceptFrom").toString(), QString());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    EXPECT_EQ(m_app->engine()->settings().pairingCode, "");
    EXPECT_EQ(m_app->engine()->settings().acceptFrom.kind, AcceptFrom::Anyone);
    EXPECT_NE(m_app->engine()->listenPort(), 0);
}

TEST_F(PairingWindow, AnythingButACodeIsRefusedWithItsProblemNamed) {
    MainWindow* window = startWindow();
    ASSERT_TRUE(window);
    FeedbackRecorder feedback;
    SettingsDialog* dialog = openDialog(window);
    ASSERT_TRUE(dialog);
    auto* code = control<QLineEdit>(dialog, "PairingCode");
    ASSERT_TRUE(code);
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
        const qsizetype before = feedback.messages.size();
        code->setText(b.typed);
        EXPECT_FALSE(pairedChoiceEnabled(dialog));
        pressOk(dialog);
        ASSERT_EQ(feedback.messages.size(), before + 1);
        const QString& message = feedback.messages.last();
        EXPECT_TRUE(message.startsWith(QStringLiteral("'%1' is not a pairing code").arg(b.typed)))
            << message.toStdString();
        EXPECT_TRUE(message.contains(b.named)) << message.toStdString();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(code->hasFocus());
    }
    EXPECT_FALSE(stored("PairingCode").isValid()) << "nothing refused was stored";
    EXPECT_EQ(m_app->engine()->settings().pairingCode, "");

    // Spaces and dashes alone are no code at all, which is allowed.
    code->setText(QStringLiteral(" - -"));
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_FALSE(stored("PairingCode").isValid());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN"));
}

TEST_F(PairingWindow, NewCodeMakesValidCodesAndWanShowsThePairedLink) {
    MainWindow* window = startWindow();
    ASSERT_TRUE(window);
    FeedbackRecorder feedback;
    SettingsDialog* dialog = openDialog(window);
    ASSERT_TRUE(dialog);
    auto* code = control<QLineEdit>(dialog, "PairingCode");
    auto* newCode = control<QPushButton>(dialog, "NewPairingCode");
    ASSERT_TRUE(code && newCode);
    const QRegularExpression grouped(QStringLiteral("^[A-Z2-7]{4}-[A-Z2-7]{4}-[A-Z2-7]{4}$"));
    QTest::mouseClick(newCode, Qt::LeftButton);
    const QString first = code->text();
    EXPECT_TRUE(grouped.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(pairedChoiceEnabled(dialog));
    QTest::mouseClick(newCode, Qt::LeftButton);
    const QString second = code->text();
    EXPECT_TRUE(grouped.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second) << "60 random bits do not repeat";

    QComboBox* types = dialog->commTypeList();
    types->setCurrentIndex(types->findText(QStringLiteral("WAN / Internet")));
    Q_EMIT types->activated(types->currentIndex());
    control<QLineEdit>(dialog, "1021")->setText(QStringLiteral("198.18.0.7"));
    ASSERT_TRUE(pressOkAndWaitClosed(window, dialog));
    EXPECT_TRUE(feedback.messages.isEmpty()) << feedback.messages.join(u'|').toStdString();
    QString plain = second;
    plain.remove(u'-');
    EXPECT_EQ(stored("PairingCode").toString(), plain);
    EXPECT_EQ(m_app->engine()->settings().pairingCode, plain.toStdString());
    EXPECT_EQ(stored("AcceptFrom").toString(), QString()) << "the choice is the user's";
    EXPECT_EQ(fileMode(), 0600);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - WAN / Internet (paired)"));
}

// The engine ends a paired send it cannot make the way it ends a send to
// this computer's own address: SendFailure set, then the abort.
TEST_F(PairingWindow, EachPairedSendFailureIsToldInItsOwnWords) {
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    store.setValue(QStringLiteral("CommType"), 6); // WAN / Internet
    store.setValue(QStringLiteral("PeerIP"), 0x7F000001u);
    store.setValue(QStringLiteral("PairingCode"), QStringLiteral("7KQ3M4XD2HVF"));
    store.sync();
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
    const QString path = m_root.filePath(QStringLiteral("note.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello");
    file.close();
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
