#include "history_reader.h"

#include "history_store.h"

#include <QFileInfo>

#include <utility>

namespace zapfer {

HistoryReader::HistoryReader(QString path, int busyTimeoutMs)
    : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs) {
    qRegisterMetaType<HistoryPage>();
    qRegisterMetaType<HistoryFiles>();
}

HistoryReader::~HistoryReader() = default;

QString HistoryReader::openStore(bool& missing) {
    missing = false;
    if (m_store)
        return {};
    if (m_path.isEmpty())
        return tr("There is no place for the history: neither XDG_DATA_HOME nor a home folder is "
                  "set.");
    // Looking must not leave an empty database behind, nor the folders above it.
    if (!QFileInfo::exists(m_path)) {
        missing = true;
        return {};
    }
    history::HistoryOptions options;
    options.busyTimeoutMs = m_busyTimeoutMs;
    auto opened = history::HistoryStore::open(m_path.toStdString(), options);
    if (!opened)
        return QString::fromStdString(opened.error().text);
    m_noticeToSay = QString::fromStdString(opened.value().notice());
    m_store = std::make_unique<history::HistoryStore>(std::move(opened.value()));
    return {};
}

void HistoryReader::readTransfers(int limit) {
    HistoryPage page;
    page.problem = openStore(page.missing);
    if (m_store) {
        auto read = m_store->recentTransfers(limit);
        if (read)
            page.transfers = std::move(read.value());
        else
            page.problem = QString::fromStdString(read.error().text);
    }
    page.notice = std::exchange(m_noticeToSay, QString());
    Q_EMIT transfersRead(page);
}

void HistoryReader::readFiles(qint64 transferId, bool failedOnly) {
    HistoryFiles answer;
    answer.transferId = transferId;
    answer.failedOnly = failedOnly;
    bool missing = false;
    answer.problem = openStore(missing);
    if (m_store) {
        auto read = failedOnly ? m_store->failedFilesOf(transferId) : m_store->filesOf(transferId);
        if (read)
            answer.files = std::move(read.value());
        else
            answer.problem = QString::fromStdString(read.error().text);
    }
    Q_EMIT filesRead(answer);
}

} // namespace zapfer
