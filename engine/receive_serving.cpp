// What the receiving side does with each message: table checks, destination
// files, blocks, closing, aborts, the serial link set-up and the name exchange.

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

void ReceiveSession::serveTable(const uint8_t* entries) {
    const size_t length = size_t(m_tableCount) * kEntrySize;
    if (CheckFileTable(m_tableCount, m_tableCrc, std::span<const uint8_t>(entries, length)) !=
        TableCheck::Valid) {
        sendCode(CMD_BAD_TABLE);
        return;
    }
    m_table.assign(entries, entries + length);
    if (m_tableTaken) {
        // A further table in the same receive (on one connection): the files
        // of the earlier ones stay in its outcome and its count.
        m_earlierFiles.insert(m_earlierFiles.end(), m_entries.begin(), m_entries.end());
        m_earlierDone += m_counters.FilesDone;
        m_tableTaken = false;
    }
    m_counters.restart(m_tableCount, 0);

    // On a serial line even a table that is refused is shown.
    const bool line = m_traits.dialect == Dialect::Line;
    if (line && !m_announced) {
        m_announced = true;
        m_observer.incoming();
    }
    const uint8_t answer = checkTable();
    if (m_peerRefused) {
        sendCode(answer);
        return;
    }
    if (answer != CMD_OK) {
        m_destDir.reset();
        sendCode(answer);
        return;
    }
    m_tableAccepted = true;
    m_tableTaken = true;
    m_lastProgressMs = m_nowMs;
    m_namesWritten.clear();
    sendCode(CMD_OK);
    if (!line && !m_announced) {
        m_announced = true;
        m_observer.incoming();
    }
}

uint8_t ReceiveSession::checkTable() {
    m_policy = m_observer.policy();
    m_entries.clear();
    int64_t total = 0; // 64 bits: sizes that wrap 32 bits must not pass the space check
    for (size_t i = 0; i < m_tableCount; ++i) {
        const TransferEntry entry = DecodeTransferEntry(m_table.data() + i * kEntrySize);
        // Only plain names are created, and only in the destination folder.
        const std::optional<std::string> name = receivedFileName(entry.name);
        if (!name || entry.size < 0)
            return CMD_CANNOT_CREATE;
        m_entries.push_back({entry.name, *name, entry.size, 0, FileResult::NotReached, {}});
        total += entry.size;
    }
    if (m_entries.empty())
        return CMD_CANNOT_CREATE;
    m_counters.TransferTotalBytes = total;
    if (!m_policy.peerAccepted) {
        // Who sent it is the answer: the destination is not even opened.
        m_peerRefused = true;
        m_observer.peerRefused({int32_t(m_entries.size()), total});
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
        for (const FileOutcome& entry : m_entries)
            if (isFolder(m_destDir.get(), entry.nameAsStored))
                return CMD_NAME_CONFLICT;
    }
    if (conflict == NameConflict::Refuse) {
        for (const FileOutcome& entry : m_entries)
            if (nameExists(m_destDir.get(), entry.nameAsStored))
                return CMD_NAME_CONFLICT;
    }
    const int64_t available = freeBytes(m_destDir.get());
    if (available >= 0 && available < total)
        return CMD_NO_SPACE;
    return CMD_OK;
}

void ReceiveSession::serveOpen(uint8_t index) {
    if (!m_tableAccepted || index >= m_entries.size())
        return; // no table, or no such entry: no answer
    const bool stream = m_traits.dialect == Dialect::Stream;
    if (m_file && stream) {
        sendCode(CMD_ACCEPTED); // a repeated open changes nothing
        return;
    }
    m_file.reset();
    const FileOutcome& entry = m_entries[index];
    const int32_t blocks = FileBlocks(m_traits.dialect, entry.size, m_traits.blockSize);
    m_counters.TransferIndex = index;
    m_counters.BlocksDone = 0;
    m_fileBytes = 0;
    m_counters.CurrentFileSize = entry.size;
    m_counters.FileBlocks = blocks;
    m_observer.fileStarted(entry.nameAsStored);
    m_fileCrc.reset(blocks);
    m_file = ReceivedFile::create(m_destDir.get(), entry.nameAsStored, entry.size, blocks);
    if (!m_file) {
        sendCode(CMD_CANNOT_CREATE);
        m_observer.closeStatus();
        m_observer.abortTransfer();
        return;
    }
    m_lastProgressMs = m_nowMs;
    sendCode(stream ? CMD_ACCEPTED : CMD_OK);
}

