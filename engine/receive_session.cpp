// The messages of the receiving side, as its parser hands them over: what
// each does to the receive, and its answer.

#include "receive_session.h"

#include "crc.h"
#include "protocol.h"
#include "sender_common.h"

namespace zapfer {

ReceiveSession::ReceiveSession(const LinkTraits& traits, TransferCounters& counters,
                               SessionObserver& observer, ReplySink& sink)
    : m_traits(traits), m_counters(counters), m_observer(observer), m_sink(sink),
      m_parser(traits, *this, sink) {}

ReceiveSession::~ReceiveSession() {
    m_file.reset(); // never renamed onto its final name
}

void ReceiveSession::feed(std::span<const uint8_t> bytes, int64_t nowMs) {
    m_nowMs = nowMs;
    m_parser.feed(bytes, nowMs);
}

void ReceiveSession::tick(int64_t nowMs) {
    m_nowMs = nowMs;
    m_parser.tick(nowMs);
}

void ReceiveSession::command(uint8_t code) {
    // Whatever follows answers after the blocks before it.
    if (code != CMD_BLOCK)
        storeRun();
    const bool line = m_traits.dialect == Dialect::Line;
    switch (code) {
    case CMD_FILE_TABLE:
        m_lastTableMs = m_nowMs;
        m_stopped = false;
        m_file.reset(); // a new table replaces whatever was in progress
        m_tableAccepted = false;
        break;
    case CMD_CLOSE_FILE:
        if (m_stopped)
            sendCode(CMD_ABORT);
        else
            serveClose();
        break;
    case CMD_ABORT:
        m_stopped = false;
        serveAbort();
        break;
    case CMD_PING:
        sendCode(CMD_PING_REPLY);
        break;
    case CMD_CONNECT:
        if (line) {
            serveConnect();
        } else {
            sendCode(CMD_ACCEPTED);
            m_observer.sound(Sound::LinkUp);
        }
        break;
    case CMD_NAME_REQUEST:
        sendNameBlock();
        break;
    default:
        break; // its arguments follow, or it has no answer
    }
}

void ReceiveSession::table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) {
    storeRun();
    if (CheckFileTable(count, crc, entries) != TableCheck::Valid) {
        sendCode(CMD_BAD_TABLE);
        return;
    }
    // A further table in the same receive (on one connection): the files of
    // the earlier ones stay in its outcome and its count.
    m_ledger.newTable(m_counters.FilesDone);
    m_counters.restart(count, 0);

    // On a serial line even a table that is refused is shown.
    const bool line = m_traits.dialect == Dialect::Line;
    if (line && !m_announced) {
        m_announced = true;
        m_observer.incoming();
    }
    const uint8_t answer = checkTable(entries);
    if (answer != CMD_OK) {
        m_destDir.reset();
        refuseTable(answer);
        sendCode(answer);
        return;
    }
    m_tableAccepted = true;
    m_ledger.tableAccepted();
    m_lastProgressMs = m_nowMs;
    sendCode(CMD_OK);
    if (!line && !m_announced) {
        m_announced = true;
        m_observer.incoming();
    }
}

void ReceiveSession::refuseTable(uint8_t answer) {
    RefusedTable refused;
    refused.refusal = refusalOf(answer);
    refused.peerNotAccepted = m_peerRefused;
    refused.files = m_ledger.entries();
    for (FileOutcome& file : refused.files) {
        file.result = FileResult::Refused;
        refused.totalBytes += file.size;
    }
    refused.fileCount = int32_t(refused.files.size());
    m_observer.tableRefused(refused);
}

