// The sending side on the serial link. Each message goes out in its pieces
// (frame, then the rest); after each one the line is given its pacing wait
// before the one reply is read. A missing or garbled reply repeats the
// message, except an open, whose failure skips the entry.

#include "engine.h"

#include "crc.h"
#include "sender_common.h"
#include "serial_timing.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace zapfer {

void Engine::SerialSender() {
    m_state.BytesDone = 0;
    m_state.TransferIndex = -1;
    const int count = m_state.TransferFileCount;
    bool completed = false;
    if (serialTableExchange()) {
        int index = 0;
        for (; index < count && !m_state.AbortFlag; ++index) {
            m_state.TransferIndex = index;
            serialSendFile(index);
        }
        completed = index == count && !m_state.AbortFlag;
    }
    if (!completed)
        serialAbortExchange();
    finishSender(completed);
}

bool Engine::serialTableExchange() {
    const int count = m_state.TransferFileCount;
    const size_t length = BuildFileTableMessage(
        std::span<const uint8_t>(m_sendTable.data(), size_t(count) * kEntrySize), m_ioBuffer);
    while (!m_state.AbortFlag) {
        // Frame, count and CRC, then the entries.
        if (serialWrite(m_ioBuffer.data(), kFrameSize) &&
            serialWrite(m_ioBuffer.data() + kFrameSize, kTableHeaderSize - kFrameSize))
            serialWrite(m_ioBuffer.data() + kTableHeaderSize, length - kTableHeaderSize);
        pause(kSerialCommandWaitMs);
        const uint8_t reply = serialReceiveCommand();
        if (reply == CMD_OK)
            return true;
        // A refusal ends the send; CMD_BAD_TABLE, garbage or silence sends it again.
        takeRefusal(reply);
    }
    return false;
}

void Engine::serialSendFile(int index) {
    const SendFile& file = m_sendFiles[size_t(index)];
    const int64_t size = file.size;
    const int32_t blockSize = m_state.BlockSize;
    m_state.BlocksDone = 0;
    m_state.CurrentFileSize = size;
    m_state.FileBlocks = FileBlocks(LinkKind::Serial, size, blockSize);

    const auto open = BuildOpenMessage(uint8_t(index));
    if (serialWrite(open.data(), kFrameSize))
        serialWrite(open.data() + kFrameSize, open.size() - kFrameSize);
    pause(kSerialCommandWaitMs);
    switch (serialReceiveCommand()) {
    case CMD_OK:
        break;
    case CMD_CANNOT_CREATE:
        takeRefusal(CMD_CANNOT_CREATE);
        return;
    case CMD_ABORT: // the receiving side has stopped
        m_state.AbortFlag = 1;
        return;
    default:
        return; // no answer: this entry is skipped
    }
    m_events.fileStarted(FileNamePart(file.path));

    // A file that cannot be read now is opened and closed on the peer with no
    // blocks: the peer drops it and the send goes on without counting it.
    UniqueFd source(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    bool readable = source.valid();
    const int32_t blocks = m_state.FileBlocks;
    const int pacing = blockPacingMs(m_state.CommType);
    while (readable && !m_state.AbortFlag && m_state.BlocksDone < blocks) {
        const int32_t k = m_state.BlocksDone;
        const int32_t length = BlockLength(k, size, blockSize);
        uint8_t* data = m_ioBuffer.data() + kBlockHeaderSize;
        if (!readAt(source.get(), data, size_t(length), int64_t(k) * blockSize)) {
            readable = false;
            break;
        }
        const auto header = BuildBlockHeader(k, BlockCrc(data, size_t(length)));
        // Send block k until it is acknowledged: frame, index, CRC, data.
        while (!m_state.AbortFlag) {
            if (serialWrite(header.data(), kFrameSize) &&
                serialWrite(header.data() + kFrameSize, 4) &&
                serialWrite(header.data() + kFrameSize + 4, 4))
                serialWrite(data, size_t(length));
            pause(pacing);
            const uint8_t reply = serialReceiveCommand();
            if (reply == CMD_BLOCK_OK) {
                m_state.BlocksDone = k + 1;
                m_state.BytesDone += length;
                break;
            }
            if (reply == CMD_ABORT)
                m_state.AbortFlag = 1;
        }
    }
    source.reset();
    const bool sent = readable && m_state.BlocksDone == blocks && !m_state.AbortFlag;

    while (!m_state.AbortFlag) {
        serialCommand(CMD_CLOSE_FILE);
        pause(kSerialCloseWaitMs);
        const uint8_t reply = serialReceiveCommand();
        if (reply == CMD_OK) {
            // The peer keeps a file at its close: only then has it gone through.
            if (sent) {
                m_state.FilesDone += 1;
                m_sentFiles[size_t(index)] = true;
            }
            break;
        }
        if (reply == CMD_ABORT)
            m_state.AbortFlag = 1;
    }
}

void Engine::serialAbortExchange() {
    // At shutdown the peer is told once, without waiting out every retry.
    for (int attempt = 0; attempt < 20 && m_serialPort && (attempt == 0 || !m_stopRequested);
         ++attempt) {
        serialCommand(CMD_ABORT);
        pause(kSerialAbortWaitMs);
        if (serialReceiveCommand() == CMD_ACCEPTED)
            break;
    }
}

} // namespace zapfer
