// The receiving side on the socket link: a service loop over the accepted
// connection, answering the sender's commands until the last file is closed,
// the transfer is aborted or the connection is lost.

#include "engine.h"

#include "crc.h"
#include "received_file.h"

#include <chrono>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

// A connected peer that says nothing for this long is dropped, so that a
// silent connection cannot keep this machine from receiving.
constexpr auto kIdlePeerLimit = std::chrono::seconds(60);
// Until a table is accepted there is no transfer to protect, and a sender of
// Zapfer sends its table as soon as it is connected: a peer that has not
// managed that within this time is dropped, whatever else it says.
constexpr auto kTableLimit = std::chrono::seconds(10);

// Another peer is waiting in the listen queue.
bool peerWaiting(int listenSocket) {
    if (listenSocket < 0)
        return false;
    pollfd fd{listenSocket, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}
} // namespace

void Engine::SocketResponder() {
    m_inTransfer = true;
    bool peerAborted = false;
    auto lastCommand = Clock::now();
    auto lastTable = lastCommand; // the connection, or the last table sent on it
    for (;;) {
        const LinkState link = m_state.LinkState;
        if (link == LinkState::Listening || link == LinkState::Stopped)
            break;
        // Between two commands no read or write is in flight: the front
        // end's requests run here (a link change ends this receive).
        runPendingTasks();
        if (!m_dataSocket)
            break;
        const uint8_t code = awaitCommand() ? ReceiveCommand() : 0;
        const auto now = Clock::now();
        if (code != 0)
            lastCommand = now;
        switch (code) {
        case CMD_FILE_TABLE:
            lastTable = now;
            serveFileTable(LinkKind::Socket);
            break;
        case CMD_OPEN_FILE:
            serveOpenFile(LinkKind::Socket);
            break;
        case CMD_BLOCK:
            serveSocketBlock();
            break;
        case CMD_CLOSE_FILE:
            serveCloseFile(LinkKind::Socket);
            break;
        case CMD_ABORT:
            serveAbort(LinkKind::Socket);
            peerAborted = true;
            break;
        case CMD_PING:
            sendReply(LinkKind::Socket, CMD_PING_REPLY);
            break;
        case CMD_CONNECT:
            sendReply(LinkKind::Socket, CMD_ACCEPTED);
            m_events.playSound(Sound::LinkUp);
            break;
        case CMD_NAME_REQUEST:
            serveNameRequest(LinkKind::Socket);
            break;
        case CMD_NAME_FOLLOWS:
            serveNameFollows(LinkKind::Socket);
            break;
        default:
            // Nothing, an unknown code, or a read-service command: no answer.
            if (now - lastCommand > kIdlePeerLimit)
                m_state.AbortFlag = 1;
            break;
        }
        if (!m_tableAccepted && !m_state.AbortFlag && m_state.LinkState != LinkState::Listening) {
            // A quiet or chattering peer without a table must not keep a
            // sender out: one read time-out is enough when another is waiting.
            if (now - lastTable > kTableLimit ||
                (code == 0 && !m_tasksPending && peerWaiting(m_listenSocket.get())))
                m_state.AbortFlag = 1;
        }
        if (m_state.AbortFlag) {
            if (!peerAborted) // tell the sender at once rather than by silence
                SendCommand(CMD_ABORT, IoMode::EvenWhenAborting);
            break;
        }
    }
    endReceive();
    m_inTransfer = false;
}

// Waits up to one read time-out for the next command to begin, in short
// steps, so that a request of the front end never waits for the peer.
bool Engine::awaitCommand() {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (m_readAheadStart == m_readAheadEnd && m_dataSocket) {
        if (m_tasksPending || m_state.AbortFlag || Clock::now() >= deadline)
            return false;
        waitFor(m_dataSocket.get(), POLLIN, 100);
        int waiting = 0;
        if (::ioctl(m_dataSocket.get(), FIONREAD, &waiting) == 0 && waiting > 0)
            return true;
        if (::recv(m_dataSocket.get(), &waiting, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
            return true; // closed: the read that follows finds out
    }
    return m_dataSocket.valid();
}

void Engine::serveSocketBlock() {
    uint8_t header[8];
    if (!RecvAll(header, sizeof header))
        return;
    const auto k = int32_t(getLe32(header));
    const uint32_t crc = getLe32(header + 4);
    const int32_t blockSize = m_state.BlockSize;
    const int64_t size = m_state.CurrentFileSize;
    const bool indexValid = m_currentFile && k >= 0 && k < m_state.FileBlocks;
    const int32_t length = indexValid ? BlockLength(k, size, blockSize) : 0;
    uint8_t* data = m_ioBuffer.data();
    const bool arrived = length == 0 || RecvAll(data, size_t(length));
    if (m_state.AbortFlag)
        return;
    if (!arrived || !indexValid || BlockCrc(data, size_t(length)) != crc) {
        const auto reply = BuildBlockReply(CMD_BLOCK_BAD, k);
        SendAll(reply.data(), reply.size());
        return;
    }
    if (!m_currentFile->storeBlock(k, int64_t(k) * blockSize, data, size_t(length))) {
        // The disk failed under us (full despite the reservation, I/O error).
        m_events.closeStatusDialog();
        m_state.AbortFlag = 1;
        return;
    }
    m_state.BlocksDone = k + 1;
    m_state.BytesDone += length;
    const auto reply = BuildBlockReply(CMD_BLOCK_OK, k);
    SendAll(reply.data(), reply.size());
}

} // namespace zapfer