void ReceiveSession::open(uint8_t index) {
    storeRun();
    if (m_stopped) {
        sendCode(CMD_ABORT);
        return;
    }
    if (!m_tableAccepted || index >= m_ledger.entries().size())
        return; // no table, or no such entry: no answer
    const bool stream = m_traits.dialect == Dialect::Stream;
    if (m_file && stream) {
        sendCode(CMD_ACCEPTED); // a repeated open changes nothing
        return;
    }
    m_file.reset();
    m_diskFailed = false;
    const FileOutcome& entry = m_ledger.entries()[index];
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

std::optional<size_t> ReceiveSession::blockHeader(int32_t k, uint32_t crc) {
    m_block = {k, crc, false};
    const int32_t blocks = m_counters.FileBlocks;
    if (m_traits.dialect == Dialect::Stream) {
        m_block.expected = m_file && k >= 0 && k < blocks;
    } else {
        storeRun();
        // Only the block last taken or the one after it is read; anything
        // else is dropped with the waiting input.
        const int32_t last = m_counters.BlocksDone;
        m_block.expected =
            m_file && !m_stopped && k >= 0 && k < blocks && (k == last || k == last + 1);
        if (!m_block.expected) {
            m_parser.purge();
            blockData({}, false);
            return std::nullopt;
        }
    }
    const int32_t length =
        m_block.expected ? BlockLength(k, m_counters.CurrentFileSize, m_traits.blockSize) : 0;
    return size_t(length);
}

void ReceiveSession::blockData(std::span<const uint8_t> data, bool arrived) {
    const int32_t k = m_block.index;
    const size_t length = data.size();
    const bool good = arrived && m_block.expected && BlockCrc(data.data(), length) == m_block.crc;
    const bool stream = m_traits.dialect == Dialect::Stream;
    if (stream && good && !m_diskFailed) {
        // Stored and acknowledged with the rest of its run, at the latest
        // once this read is served.
        if (!m_run.takes(k, length))
            storeRun();
        m_run.add(k, m_block.crc, data);
        return;
    }
    storeRun();
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
    if (stream)
        return; // the disk failed this file: the transfer is ending
    const size_t storedBefore = m_file->blocksStored();
    if (!m_file->storeBlock(k, int64_t(k) * m_traits.blockSize, data.data(), length)) {
        storeFailed();
        return;
    }
    blockStored(k, m_block.crc, length, m_file->blocksStored() > storedBefore);
}

void ReceiveSession::storeRun() {
    if (m_run.empty())
        return;
    if (!m_file) { // cannot happen: the file changes only after a run is stored
        m_run.clear();
        return;
    }
    const int32_t first = m_run.first();
    const size_t storedBefore = m_file->blocksStored();
    const size_t stored =
        m_file->storeRun(first, int64_t(first) * m_traits.blockSize, m_run.data());
    const bool newlyStored = m_file->blocksStored() > storedBefore;
    for (size_t i = 0; i < stored; ++i)
        blockStored(first + int32_t(i), m_run.crc(i), m_run.data()[i].iov_len, newlyStored);
    const bool failed = stored < m_run.size();
    m_run.clear();
    // The blocks after the failed one are neither stored nor acknowledged.
    if (failed)
        storeFailed();
}

void ReceiveSession::blockStored(int32_t k, uint32_t crc, size_t length, bool newlyStored) {
    const bool stream = m_traits.dialect == Dialect::Stream;
    m_fileCrc.setBlock(k, crc, uint32_t(length));
    if (newlyStored)
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

void ReceiveSession::storeFailed() {
    // The disk failed under us (full despite the reservation, I/O error).
    m_observer.closeStatus();
    m_observer.abortTransfer();
    if (m_traits.dialect == Dialect::Stream)
        m_diskFailed = true;
    else
        sendCode(CMD_ABORT);
}

void ReceiveSession::name(std::string name) {
    storeRun();
    m_observer.peerNamed(name);
}

void ReceiveSession::unfinished(Unfinished message) {
    storeRun();
    switch (message) {
    case Unfinished::StreamMessage:
        // The partial file goes with the connection.
        m_linkEnded = true;
        m_observer.abortTransfer();
        break;
    case Unfinished::Table:
        sendCode(CMD_BAD_TABLE);
        break;
    case Unfinished::Open:
        if (m_stopped)
            sendCode(CMD_ABORT);
        break;
    case Unfinished::Block:
        blockData({}, false);
        break;
    }
}

} // namespace zapfer
