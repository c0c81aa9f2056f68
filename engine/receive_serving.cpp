// The receiving side's checks of a table against the destination, closing a
// file, aborts, the serial link set-up, the name exchange and the end of a
// receive with its outcome.

#include "crc.h"
#include "protocol.h"
#include "receive_session.h"
#include "received_names.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zapfer {

void ReceiveSession::sendCode(uint8_t code) {
    const Frame frame = BuildFrame(code);
    m_sink.reply(frame);
}

void ReceiveSession::sendNameBlock() {
    std::array<uint8_t, kNameBlockSize> block{};
    const std::string owner = m_observer.policy().ownerName;
    std::memcpy(block.data(), owner.data(), std::min(owner.size(), kNameBlockSize - 1));
    m_sink.reply(block);
}

uint8_t ReceiveSession::checkTable(std::span<const uint8_t> entries) {
    m_policy = m_observer.policy();
    int64_t total = 0; // 64 bits: sizes that wrap 32 bits must not pass the space check
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
    m_counters.TransferTotalBytes = total;
    if (!m_policy.peerAccepted) {
        // Who sent it is the answer: the destination is not even opened.
        m_peerRefused = true;
        return CMD_CANNOT_CREATE;
    }

    m_destDir.reset(::open(m_policy.destDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_destDir || ::faccessat(m_destDir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return CMD_CANNOT_CREATE;
    removeLeftovers(m_destDir.get());
    // Keep both stores beside anything, a folder included.
    const NameConflict conflict = m_policy.nameConflict;
    if (conflict != NameConflict::KeepBoth) {
        // A folder of that name is never replaced, so the file would be
        // thrown away at its close: refused now, even when replacing.
        for (const FileOutcome& entry : m_ledger.entries())
            if (isFolder(m_destDir.get(), entry.nameAsStored))
                return CMD_NAME_CONFLICT;
    }
    if (conflict == NameConflict::Refuse) {
        for (const FileOutcome& entry : m_ledger.entries())
            if (nameExists(m_destDir.get(), entry.nameAsStored))
                return CMD_NAME_CONFLICT;
    }
    const int64_t available = freeBytes(m_destDir.get());
    if (available >= 0 && available < total)
        return CMD_NO_SPACE;
    return CMD_OK;
}

void ReceiveSession::serveClose() {
    uint8_t closeAnswer = CMD_OK;
    if (m_file) {
        m_lastProgressMs = m_nowMs;
        const std::string name = m_file->name();
        // Replacing is allowed with the preference on, or over a file this
        // same transfer wrote (two entries with one name: the later wins).
        // Keep both never replaces, not even this transfer's own files.
        const NameConflict conflict = m_policy.nameConflict;
        const bool replace = conflict == NameConflict::Replace ||
                             (conflict == NameConflict::Refuse && m_ledger.created(name));
        // A whole file that cannot be kept (its name taken meanwhile, the
        // disk failing) is not the sender's success: it hears so. A file
        // closed with blocks missing is one the sender gave up itself.
        const bool whole = m_file->complete();
        const bool kept = conflict == NameConflict::KeepBoth ? m_file->commitKeepingBoth()
                                                             : m_file->commit(replace);
        closeAnswer = kept || !whole ? CMD_OK : CMD_CANNOT_CREATE;
        if (kept) {
            m_counters.FilesDone += 1;
            m_ledger.addCreated(m_file->name());
        }
        const int32_t index = m_counters.TransferIndex;
        if (index >= 0 && size_t(index) < m_ledger.entries().size()) {
            FileOutcome& entry = m_ledger.entries()[size_t(index)];
            entry.result = kept ? FileResult::Stored : FileResult::Failed;
            if (kept) {
                entry.nameAsStored = m_file->name();
                entry.crc32 = m_fileCrc.value();
            }
            entry.bytesDone = kept ? entry.size : m_fileBytes;
            m_observer.fileEnded(entry);
        }
        m_file.reset();
    }
    sendCode(closeAnswer);
    if (m_tableAccepted && m_counters.TransferIndex == m_counters.TransferFileCount - 1) {
        m_observer.closeStatus();
        m_announced = false;
        m_observer.transferComplete();
        if (m_traits.dialect == Dialect::Line)
            end(false);
        else
            m_tableAccepted = false;
    }
}

void ReceiveSession::serveAbort() {
    m_observer.abortTransfer();
    m_peerAborted = true;
    sendCode(CMD_ACCEPTED);
    m_observer.closeStatus();
    m_announced = false;
    m_observer.sound(Sound::Interrupted);
    if (m_traits.dialect == Dialect::Line)
        end(true);
}

void ReceiveSession::serveConnect() {
    // A new link ends whatever the previous one left unfinished.
    if (m_file || m_tableAccepted) {
        m_observer.abortTransfer();
        end(true);
    } else if (m_announced) {
        end(false); // a refused table's receive dialog
    }
    m_stopped = false;
    m_peerAborted = false;
    m_observer.linkRequested();
    sendCode(CMD_ACCEPTED);
    m_observer.sound(Sound::LinkUp);
}

void ReceiveSession::stopByUser() {
    m_stopped = true;
    end(true);
}

void ReceiveSession::end(bool aborted) {
    m_file.reset(); // an unfinished file never reaches its final name
    m_tableAccepted = false;
    if (m_destDir && m_ledger.createdAny())
        ::fsync(m_destDir.get()); // makes the renames of this transfer durable
    m_destDir.reset();
    const ReceiveOutcome outcome =
        m_ledger.finish(aborted, m_counters.FilesDone, m_counters.TransferFileCount,
                        m_counters.TransferIndex, m_fileBytes);
    m_observer.receiveEnded(outcome);
    if (m_announced) {
        // The receive dialog is still up for a transfer that ended early.
        m_observer.closeStatus();
        m_announced = false;
    }
}

} // namespace zapfer
