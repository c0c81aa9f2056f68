// The File Properties and Move / Copy To dialogs and the progress runner,
// driven as a user would under the offscreen platform, on real files.

#include "copy_to_dialog.h"
#include "file_operation_progress.h"
#include "file_properties_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

using namespace zapfer;

namespace {

struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
};

// Answers every message box that turns up while it lives (with its default
// button), noting the last one; each look is bounded by the timer's life.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_seen.text = box->text();
            m_seen.caption = box->windowTitle();
            m_seen.icon = box->icon();
            ++m_seen.count;
            box->done(QMessageBox::Ok);
        });
        m_timer.start(20);
    }
    const SeenBox& seen() const { return m_seen; }

private:
    QTimer m_timer;
    SeenBox m_seen;
};

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

mode_t permissions(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

template <typename T> T* child(QWidget& parent, int id) {
    return parent.findChild<T*>(QString::number(id));
}

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_src = m_dir.path() + QStringLiteral("/src");
        m_dst = m_dir.path() + QStringLiteral("/dst");
        ASSERT_TRUE(QDir().mkpath(m_src));
        ASSERT_TRUE(QDir().mkpath(m_dst));
    }

    QTemporaryDir m_dir;
    QString m_src;
    QString m_dst;
};

} // namespace

TEST_F(FileDialogs, CopyToRefusesTheFolderShownAndStaysOpen) {
    ASSERT_TRUE(writeFile(m_src + QStringLiteral("/a.txt"), "a"));
    CopyToDialog dialog(CopyToDialog::Mode::Copy, m_src, {QStringLiteral("a.txt")}, m_dst, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Copy File(s)"));
    EXPECT_EQ(child<QLineEdit>(dialog, 1001)->text(), m_dst);
    dialog.show();
    child<QLineEdit>(dialog, 1001)->setText(m_src);

    MessageBoxWatcher watcher;
    child<QPushButton>(dialog, 1)->click();
    EXPECT_EQ(watcher.seen().count, 1);
    EXPECT_EQ(watcher.seen().text,
              QStringLiteral("The source and destination directory cannot be the same"));
    EXPECT_EQ(watcher.seen().caption, QStringLiteral("Error"));
    EXPECT_EQ(watcher.seen().icon, QMessageBox::Critical);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(QDir(m_dst).isEmpty());

    // Cancel: nothing copied either.
    child<QLineEdit>(dialog, 1001)->setText(m_dst);
    child<QPushButton>(dialog, 2)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), int(QDialog::Rejected));
    EXPECT_TRUE(QDir(m_dst).isEmpty());
}

TEST_F(FileDialogs, MoveReportsTheItemThatStayedAndCopyOfAFolderFails) {
    ASSERT_TRUE(writeFile(m_src + QStringLiteral("/a.txt"), "new"));
    ASSERT_TRUE(writeFile(m_src + QStringLiteral("/b.txt"), "b"));
    ASSERT_TRUE(writeFile(m_dst + QStringLiteral("/a.txt"), "old"));
    {
        CopyToDialog dialog(CopyToDialog::Mode::Move, m_src,
                            {QStringLiteral("a.txt"), QStringLiteral("b.txt")}, m_dst, nullptr);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Move File(s)"));
        dialog.show();
        MessageBoxWatcher watcher;
        child<QPushButton>(dialog, 1)->click();
        EXPECT_EQ(watcher.seen().count, 1);
        EXPECT_EQ(watcher.seen().text,
                  QStringLiteral("Not all of the files were moved successfully"));
        EXPECT_EQ(watcher.seen().caption, QStringLiteral("Move File(s)"));
        EXPECT_EQ(watcher.seen().icon, QMessageBox::NoIcon);
        EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
        EXPECT_EQ(dialog.operationResult().succeeded, 1);
    }
    EXPECT_TRUE(QFile::exists(m_src + QStringLiteral("/a.txt")));
    EXPECT_FALSE(QFile::exists(m_src + QStringLiteral("/b.txt")));
    EXPECT_TRUE(QFile::exists(m_dst + QStringLiteral("/b.txt")));

    ASSERT_TRUE(QDir(m_src).mkdir(QStringLiteral("folder")));
    CopyToDialog dialog(CopyToDialog::Mode::Copy, m_src, {QStringLiteral("folder")}, m_dst,
                        nullptr);
    dialog.show();
    MessageBoxWatcher watcher;
    child<QPushButton>(dialog, 1)->click();
    EXPECT_EQ(watcher.seen().text, QStringLiteral("Not all of the files were copied successfully"));
    EXPECT_EQ(watcher.seen().caption, QStringLiteral("Copy File(s)"));
    EXPECT_FALSE(QFile::exists(m_dst + QStringLiteral("/folder")));
}

TEST_F(FileDialogs, BrowseTakesThePickedFolderOnlyOnOk) {
    CopyToDialog dialog(CopyToDialog::Mode::Copy, m_src, {}, m_dst, nullptr);
    QString handedOver;
    bool answer = false;
    dialog.setBrowseHandler([&](QString& path) {
        handedOver = path;
        path = QStringLiteral("/somewhere/else");
        return answer;
    });
    QLineEdit* edit = child<QLineEdit>(dialog, 1001);
    edit->setText(QStringLiteral("/typed"));
    child<QPushButton>(dialog, 1012)->click();
    EXPECT_EQ(handedOver, QStringLiteral("/typed"));
    EXPECT_EQ(edit->text(), QStringLiteral("/typed"));
    answer = true;
    child<QPushButton>(dialog, 1012)->click();
    EXPECT_EQ(edit->text(), QStringLiteral("/somewhere/else"));
}