void ReceiveSession::serveBlockHeader(int32_t k, uint32_t crc, int64_t nowMs) {
    m_blockIndex = k;
    m_blockCrc = crc;
    const int32_t blocks = m_counters.FileBlocks;
    if (m_traits.dialect == Dialect::Stream) {
        m_blockExpected = m_file && k >= 0 && k < blocks;
    } else {
        // Only the block last taken or the one after it is read; anything
        // else is dropped with the waiting input.
        const int32_t last = m_counters.BlocksDone;
        m_blockExpected =
            m_file && !m_stopped && k >= 0 && k < blocks && (k == last || k == last + 1);
        if (!m_blockExpected) {
            purge();
            serveBlockData(nullptr, false);
            return;
        }
    }
    const int32_t length =
        m_blockExpected ? BlockLength(k, m_counters.CurrentFileSize, m_traits.blockSize) : 0;
    startStep(Step::BlockData, size_t(length), nowMs);
}

void ReceiveSession::serveBlockData(const uint8_t* data, bool arrived) {
    const int32_t k = m_blockIndex;
    const size_t length = m_stepBytes;
    const bool good = arrived && m_blockExpected && BlockCrc(data, length) == m_blockCrc;
    const bool stream = m_traits.dialect == Dialect::Stream;
    if (!stream && m_stopped) {
        sendCode(CMD_ABORT);
        return;
    }
    // A block not stored is never acknowledged: the sender repeats it.
    if (!good) {
        if (stream)
            m_sink.reply(BuildBlockReply(CMD_BLOCK_BAD, k));
        else
            sendCode(CMD_BLOCK_BAD);
        return;
    }
    const size_t storedBefore = m_file->blocksStored();
    if (!m_file->storeBlock(k, int64_t(k) * m_traits.blockSize, data, length)) {
        // The disk failed under us (full despite the reservation, I/O error).
        m_observer.closeStatus();
        m_observer.abortTransfer();
        if (!stream)
            sendCode(CMD_ABORT);
        return;
    }
    m_fileCrc.setBlock(k, m_blockCrc, uint32_t(length));
    if (m_file->blocksStored() > storedBefore)
        m_lastProgressMs = m_nowMs;
    // A stream counts the blocks taken; a serial line the index of the last.
    m_counters.BlocksDone = stream ? k + 1 : k;
    m_counters.BytesDone += int64_t(length);
    m_fileBytes += int64_t(length);
    if (stream)
        m_sink.reply(BuildBlockReply(CMD_BLOCK_OK, k));
    else
        sendCode(CMD_BLOCK_OK);
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
        const bool replace =
            conflict == NameConflict::Replace ||
            (conflict == NameConflict::Refuse &&
             std::find(m_namesWritten.begin(), m_namesWritten.end(), name) != m_namesWritten.end());
        // A whole file that cannot be kept (its name taken meanwhile, the
        // disk failing) is not the sender's success: it hears so. A file
        // closed with blocks missing is one the sender gave up itself.
        const bool whole = m_file->complete();
        const bool kept = conflict == NameConflict::KeepBoth ? m_file->commitKeepingBoth()
                                                             : m_file->commit(replace);
        closeAnswer = kept || !whole ? CMD_OK : CMD_CANNOT_CREATE;
        if (kept) {
            m_counters.FilesDone += 1;
            m_namesWritten.push_back(m_file->name());
        }
        const int32_t index = m_counters.TransferIndex;
        if (index >= 0 && size_t(index) < m_entries.size()) {
            FileOutcome& entry = m_entries[size_t(index)];
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
    if (m_destDir && !m_namesWritten.empty())
        ::fsync(m_destDir.get()); // makes the renames of this transfer durable
    m_namesWritten.clear();
    m_destDir.reset();
    ReceiveOutcome outcome;
    outcome.aborted = aborted;
    outcome.filesDone = m_earlierDone + m_counters.FilesDone;
    outcome.fileCount = int32_t(m_earlierFiles.size()) + m_counters.TransferFileCount;
    outcome.files = m_earlierFiles;
    outcome.files.insert(outcome.files.end(), m_entries.begin(), m_entries.end());
    if (aborted) {
        // The file under way when the receive stopped was cut off.
        const int32_t index = m_counters.TransferIndex;
        const size_t at = m_earlierFiles.size() + size_t(index);
        if (index >= 0 && at < outcome.files.size() &&
            outcome.files[at].result == FileResult::NotReached) {
            outcome.files[at].result = FileResult::Aborted;
            outcome.files[at].bytesDone = m_fileBytes;
        }
    }
    m_earlierFiles.clear();
    m_earlierDone = 0;
    m_tableTaken = false;
    m_observer.receiveEnded(outcome);
    if (m_announced) {
        // The receive dialog is still up for a transfer that ended early.
        m_observer.closeStatus();
        m_announced = false;
    }
}

} // namespace zapfer
