// The blocks of the file under way: checked, written and acknowledged, on a
// stream in runs and with numbered replies, on a serial line one at a time.

#include "incoming_file.h"

#include "crc.h"
#include "protocol.h"
#include "sender_common.h"

namespace zapfer {

bool IncomingFile::open(int dirFd, uint8_t index, const FileOutcome& entry) {
    m_file.reset();
    m_diskFailed = false;
    const LinkTraits& traits = m_context.traits;
    TransferCounters& counters = m_context.counters;
    const int32_t blocks = FileBlocks(traits.dialect, entry.size, traits.blockSize);
    counters.TransferIndex = index;
    counters.BlocksDone = 0;
    m_fileBytes = 0;
    counters.CurrentFileSize = entry.size;
    counters.FileBlocks = blocks;
    m_context.observer.fileStarted(entry.nameAsStored);
    m_fileCrc.reset(blocks);
    m_file = ReceivedFile::create(dirFd, entry.nameAsStored, entry.size, blocks);
    return m_file != nullptr;
}

std::optional<size_t> IncomingFile::blockHeader(int32_t k, uint32_t crc, bool stopped) {
    m_block = {k, crc, false};
    const TransferCounters& counters = m_context.counters;
    const int32_t blocks = counters.FileBlocks;
    if (m_context.stream()) {
        m_block.expected = m_file && k >= 0 && k < blocks;
    } else {
        storeRun();
        // Only the block last taken or the one after it is read; anything
        // else is dropped with the waiting input.
        const int32_t last = counters.BlocksDone;
        m_block.expected =
            m_file && !stopped && k >= 0 && k < blocks && (k == last || k == last + 1);
        if (!m_block.expected)
            return std::nullopt;
    }
    const int32_t length =
        m_block.expected ? BlockLength(k, counters.CurrentFileSize, m_context.traits.blockSize) : 0;
    return size_t(length);
}

void IncomingFile::blockData(std::span<const uint8_t> data, bool arrived, bool stopped) {
    const int32_t k = m_block.index;
    const size_t length = data.size();
    const bool good = arrived && m_block.expected && BlockCrc(data.data(), length) == m_block.crc;
    const bool stream = m_context.stream();
    if (stream && good && !m_diskFailed) {
        // Stored and acknowledged with the rest of its run, at the latest
        // once this read is served.
        if (!m_run.takes(k, length))
            storeRun();
        m_run.add(k, m_block.crc, data);
        return;
    }
    storeRun();
    if (!stream && stopped) {
        m_context.sendCode(CMD_ABORT);
        return;
    }
    // A block not stored is never acknowledged: the sender repeats it.
    if (!good) {
        if (stream)
            m_context.sink.reply(BuildBlockReply(CMD_BLOCK_BAD, k));
        else
            m_context.sendCode(CMD_BLOCK_BAD);
        return;
    }
    if (stream)
        return; // the disk failed this file: the transfer is ending
    const size_t storedBefore = m_file->blocksStored();
    if (!m_file->storeBlock(k, int64_t(k) * m_context.traits.blockSize, data.data(), length)) {
        storeFailed();
        return;
    }
    blockStored(k, m_block.crc, length, m_file->blocksStored() > storedBefore);
}

void IncomingFile::storeRun() {
    if (m_run.empty())
        return;
    if (!m_file) { // cannot happen: the file changes only after a run is stored
        m_run.clear();
        return;
    }
    const int32_t first = m_run.first();
    const size_t storedBefore = m_file->blocksStored();
    const size_t stored =
        m_file->storeRun(first, int64_t(first) * m_context.traits.blockSize, m_run.data());
    const bool newlyStored = m_file->blocksStored() > storedBefore;
    for (size_t i = 0; i < stored; ++i)
        blockStored(first + int32_t(i), m_run.crc(i), m_run.data()[i].iov_len, newlyStored);
    const bool failed = stored < m_run.size();
    m_run.clear();
    // The blocks after the failed one are neither stored nor acknowledged.
    if (failed)
        storeFailed();
}

void IncomingFile::blockStored(int32_t k, uint32_t crc, size_t length, bool newlyStored) {
    const bool stream = m_context.stream();
    m_fileCrc.setBlock(k, crc, uint32_t(length));
    if (newlyStored)
        m_context.progressed();
    // A stream counts the blocks taken; a serial line the index of the last.
    TransferCounters& counters = m_context.counters;
    counters.BlocksDone = stream ? k + 1 : k;
    counters.BytesDone += int64_t(length);
    m_fileBytes += int64_t(length);
    if (stream)
        m_context.sink.reply(BuildBlockReply(CMD_BLOCK_OK, k));
    else
        m_context.sendCode(CMD_BLOCK_OK);
}

void IncomingFile::storeFailed() {
    // The disk failed under us (full despite the reservation, I/O error).
    m_context.observer.closeStatus();
    m_context.observer.abortTransfer();
    if (m_context.stream())
        m_diskFailed = true;
    else
        m_context.sendCode(CMD_ABORT);
}

} // namespace zapfer
