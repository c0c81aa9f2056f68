// The sending side on the socket link: the file table, then per file an open,
// its blocks with their acknowledgements, and a close. Replies are read as
// they arrive; a missing or garbled reply repeats the message.

#include "engine.h"

#include "block_window.h"
#include "crc.h"
#include "sender_common.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

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
        const uint8_t reply = ReceiveCommand();
        if (reply == CMD_OK)
            return true;
        // A refusal ends the send; CMD_BAD_TABLE, garbage or silence sends it again.
        takeRefusal(reply);
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
        if (takeRefusal(reply))
            return;
    }
    m_events.fileStarted(FileNamePart(file.path));

    // A file that cannot be read now is opened and closed on the peer with no
    // blocks: the peer drops it and the send goes on without counting it.
    UniqueFd source(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    const bool sent = source && sendBlocks(source.get(), size);
    source.reset();

    while (!m_state.AbortFlag) {
        if (SendCommand(CMD_CLOSE_FILE) && ReceiveCommand() == CMD_OK) {
            // The peer keeps a file at its close: only then has it gone through.
            if (sent) {
                m_state.FilesDone += 1;
                m_sentFiles[size_t(index)] = true;
            }
            break;
        }
    }
}

// Sends every block of the open file, several in flight at once, and returns
// true when all were acknowledged. The next block is read and its CRC computed
// while the kernel still holds the previous ones, so disk, CRC and network
// overlap.
bool Engine::sendBlocks(int fd, int64_t size) {
    const int32_t blockSize = m_state.BlockSize;
    BlockWindow window(m_state.FileBlocks);
    ReplyParser parser;
    int32_t staged = -1; // block held in m_ioBuffer
    size_t stagedLength = 0;
    size_t stagedSent = 0;
    auto lastReply = std::chrono::steady_clock::now();
    uint8_t replies[4096];

    while (!window.done() && !m_state.AbortFlag && m_dataSocket) {
        // A block whose first bytes went out must go out whole, whatever
        // happened meanwhile: the peer reads it by its length.
        if (stagedSent == 0 && window.canSend() && staged != window.nextToSend()) {
            staged = window.nextToSend();
            const int32_t length = BlockLength(staged, size, blockSize);
            uint8_t* data = m_ioBuffer.data() + kBlockHeaderSize;
            if (!readAt(fd, data, size_t(length), int64_t(staged) * blockSize))
                return false; // unreadable now: the peer drops the file at its close
            const auto header = BuildBlockHeader(staged, BlockCrc(data, size_t(length)));
            std::memcpy(m_ioBuffer.data(), header.data(), header.size());
            stagedLength = kBlockHeaderSize + size_t(length);
        }
        const bool wantWrite =
            staged >= 0 && (stagedSent > 0 || (window.canSend() && staged == window.nextToSend()));
        waitFor(m_dataSocket.get(), short(POLLIN | (wantWrite ? POLLOUT : 0)), 100);

        const ssize_t got = receiveSome(replies, sizeof replies);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            dropDataSocket(); // the peer closed or reset the connection
            m_state.AbortFlag = 1;
            break;
        }
        if (got > 0) {
            parser.feed(replies, size_t(got));
            while (const auto reply = parser.next()) {
                if (reply->code == CMD_ABORT) {
                    m_state.AbortFlag = 1;
                    break;
                }
                if (reply->code != CMD_BLOCK_OK && reply->code != CMD_BLOCK_BAD)
                    continue;
                lastReply = std::chrono::steady_clock::now();
                if (window.onReply(*reply)) {
                    const int32_t k = window.acknowledged() - 1;
                    m_state.BlocksDone = window.acknowledged();
                    m_state.BytesDone += BlockLength(k, size, blockSize);
                }
            }
        }
        if (wantWrite && !m_state.AbortFlag) {
            const ssize_t n = ::send(m_dataSocket.get(), m_ioBuffer.data() + stagedSent,
                                     stagedLength - stagedSent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                stagedSent += size_t(n);
                if (stagedSent == stagedLength) {
                    window.recordSent(staged);
                    stagedSent = 0;
                    staged = -1;
                }
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                dropDataSocket();
                m_state.AbortFlag = 1;
                break;
            }
        }
        if (window.awaitingReplies() &&
            std::chrono::steady_clock::now() - lastReply > std::chrono::seconds(2)) {
            window.goBack(); // silence: send again from the first unacknowledged block
            lastReply = std::chrono::steady_clock::now();
        }
    }
    if (stagedSent > 0) // finish the block on the wire so the abort is read as a command
        SendAll(m_ioBuffer.data() + stagedSent, stagedLength - stagedSent,
                IoMode::EvenWhenAborting);
    return window.done() && !m_state.AbortFlag;
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
        m_lastSend.sent = m_sentFiles;
        m_lastSendFresh = true;
    }
    m_events.closeStatusDialog();
}

} // namespace zapfer
