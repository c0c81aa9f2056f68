#pragma once

// The table side of a receive: a file table from the peer checked against
// the policy and the destination folder (names, conflicts, free space, who
// sent it), the ledger of the receive's files, how a file closed whole is
// kept under its name, and the receive's outcome at its end.

#include "receive_context.h"
#include "receive_ledger.h"
#include "received_file.h"
#include "session_observer.h"
#include "unique_fd.h"
#include "whole_file_crc.h"

#include <cstdint>
#include <span>
#include <string>

namespace zapfer {

class IncomingTable {
public:
    explicit IncomingTable(ReceiveContext& context) : m_context(context) {}
    IncomingTable(const IncomingTable&) = delete;
    IncomingTable& operator=(const IncomingTable&) = delete;

    // A table of `count` entries arrives. The files of an accepted earlier
    // one (on the same connection) stay in the receive's outcome and count.
    void begin(uint8_t count);
    // Reads the entries and checks them against the policy and the
    // destination: CMD_OK, or the answer that refuses the table.
    uint8_t check(std::span<const uint8_t> entries);
    // Tells the observer of the table just refused with `answer`; the
    // destination is closed again.
    void refuse(uint8_t answer);
    void accept();
    // The accepted table is done with: finished, replaced or ended.
    void endTable() { m_accepted = false; }
    bool accepted() const { return m_accepted; }
    // A peer that files are not taken from sent a table.
    bool peerRefused() const { return m_peerRefused; }

    // Entry `index` of the accepted table; null when there is none.
    const FileOutcome* entry(uint8_t index) const;
    int destDir() const { return m_destDir.get(); }
    // Puts the file closed under its name as the policy says; false when it
    // could not be kept (it is then gone).
    bool keep(ReceivedFile& file);
    // Records how entry `index` ended and tells the observer: kept as `file`
    // with `crc`, or dropped with `bytesDone` of it stored.
    void fileEnded(int32_t index, bool kept, const ReceivedFile& file, const WholeFileCrc& crc,
                   int64_t bytesDone);
    // Ends the receive: the folder is synced and closed, and its outcome made.
    // `cutBytes`: stored of the file under way when it stopped.
    ReceiveOutcome finish(bool aborted, int64_t cutBytes);

private:
    ReceiveContext& m_context;
    ReceivePolicy m_policy; // of the last table checked
    ReceiveLedger m_ledger;
    UniqueFd m_destDir;
    bool m_accepted = false;
    bool m_peerRefused = false;
};

} // namespace zapfer
