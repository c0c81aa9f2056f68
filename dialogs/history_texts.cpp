#include "history_texts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>

namespace zapfer {

QString visibleText(const std::string& text) {
    QString out = QString::fromStdString(text);
    for (QChar& c : out) {
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    }
    return out;
}

QString directionText(history::Direction direction) {
    switch (direction) {
    case history::Direction::Sent:
        return QCoreApplication::translate("HistoryTexts", "Sent");
    case history::Direction::Received:
        return QCoreApplication::translate("HistoryTexts", "Received");
    }
    return {};
}

QString outcomeText(history::TransferOutcome outcome, std::optional<int> refusalCode) {
    switch (outcome) {
    case history::TransferOutcome::Completed:
        return QCoreApplication::translate("HistoryTexts", "Completed");
    case history::TransferOutcome::Refused:
        if (refusalCode)
            return QCoreApplication::translate("HistoryTexts", "Refused (code %1)")
                .arg(*refusalCode);
        return QCoreApplication::translate("HistoryTexts", "Refused");
    case history::TransferOutcome::Aborted:
        return QCoreApplication::translate("HistoryTexts", "Aborted");
    case history::TransferOutcome::Failed:
        return QCoreApplication::translate("HistoryTexts", "Failed");
    }
    return {};
}

QString fileResultText(history::FileResult result) {
    switch (result) {
    case history::FileResult::Stored:
        return QCoreApplication::translate("HistoryTexts", "Stored");
    case history::FileResult::Sent:
        return QCoreApplication::translate("HistoryTexts", "Sent");
    case history::FileResult::Refused:
        return QCoreApplication::translate("HistoryTexts", "Refused");
    case history::FileResult::Failed:
        return QCoreApplication::translate("HistoryTexts", "Failed");
    case history::FileResult::SkippedUnreadable:
        return QCoreApplication::translate("HistoryTexts", "Skipped as unreadable");
    case history::FileResult::Aborted:
        return QCoreApplication::translate("HistoryTexts", "Aborted");
    }
    return {};
}

QString crcText(std::optional<std::uint32_t> crc) {
    if (!crc)
        return {};
    return QStringLiteral("%1").arg(*crc, 8, 16, QLatin1Char('0'));
}

QString peerText(const history::TransferRecord& transfer) {
    const QString address = visibleText(transfer.peer);
    if (transfer.peerName.empty())
        return address;
    return QStringLiteral("%1 (%2)").arg(visibleText(transfer.peerName), address);
}

QString timeText(std::int64_t msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString durationText(std::int64_t ms) {
    return QCoreApplication::translate("HistoryTexts", "%1 s")
        .arg(QLocale().toString(static_cast<double>(ms) / 1000.0, 'f', 1));
}

} // namespace zapfer
