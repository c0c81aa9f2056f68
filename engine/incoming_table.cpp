// A file table against the destination folder, and the accepted table's
// files as they are kept or dropped.

#include "incoming_table.h"

#include "destination_folder.h"
#include "protocol.h"
#include "received_names.h"
#include "sender_common.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace zapfer {

void IncomingTable::begin(uint8_t count) {
    m_ledger.newTable(m_context.counters.FilesDone);
    m_context.counters.restart(count, 0);
}

uint8_t IncomingTable::check(std::span<const uint8_t> entries) {
    m_policy = m_context.observer.policy();
    int64_t total = 0; // 64 bits: sizes that wrap 32 bits must not pass the space check
    m_ledger.entries().reserve(m_ledger.entries().size() + entries.size() / kEntrySize);
    for (size_t at = 0; at + kEntrySize <= entries.size(); at += kEntrySize) {
        const TransferEntry entry = DecodeTransferEntry(entries.data() + at);
        // Only plain names are created, and only in the destination folder.
        const std::optional<std::string> name = receivedFileName(entry.name);
        if (!name || entry.size < 0) {
            // Kept for the refusal's record, under the name the peer gave.
            m_ledger.entries().push_back({entry.name,
                                          {},
                                          std::max<int64_t>(entry.size, 0),
                                          0,
                                          FileResult::NotReached,
                                          std::nullopt});
            return CMD_CANNOT_CREATE;
        }
        m_ledger.entries().push_back(
            {entry.name, *name, entry.size, 0, FileResult::NotReached, std::nullopt});
        total += entry.size;
    }
    if (m_ledger.entries().empty())
        return CMD_CANNOT_CREATE;
    m_context.counters.TransferTotalBytes = total;
    if (!m_policy.peerAccepted) {
        // Who sent it is the answer: the destination is not even opened.
        m_peerRefused = true;
        return CMD_CANNOT_CREATE;
    }

    m_destDir.reset(::open(m_policy.destDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_destDir || ::faccessat(m_destDir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return CMD_CANNOT_CREATE;
    removeLeftovers(m_destDir.get());
    // Keep both stores beside anything, a folder included. Otherwise a
    // folder of that name is never replaced, so the file would be thrown
    // away at its close: refused now, even when replacing. Refusing refuses
    // any name that is taken. One look at each name tells both.
    const NameConflict conflict = m_policy.nameConflict;
    if (conflict != NameConflict::KeepBoth) {
        for (const FileOutcome& entry : m_ledger.entries()) {
            const NameHolds holds = whatNameHolds(m_destDir.get(), entry.nameAsStored);
            if (holds == NameHolds::Folder ||
                (holds != NameHolds::Nothing && conflict == NameConflict::Refuse))
                return CMD_NAME_CONFLICT;
        }
    }
    const int64_t available = freeBytes(m_destDir.get());
    if (available >= 0 && available < total)
        return CMD_NO_SPACE;
    return CMD_OK;
}

void IncomingTable::refuse(uint8_t answer) {
    m_destDir.reset();
    RefusedTable refused;
    refused.refusal = refusalOf(answer);
    refused.peerNotAccepted = m_peerRefused;
    refused.files = m_ledger.entries();
    for (FileOutcome& file : refused.files) {
        file.result = FileResult::Refused;
        refused.totalBytes += file.size;
    }
    refused.fileCount = int32_t(refused.files.size());
    m_context.observer.tableRefused(refused);
}

void IncomingTable::accept() {
    m_accepted = true;
    m_ledger.tableAccepted();
}

const FileOutcome* IncomingTable::entry(uint8_t index) const {
    const std::vector<FileOutcome>& entries = m_ledger.entries();
    if (!m_accepted || index >= entries.size())
        return nullptr;
    return &entries[index];
}

bool IncomingTable::keep(ReceivedFile& file) {
    const std::string name = file.name();
    // Replacing is allowed with the preference on, or over a file this same
    // transfer wrote (two entries with one name: the later wins). Keep both
    // never replaces, not even this transfer's own files.
    const NameConflict conflict = m_policy.nameConflict;
    const bool replace = conflict == NameConflict::Replace ||
                         (conflict == NameConflict::Refuse && m_ledger.created(name));
    const bool kept =
        conflict == NameConflict::KeepBoth ? file.commitKeepingBoth() : file.commit(replace);
    if (kept) {
        m_context.counters.FilesDone += 1;
        m_ledger.addCreated(file.name());
    }
    return kept;
}

void IncomingTable::fileEnded(int32_t index, bool kept, const ReceivedFile& file,
                              const WholeFileCrc& crc, int64_t bytesDone) {
    if (index < 0 || size_t(index) >= m_ledger.entries().size())
        return;
    FileOutcome& entry = m_ledger.entries()[size_t(index)];
    entry.result = kept ? FileResult::Stored : FileResult::Failed;
    if (kept) {
        entry.nameAsStored = file.name();
        entry.crc32 = crc.value();
    }
    entry.bytesDone = kept ? entry.size : bytesDone;
    m_context.observer.fileEnded(entry);
}

ReceiveOutcome IncomingTable::finish(bool aborted, int64_t cutBytes) {
    m_accepted = false;
    if (m_destDir && m_ledger.createdAny())
        ::fsync(m_destDir.get()); // makes the renames of this transfer durable
    m_destDir.reset();
    const TransferCounters& counters = m_context.counters;
    return m_ledger.finish(aborted, counters.FilesDone, counters.TransferFileCount,
                           counters.TransferIndex, cutBytes);
}

} // namespace zapfer
