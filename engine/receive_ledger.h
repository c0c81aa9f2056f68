#pragma once

// What one receive has done so far: the files of the table being served, those
// of tables accepted earlier on the same connection, and the names it created.
// From it comes the receive's outcome.

#include "transfer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zapfer {

struct ReceiveOutcome;

class ReceiveLedger {
public:
    // A new table arrives. The files of an accepted earlier one stay in the
    // receive, with `filesDone` of them stored.
    void newTable(int32_t filesDone);
    // The entries of the table being served, filled while it is checked.
    std::vector<FileOutcome>& entries() { return m_entries; }
    const std::vector<FileOutcome>& entries() const { return m_entries; }
    // The table was accepted: its files belong to the receive.
    void tableAccepted();

    bool created(const std::string& name) const;
    void addCreated(std::string name) { m_created.push_back(std::move(name)); }
    bool createdAny() const { return !m_created.empty(); }

    // The outcome of the whole receive; the ledger starts afresh. `cutIndex`:
    // the entry under way when an aborted receive stopped, with `cutBytes`
    // stored of it.
    ReceiveOutcome finish(bool aborted, int32_t filesDone, int32_t fileCount, int32_t cutIndex,
                          int64_t cutBytes);

private:
    std::vector<FileOutcome> m_entries;
    std::vector<FileOutcome> m_earlierFiles;
    int32_t m_earlierDone = 0;
    bool m_entriesTaken = false; // m_entries are an accepted table's
    std::vector<std::string> m_created;
};

} // namespace zapfer
