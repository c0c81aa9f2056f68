// A serial port that cannot be opened is reported at start-up before the
// window shows, once; the window then shows with the Send button greyed.

#include "feedback_recorder.h"
#include "main_window.h"
#include "window_parts.h"
#include "zapfer_app.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class StartupPortMessage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        store.clear();
        store.setValue(QStringLiteral("DestDir"), m_dir.path());
        store.setValue(QStringLiteral("CurDir"), m_dir.path());
        store.setValue(QStringLiteral("CommType"), 2); // COM1
        store.setValue(QStringLiteral("Com1Port"), m_dir.filePath(QStringLiteral("no-such-tty")));
        store.sync();
    }

    QTemporaryDir m_dir;
};

TEST_F(StartupPortMessage, ComesBeforeTheWindowShowsAndOnlyOnce) {
    FeedbackRecorder feedback; // its hooks go when it does
    QList<bool> windowShown;
    std::unique_ptr<ZapferApp> app;
    setMessageHook(
        [&](QWidget* owner, QMessageBox::Icon, const QString& title, const QString& text) {
            feedback.titles.append(title);
            feedback.messages.append(text);
            windowShown.append(owner && owner->isVisible());
        });
    LinkConfig link;
    link.listenPort = 0;
    link.echoPort = 0;
    app = std::make_unique<ZapferApp>(link);
    ASSERT_TRUE(app->start({}));
    ASSERT_EQ(feedback.messages.size(), 1) << "reported during start-up";
    EXPECT_EQ(windowShown, QList<bool>{false});
    EXPECT_EQ(feedback.titles.first(), QStringLiteral("COM1"));

    MainWindow* window = app->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - COM1"));
    EXPECT_FALSE(commandButtonOf(*window, 2)->isEnabled());
    // Nothing is left queued to be shown a second time, and the timer's
    // retries stay quiet.
    QTest::qWait(1300);
    EXPECT_EQ(feedback.messages.size(), 1);
    app->shutdown();
}

} // namespace
