#pragma once

#include "history_records.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace zapfer {

namespace history {
class HistoryStore;
}

// The recent transfers as read, or why they could not be.
struct HistoryPage {
    std::vector<history::StoredTransfer> transfers;
    QString problem;      // empty when the history was read
    QString notice;       // said once by the store though it works (a damaged file moved aside)
    bool missing = false; // no history yet: nothing was ever recorded
};

// The files of one transfer as read; `failedOnly` when only those "Send
// Again" takes back were asked for.
struct HistoryFiles {
    qint64 transferId = 0;
    bool failedOnly = false;
    std::vector<history::FileRecord> files;
    QString problem;
};

// Reads the history on a thread of its own: another program may hold the
// database for a moment while it writes, and the window must not freeze for
// it. Each request is a queued call; each answer comes back as a signal.
// Created on the GUI thread, then moved to its worker thread; its store is
// opened there on the first request and kept.
class HistoryReader : public QObject {
    Q_OBJECT
public:
    // A missing file at `path` is reported as `missing`, never created.
    HistoryReader(QString path, int busyTimeoutMs);
    ~HistoryReader() override;

    // Worker thread only (through QMetaObject::invokeMethod).
    void readTransfers(int limit);
    void readFiles(qint64 transferId, bool failedOnly);

Q_SIGNALS:
    void transfersRead(const zapfer::HistoryPage& page);
    void filesRead(const zapfer::HistoryFiles& files);

private:
    // The store, opened when there is a database; the problem otherwise.
    QString openStore(bool& missing);

    QString m_path;
    int m_busyTimeoutMs;
    std::unique_ptr<history::HistoryStore> m_store;
    QString m_noticeToSay;
};

} // namespace zapfer

Q_DECLARE_METATYPE(zapfer::HistoryPage)
Q_DECLARE_METATYPE(zapfer::HistoryFiles)
