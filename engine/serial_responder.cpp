// The receiving side on the serial link: one command served per call, over
// and over, while TransferThread is in the responder role. The table, open,
// close, abort and name commands share their service with the socket link
// (receiver.cpp); blocks, the link set-up and the refused read service are
// served here.

#include "engine.h"

#include "crc.h"
#include "received_file.h"
#include "serial_port.h"
#include "serial_timing.h"

#include <chrono>

namespace zapfer {

namespace {
int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A peer that falls silent must not hold this machine: a link that never
// brought a table, or a receive whose sender has gone, is dropped after this.
constexpr int64_t kConnectedIdleMs = 10'000;
constexpr int64_t kReceivingIdleMs = 60'000;
} // namespace

void Engine::SerialResponderStep() {
    if (!serialPortReady()) {
        pause(kClosedPortReadMs);
        return;
    }
    // The user stopped the receive (or a file could not be created or
    // written): the partial file goes now, and the sender learns of it from
    // the answer to its next message.
    if (m_state.AbortFlag && (m_currentFile || m_tableAccepted))
        stopSerialReceive();

    const uint8_t code = serialReceiveCommand();
    if (code != 0)
        m_serialLastCommandMs = nowMs();
    switch (code) {
    case CMD_FILE_TABLE:
        m_serialReceiveStopped = false;
        serveFileTable(LinkKind::Serial);
        break;
    case CMD_OPEN_FILE:
        if (m_serialReceiveStopped) {
            uint8_t index;
            serialRead(&index, 1);
            serialCommand(CMD_ABORT);
        } else {
            serveOpenFile(LinkKind::Serial);
        }
        break;
    case CMD_BLOCK:
        serveSerialBlock();
        break;
    case CMD_CLOSE_FILE:
        if (m_serialReceiveStopped)
            serialCommand(CMD_ABORT);
        else
            serveCloseFile(LinkKind::Serial);
        break;
    case CMD_ABORT:
        m_serialReceiveStopped = false;
        serveAbort(LinkKind::Serial);
        break;
    case CMD_PING:
        serialCommand(CMD_PING_REPLY);
        break;
    case CMD_CONNECT:
        serveSerialConnect();
        break;
    case CMD_NAME_REQUEST:
        serveNameRequest(LinkKind::Serial);
        break;
    case CMD_NAME_FOLLOWS:
        serveNameFollows(LinkKind::Serial);
        break;
    // The read service would hand any file of this machine to whoever names
    // it in a table: its arguments are dropped and nothing is answered.
    case CMD_OPEN_READ: {
        uint8_t index;
        serialRead(&index, 1);
        break;
    }
    case CMD_READ_BLOCK: {
        uint8_t index[4];
        serialRead(index, sizeof index);
        break;
    }
    default: // nothing, CMD_KEEPALIVE, CMD_CLOSE_READ or an unknown code
        checkSerialIdle();
        break;
    }
    m_inTransfer = m_tableAccepted;
    pause(0); // a wake-up has done its work once this step is over
}

void Engine::serveSerialBlock() {
    uint8_t field[4];
    if (serialRead(field, sizeof field) != sizeof field)
        return;
    const auto k = int32_t(getLe32(field));
    if (const int wait = responderCrcWaitMs(m_state.CommType))
        pause(wait);
    if (serialRead(field, sizeof field) != sizeof field)
        return;
    const uint32_t crc = getLe32(field);

    // Only the block last taken or the one after it is read; anything else
    // (no destination open, an index out of step) is dropped with the input.
    const int32_t blockSize = m_state.BlockSize;
    const int32_t last = m_state.BlocksDone;
    const bool expected = m_currentFile && !m_serialReceiveStopped && k >= 0 &&
                          k < m_state.FileBlocks && (k == last || k == last + 1);
    const int32_t length = expected ? BlockLength(k, m_state.CurrentFileSize, blockSize) : 0;
    uint8_t* data = m_ioBuffer.data();
    bool good = false;
    if (expected) {
        good = (length == 0 || serialRead(data, size_t(length)) == size_t(length)) &&
               BlockCrc(data, size_t(length)) == crc;
    } else if (m_serialPort) {
        m_serialPort->purgeInput();
    }
    if (m_state.AbortFlag || m_serialReceiveStopped) {
        serialCommand(CMD_ABORT);
        return;
    }
    // A block not stored is never acknowledged: the sender repeats it.
    if (!good) {
        serialCommand(CMD_BLOCK_BAD);
        return;
    }
    if (!m_currentFile->storeBlock(k, int64_t(k) * blockSize, data, size_t(length))) {
        // The disk failed under us (full despite the reservation, I/O error).
        m_events.closeStatusDialog();
        m_state.AbortFlag = 1;
        serialCommand(CMD_ABORT);
        return;
    }
    m_state.BlocksDone = k;
    m_state.BytesDone += length;
    serialCommand(CMD_BLOCK_OK);
}

void Engine::serveSerialConnect() {
    // A new link ends whatever the previous one left unfinished.
    if (m_currentFile || m_tableAccepted) {
        m_state.AbortFlag = 1;
        endReceive();
    } else if (m_state.LinkState == LinkState::Receiving) {
        endReceive(); // a refused table's receive dialog
    }
    m_serialReceiveStopped = false;
    m_state.AbortFlag = 0;
    for (LinkState from : {LinkState::Listening, LinkState::Unnamed}) {
        if (m_state.LinkState.compare_exchange_strong(from, LinkState::Connected))
            break;
    }
    serialCommand(CMD_ACCEPTED);
    m_events.playSound(Sound::LinkUp);
}

void Engine::stopSerialReceive() {
    m_serialReceiveStopped = true;
    m_state.AbortFlag = 1;
    endReceive();
    m_inTransfer = false;
}

void Engine::checkSerialIdle() {
    const LinkState link = m_state.LinkState;
    const bool receiving = m_currentFile || m_tableAccepted || link == LinkState::Receiving;
    if (!receiving && link != LinkState::Connected)
        return;
    if (nowMs() - m_serialLastCommandMs < (receiving ? kReceivingIdleMs : kConnectedIdleMs))
        return;
    if (receiving) {
        if (m_currentFile || m_tableAccepted)
            m_state.AbortFlag = 1;
        endReceive();
    } else {
        LinkState expected = LinkState::Connected;
        m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
    }
}

} // namespace zapfer