TEST_F(FileDialogs, PropertiesShowTheEntryAndTheReadonlyBoxAppliesOnlyOnOk) {
    const QString file = m_src + QStringLiteral("/report.txt");
    ASSERT_TRUE(writeFile(file, "12345"));
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0444), 0);
    {
        FilePropertiesDialog dialog(m_src, QStringLiteral("report.txt"), nullptr);
        dialog.show();
        EXPECT_EQ(child<QLineEdit>(dialog, 1001)->text(), QStringLiteral("report.txt"));
        EXPECT_EQ(child<QLabel>(dialog, 1008)->text(), QStringLiteral("5 Bytes"));
        EXPECT_TRUE(child<QLabel>(dialog, 1004)->text().contains(QLatin1Char('/')));
        EXPECT_FALSE(child<QLabel>(dialog, 1016)->pixmap().isNull());
        QCheckBox* readOnly = child<QCheckBox>(dialog, 1010);
        EXPECT_TRUE(readOnly->isChecked());
        EXPECT_TRUE(readOnly->isEnabled());
        EXPECT_FALSE(child<QCheckBox>(dialog, 1011)->isEnabled());
        EXPECT_FALSE(child<QCheckBox>(dialog, 1012)->isEnabled());
        EXPECT_FALSE(child<QCheckBox>(dialog, 1013)->isEnabled());
        readOnly->click();
        child<QPushButton>(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    }
    EXPECT_EQ(permissions(file), mode_t(0644));

    FilePropertiesDialog dialog(m_src, QStringLiteral("report.txt"), nullptr);
    dialog.show();
    QCheckBox* readOnly = child<QCheckBox>(dialog, 1010);
    EXPECT_FALSE(readOnly->isChecked());
    readOnly->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(permissions(file), mode_t(0644));

    FilePropertiesDialog missing(m_src, QStringLiteral("gone"), nullptr);
    EXPECT_EQ(child<QLabel>(missing, 1008)->text(), QStringLiteral("Unavailable"));
    EXPECT_EQ(child<QLabel>(missing, 1003)->text(), QStringLiteral("Unavailable"));
    EXPECT_FALSE(child<QCheckBox>(missing, 1010)->isEnabled());
}

TEST_F(FileDialogs, PropertiesAndCopyToAreCentredOverTheWindowOrElseTheScreen) {
    ASSERT_TRUE(writeFile(m_src + QStringLiteral("/report.txt"), "r"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // A window with room for the dialog, and one too small to centre it on.
    const QRect owners[] = {QRect(130, 90, 700, 500), QRect(40, 30, 120, 90)};
    for (const QRect& ownerGeometry : owners) {
        QWidget owner;
        owner.setGeometry(ownerGeometry);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner, 5000));
        FilePropertiesDialog properties(m_src, QStringLiteral("report.txt"), &owner);
        CopyToDialog copy(CopyToDialog::Mode::Copy, m_src, {}, m_dst, &owner);
        for (QDialog* dialog : {static_cast<QDialog*>(&properties), static_cast<QDialog*>(&copy)}) {
            SCOPED_TRACE(dialog->windowTitle().toStdString() + " over " +
                         std::to_string(owner.width()));
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog, 5000));
            const bool fits = dialog->width() < owner.width() && dialog->height() < owner.height();
            if (owner.width() < 200) {
                ASSERT_FALSE(fits);
            }
            // Integer halves, and placed before the window frame was known:
            // off by at most a pixel and that frame.
            const int frame = (dialog->frameGeometry().width() - dialog->width()) / 2;
            const QPoint middle = fits ? owner.frameGeometry().center() : screen.center();
            const QPoint offset = dialog->frameGeometry().center() - middle;
            EXPECT_LE(std::abs(offset.x()), frame + 1) << offset.x();
            EXPECT_LE(std::abs(offset.y()), frame + 1) << offset.y();
            dialog->reject();
        }
    }
}

TEST(FileOperationProgressTest, QuickWorkRunsOnAWorkerWithoutADialog) {
    QWidget owner;
    FileOperationProgress runner(&owner, QStringLiteral("Copy File(s)"));
    runner.setShowDelay(60'000);
    std::thread::id workerId;
    runner.run([&](OperationProgress& progress) {
        progress.addTotal(1);
        progress.addDone(1);
        workerId = std::this_thread::get_id();
    });
    EXPECT_NE(workerId, std::thread::id());
    EXPECT_NE(workerId, std::this_thread::get_id());
    EXPECT_FALSE(runner.dialogShown());
}

TEST(FileOperationProgressTest, CancelInTheProgressDialogReachesTheWorker) {
    QWidget owner;
    owner.show();
    FileOperationProgress runner(&owner, QStringLiteral("Delete File(s)"));
    runner.setShowDelay(0);
    QTimer clicker;
    QString title;
    QObject::connect(&clicker, &QTimer::timeout, &clicker, [&] {
        auto* dialog = owner.findChild<QProgressDialog*>();
        if (!dialog || !dialog->isVisible())
            return;
        title = dialog->windowTitle();
        if (auto* cancel = dialog->findChild<QPushButton*>())
            cancel->click();
    });
    clicker.start(20);
    bool sawCancel = false;
    runner.run([&](OperationProgress& progress) {
        progress.addTotal(10);
        // Bounded: gives up after ten seconds without a cancel.
        for (int i = 0; i < 1000 && !progress.cancelled(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sawCancel = progress.cancelled();
    });
    EXPECT_TRUE(runner.dialogShown());
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(title, QStringLiteral("Delete File(s)"));
}
