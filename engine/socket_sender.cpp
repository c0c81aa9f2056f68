// The sending side on the socket link: the file table, then per file an open,
// its blocks with their acknowledgements, and a close. Replies are read as
// they arrive; a missing or garbled reply repeats the message.

#include "engine.h"

#include "crc.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

namespace {
// Reads exactly `length` bytes at `offset`; false on an error or a file that
// has shrunk since the send started.
bool readAt(int fd, uint8_t* buffer, size_t length, int64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, buffer + done, length - done, offset + int64_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}
} // namespace

void Engine::SocketSender() {
    // Whatever a previous exchange left unread would be taken for a reply.
    int pending = 0;
    if (m_dataSocket && ::ioctl(m_dataSocket.get(), FIONREAD, &pending) == 0 && pending > 0)
        RecvAll(m_ioBuffer.data(), std::min<size_t>(size_t(pending), m_ioBuffer.size()), 100);

    m_state.BytesDone = 0;
    m_state.TransferIndex = -1;
    const int count = m_state.TransferFileCount;
    bool completed = false;
    if (socketTableExchange()) {
        int index = 0;
        for (; index < count && !m_state.AbortFlag; ++index) {
            m_state.TransferIndex = index;
            socketSendFile(index);
        }
        completed = index == count && !m_state.AbortFlag;
    }
    if (!completed)
        socketAbortExchange();
    finishSender(completed);
    dropDataSocket();
}

bool Engine::socketTableExchange() {
    const int count = m_state.TransferFileCount;
    const size_t length = BuildFileTableMessage(
        std::span<const uint8_t>(m_sendTable.data(), size_t(count) * kEntrySize), m_ioBuffer);
    while (!m_state.AbortFlag) {
        if (!SendAll(m_ioBuffer.data(), length))
            continue;
        switch (ReceiveCommand()) {
        case CMD_OK:
            return true;
        case CMD_NO_SPACE:
            m_state.PeerError = PeerNoSpace;
            m_state.AbortFlag = 1;
            break;
        case CMD_NAME_CONFLICT:
            m_state.PeerError = PeerNameConflict;
            m_state.AbortFlag = 1;
            break;
        case CMD_CANNOT_CREATE:
            m_state.PeerError = PeerCannotCreate;
            m_state.AbortFlag = 1;
            break;
        default:
            break; // CMD_BAD_TABLE, garbage or silence: send the table again
        }
    }
    return false;
}

void Engine::socketSendFile(int index) {
    const SendFile& file = m_sendFiles[size_t(index)];
    const int64_t size = file.size;
    const int32_t blockSize = m_state.BlockSize;
    m_state.BlocksDone = 0;
    m_state.CurrentFileSize = size;
    m_state.FileBlocks = FileBlocks(LinkKind::Socket, size, blockSize);

    const auto open = BuildOpenMessage(uint8_t(index));
    for (;;) {
        if (m_state.AbortFlag)
            return;
        if (!SendAll(open.data(), open.size()))
            continue;
        const uint8_t reply = ReceiveCommand();
        if (reply == CMD_ACCEPTED)
            break;
        if (reply == CMD_CANNOT_CREATE) {
            m_state.PeerError = PeerCannotCreate;
            m_state.AbortFlag = 1;
            return;
        }
    }
    m_events.fileStarted(FileNamePart(file.path));

    // A file that cannot be read now is opened and closed on the peer with no
    // blocks: the peer drops it and the send goes on without counting it.
    UniqueFd source(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    bool readable = source.valid();
    const int32_t blocks = m_state.FileBlocks;
    while (readable && !m_state.AbortFlag && m_state.BlocksDone < blocks) {
        const int32_t k = m_state.BlocksDone;
        const int32_t length = BlockLength(k, size, blockSize);
        uint8_t* data = m_ioBuffer.data() + kBlockHeaderSize;
        if (!readAt(source.get(), data, size_t(length), int64_t(k) * blockSize)) {
            readable = false;
            break;
        }
        const auto header = BuildBlockHeader(k, BlockCrc(data, size_t(length)));
        std::memcpy(m_ioBuffer.data(), header.data(), header.size());
        // Send block k until it is acknowledged by its own index.
        while (!m_state.AbortFlag) {
            if (!SendAll(m_ioBuffer.data(), kBlockHeaderSize + size_t(length)))
                continue;
            const uint8_t reply = ReceiveCommand();
            if (reply == CMD_ABORT) {
                m_state.AbortFlag = 1;
                break;
            }
            if (reply != CMD_BLOCK_OK && reply != CMD_BLOCK_BAD)
                continue;
            uint8_t indexBytes[4];
            if (!RecvAll(indexBytes, sizeof indexBytes))
                continue;
            if (reply == CMD_BLOCK_OK && int32_t(getLe32(indexBytes)) == k) {
                m_state.BlocksDone = k + 1;
                m_state.BytesDone += length;
                break;
            }
        }
    }
    source.reset();
    if (readable && m_state.BlocksDone == blocks && !m_state.AbortFlag)
        m_state.FilesDone += 1;

    while (!m_state.AbortFlag) {
        if (SendCommand(CMD_CLOSE_FILE) && ReceiveCommand() == CMD_OK)
            break;
    }
}

void Engine::socketAbortExchange() {
    // Told on the link itself, so that the peer stops at once.
    for (int attempt = 0; attempt < 20 && m_dataSocket; ++attempt) {
        if (!SendCommand(CMD_ABORT, IoMode::EvenWhenAborting))
            break;
        if (ReceiveCommand(50, IoMode::EvenWhenAborting) == CMD_ACCEPTED)
            break;
    }
}

void Engine::finishSender(bool completed) {
    m_events.playSound(completed ? Sound::Completed : Sound::Interrupted);
    {
        std::lock_guard lock(m_outcomeMutex);
        m_lastSend.peerError = m_state.PeerError;
        m_lastSend.aborted = !completed;
        m_lastSend.transferIndex =
            completed ? m_state.TransferFileCount.load() : m_state.TransferIndex.load();
        m_lastSend.filesDone = m_state.FilesDone;
        m_lastSend.fileCount = m_state.TransferFileCount;
        m_lastSendFresh = true;
    }
    m_events.closeStatusDialog();
}

} // namespace zapfer
