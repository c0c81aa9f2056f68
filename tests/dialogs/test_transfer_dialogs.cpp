#include "connecting_dialog.h"
#include "transfer_status_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace zapfer;

namespace {

TransferProgress inFlight() {
    TransferProgress p;
    p.fileIndex = 1;
    p.fileCount = 4;
    p.blockSize = 32768;
    p.fileBlocks = 10;
    p.blocksDone = 10;
    p.fileSize = 300000; // the last block is short
    p.bytesDone = 1000000;
    p.totalBytes = 4000000;
    return p;
}

TEST(StatusTexts, NothingIsWrittenBeforeTheFirstFileIsCounted) {
    TransferProgress p = inFlight();
    p.fileBlocks = 0;
    EXPECT_FALSE(statusTexts(p, 500));
    p = inFlight();
    p.fileIndex = -1;
    EXPECT_FALSE(statusTexts(p, 500));
}

TEST(StatusTexts, CountsBarsRateAndTimeLeft) {
    const auto t = statusTexts(inFlight(), 400);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->files, QStringLiteral("2 of 4 Files"));
    EXPECT_EQ(t->bytes, QStringLiteral("300000 of 300000 Bytes"));
    EXPECT_EQ(t->filePercent, 100);
    ASSERT_TRUE(t->hasTotal);
    EXPECT_EQ(t->totalBytes, QStringLiteral("1000000 of 4000000 Total Bytes"));
    EXPECT_EQ(t->totalPercent, 25);
    // A started second counts as a whole one.
    EXPECT_EQ(t->rate, QStringLiteral("1000000 bytes per second"));
    EXPECT_EQ(t->timeLeft, QStringLiteral("about 3 s left"));
    EXPECT_EQ(statusTexts(inFlight(), 0)->rate, QStringLiteral("1000000 bytes per second"));
    EXPECT_EQ(statusTexts(inFlight(), 1500)->rate, QStringLiteral("500000 bytes per second"));
    EXPECT_EQ(statusTexts(inFlight(), 1500)->timeLeft, QStringLiteral("about 6 s left"));

    TransferProgress slow = inFlight();
    slow.bytesDone = 3;
    slow.totalBytes = 10;
    EXPECT_EQ(statusTexts(slow, 1000)->timeLeft,
              QStringLiteral("about 3 s left")); // 7/3 rounded up
    slow.bytesDone = 0;
    EXPECT_EQ(statusTexts(slow, 1000)->timeLeft, QString());
    slow.totalBytes = 0;
    EXPECT_FALSE(statusTexts(slow, 1000)->hasTotal);
}

TEST(StatusTexts, LargeTransfersKeepTheirPercentages) {
    TransferProgress p = inFlight();
    p.blocksDone = 30000;
    p.fileBlocks = 60000;
    p.fileSize = 1966080000;
    p.bytesDone = int64_t(150) * 1000 * 1000 * 1000 / 2;
    p.totalBytes = int64_t(150) * 1000 * 1000 * 1000;
    const auto t = statusTexts(p, 10000);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->filePercent, 50);
    EXPECT_EQ(t->totalPercent, 50);
    EXPECT_EQ(t->bytes, QStringLiteral("983040000 of 1966080000 Bytes"));
    EXPECT_EQ(t->rate, QStringLiteral("7500000000 bytes per second"));
}

TEST(TransferDialogs, ConnectingHintOnlyForInfraredAndCancelReturnsTwo) {
    ConnectingDialog lan(false);
    EXPECT_EQ(lan.findChild<QLabel*>(QStringLiteral("1002"))->text(), QString());
    ConnectingDialog infrared(true);
    EXPECT_EQ(infrared.findChild<QLabel*>(QStringLiteral("1002"))->text(),
              QStringLiteral("(Align infrared ports)"));
    EXPECT_EQ(infrared.windowTitle(), QStringLiteral("Connecting..."));

    QSignalSpy finished(&lan, &QDialog::finished);
    lan.open();
    QTest::keyClick(&lan, Qt::Key_Escape);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 2);
    infrared.open();
    QSignalSpy closed(&infrared, &QDialog::finished);
    infrared.closeByTransfer();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(infrared.isVisible());
}

TEST(TransferDialogs, StatusDialogShowsDirectionProgressAndCancelsOnEsc) {
    TransferStatusDialog sending(false);
    EXPECT_EQ(sending.findChild<QLabel*>(QStringLiteral("1008"))->text(),
              QStringLiteral("Sending Files"));
    TransferStatusDialog receiving(true);
    EXPECT_EQ(receiving.findChild<QLabel*>(QStringLiteral("1008"))->text(),
              QStringLiteral("Receiving Files"));
    EXPECT_EQ(receiving.windowTitle(), QStringLiteral("File Xfer Status"));
    EXPECT_EQ(receiving.findChild<QLabel*>(QStringLiteral("1007"))->text(),
              QStringLiteral("bytes per second"));

    receiving.setFileName(QStringLiteral("report.pdf"));
    receiving.refresh(inFlight());
    EXPECT_EQ(receiving.findChild<QLineEdit*>(QStringLiteral("1001"))->text(),
              QStringLiteral("report.pdf"));
    EXPECT_EQ(receiving.findChild<QLabel*>(QStringLiteral("1002"))->text(),
              QStringLiteral("2 of 4 Files"));
    EXPECT_EQ(receiving.findChild<QProgressBar*>(QStringLiteral("1003"))->value(), 100);
    EXPECT_EQ(receiving.findChild<QProgressBar*>(QStringLiteral("1004"))->value(), 25);
    EXPECT_FALSE(receiving.findChild<QLabel*>(QStringLiteral("TimeLeft"))->text().isEmpty());

    QSignalSpy finished(&receiving, &QDialog::finished);
    receiving.open();
    QTest::keyClick(&receiving, Qt::Key_Escape);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 2);
}

} // namespace
