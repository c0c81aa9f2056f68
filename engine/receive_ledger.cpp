#include "receive_ledger.h"

#include "session_observer.h"

#include <algorithm>

namespace zapfer {

void ReceiveLedger::newTable(int32_t filesDone) {
    if (m_entriesTaken) {
        m_earlierFiles.insert(m_earlierFiles.end(), m_entries.begin(), m_entries.end());
        m_earlierDone += filesDone;
        m_entriesTaken = false;
    }
    m_entries.clear();
}

void ReceiveLedger::tableAccepted() {
    m_entriesTaken = true;
    m_created.clear();
}

bool ReceiveLedger::created(const std::string& name) const {
    return std::find(m_created.begin(), m_created.end(), name) != m_created.end();
}

ReceiveOutcome ReceiveLedger::finish(bool aborted, int32_t filesDone, int32_t fileCount,
                                     int32_t cutIndex, int64_t cutBytes) {
    ReceiveOutcome outcome;
    outcome.aborted = aborted;
    outcome.filesDone = m_earlierDone + filesDone;
    outcome.fileCount = int32_t(m_earlierFiles.size()) + fileCount;
    outcome.files = std::move(m_earlierFiles);
    // A refused table's entries were told with its refusal: none of them is
    // the receive's.
    const size_t current = m_entriesTaken ? m_entries.size() : 0;
    outcome.files.insert(outcome.files.end(), m_entries.begin(),
                         m_entries.begin() + std::ptrdiff_t(current));
    if (aborted && current > 0) {
        // The file under way when the receive stopped was cut off.
        const size_t at = outcome.files.size() - current + size_t(cutIndex);
        if (cutIndex >= 0 && at < outcome.files.size() &&
            outcome.files[at].result == FileResult::NotReached) {
            outcome.files[at].result = FileResult::Aborted;
            outcome.files[at].bytesDone = cutBytes;
        }
    }
    m_earlierFiles.clear();
    m_earlierDone = 0;
    m_entriesTaken = false;
    m_created.clear();
    return outcome;
}

} // namespace zapfer
