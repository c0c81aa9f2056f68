// What the receiving side does with the sender's commands, on either link:
// table checks, destination files, closing, aborts and the name exchange.

#include "engine.h"

#include "received_file.h"
#include "serial_port.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zapfer {

bool Engine::sendBytes(LinkKind link, const void* data, size_t length) {
    if (link == LinkKind::Socket)
        return SendAll(data, length);
    return m_serialPort && m_serialPort->PortWrite(static_cast<const uint8_t*>(data), length,
                                                   m_wakeFd.get()) == length;
}

bool Engine::receiveBytes(LinkKind link, void* data, size_t length) {
    if (link == LinkKind::Socket)
        return RecvAll(data, length);
    return m_serialPort &&
           m_serialPort->PortRead(static_cast<uint8_t*>(data), length, m_wakeFd.get()) == length;
}

void Engine::sendReply(LinkKind link, uint8_t code) {
    if (link == LinkKind::Socket)
        SendCommand(code, IoMode::EvenWhenAborting);
    else if (m_serialPort)
        PortSendCommand(*m_serialPort, code, m_wakeFd.get());
}

void Engine::serveFileTable(LinkKind link) {
    m_currentFile.reset(); // a new table replaces whatever was in progress
    m_tableAccepted = false;
    uint8_t header[5];
    if (!receiveBytes(link, header, sizeof header)) {
        if (!m_state.AbortFlag)
            sendReply(link, CMD_BAD_TABLE);
        return;
    }
    const uint8_t count = header[0];
    const uint32_t crc = getLe32(header + 1);
    const size_t length = size_t(count) * kEntrySize; // at most 255 entries: fits the buffer
    const bool arrived = length == 0 || receiveBytes(link, m_receiveTable.data(), length);
    if (m_state.AbortFlag)
        return;
    if (CheckFileTable(count, crc,
                       std::span<const uint8_t>(m_receiveTable.data(), arrived ? length : 0)) !=
        TableCheck::Valid) {
        sendReply(link, CMD_BAD_TABLE);
        return;
    }
    m_state.TransferFileCount = count;
    m_state.TransferIndex = -1;
    m_state.BytesDone = 0;
    m_state.FilesDone = 0;
    m_state.BlocksDone = 0;
    m_state.FileBlocks = 0;

    if (link == LinkKind::Serial && m_state.LinkState != LinkState::Receiving) {
        moveLinkState(LinkState::Receiving);
        m_receiveAnnounced = true;
        m_events.incomingTransfer();
    }
    const uint8_t answer = checkReceivedTable(link);
    if (answer != CMD_OK) {
        m_destDirFd.reset();
        sendReply(link, answer);
        return;
    }
    m_tableAccepted = true;
    m_namesWritten.clear();
    sendReply(link, CMD_OK);
    if (link == LinkKind::Socket && m_state.LinkState != LinkState::Receiving) {
        moveLinkState(LinkState::Receiving);
        m_receiveAnnounced = true;
        m_events.incomingTransfer();
    }
}

uint8_t Engine::checkReceivedTable(LinkKind link) {
    (void)link;
    const int count = m_state.TransferFileCount;
    m_transferSettings = settings();
    m_receivedNames.clear();
    int64_t total = 0; // 64 bits: sizes that wrap 32 bits must not pass the space check
    for (int i = 0; i < count; ++i) {
        const TransferEntry entry = DecodeTransferEntry(m_receiveTable.data() + i * kEntrySize);
        std::string name = FileNamePart(entry.name, PathSource::Wire);
        // Only plain names are created, and only in the destination folder.
        if (!isSafeReceivedName(name) || entry.size < 0)
            return CMD_CANNOT_CREATE;
        m_receivedNames.push_back(storedReceivedName(name));
        total += entry.size;
    }
    if (count == 0)
        return CMD_CANNOT_CREATE;
    m_state.TransferTotalBytes = total;

    m_destDirFd.reset(
        ::open(m_transferSettings.destDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_destDirFd || ::faccessat(m_destDirFd.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return CMD_CANNOT_CREATE;
    if (!m_transferSettings.overwriteFiles) {
        for (const std::string& name : m_receivedNames)
            if (nameExists(m_destDirFd.get(), name))
                return CMD_NAME_CONFLICT;
    }
    const int64_t available = freeBytes(m_destDirFd.get());
    if (available >= 0 && available < total)
        return CMD_NO_SPACE;
    return CMD_OK;
}

void Engine::serveOpenFile(LinkKind link) {
    uint8_t index;
    if (!receiveBytes(link, &index, 1))
        return;
    if (!m_tableAccepted || index >= m_state.TransferFileCount)
        return; // no table, or no such entry: no answer
    if (m_currentFile && link == LinkKind::Socket) {
        sendReply(link, CMD_ACCEPTED); // a repeated open changes nothing
        return;
    }
    m_currentFile.reset();
    const TransferEntry entry = DecodeTransferEntry(m_receiveTable.data() + index * kEntrySize);
    const int32_t blockSize = m_state.BlockSize;
    m_state.TransferIndex = index;
    m_state.BlocksDone = 0;
    m_state.CurrentFileSize = entry.size;
    m_state.FileBlocks = FileBlocks(link, entry.size, blockSize);
    const std::string& name = m_receivedNames[index];
    m_events.fileStarted(name);
    m_currentFile = ReceivedFile::create(m_destDirFd.get(), name, entry.size, m_state.FileBlocks);
    if (!m_currentFile) {
        sendReply(link, CMD_CANNOT_CREATE);
        m_events.closeStatusDialog();
        m_state.AbortFlag = 1;
        return;
    }
    sendReply(link, link == LinkKind::Socket ? CMD_ACCEPTED : CMD_OK);
}

void Engine::serveCloseFile(LinkKind link) {
    if (m_currentFile) {
        const std::string name = m_currentFile->name();
        // Replacing is allowed with the preference on, or over a file this
        // same transfer wrote (two entries with one name: the later wins).
        const bool replace =
            m_transferSettings.overwriteFiles ||
            std::find(m_namesWritten.begin(), m_namesWritten.end(), name) != m_namesWritten.end();
        if (m_currentFile->commit(replace)) {
            m_state.FilesDone += 1;
            m_namesWritten.push_back(name);
        }
        m_currentFile.reset();
    }
    sendReply(link, CMD_OK);
    if (m_tableAccepted && m_state.TransferIndex == m_state.TransferFileCount - 1) {
        m_events.closeStatusDialog();
        m_receiveAnnounced = false;
        m_state.AbortFlag = 0;
        if (link == LinkKind::Serial) {
            endReceive();
        } else {
            m_tableAccepted = false;
            moveLinkState(LinkState::Listening);
        }
    }
}

void Engine::serveAbort(LinkKind link) {
    m_state.AbortFlag = 1;
    sendReply(link, CMD_ACCEPTED);
    m_events.closeStatusDialog();
    m_receiveAnnounced = false;
    m_events.playSound(Sound::Interrupted);
    if (link == LinkKind::Serial)
        endReceive();
}

void Engine::serveNameRequest(LinkKind link) {
    std::array<char, kNameBlockSize> block{};
    const std::string owner = settings().ownerName;
    std::memcpy(block.data(), owner.data(), std::min(owner.size(), kNameBlockSize - 1));
    sendBytes(link, block.data(), block.size());
}

void Engine::serveNameFollows(LinkKind link) {
    std::array<char, kNameBlockSize> block{};
    if (receiveBytes(link, block.data(), block.size()))
        m_peerName = block;
}

void Engine::endReceive() {
    const bool aborted = m_state.AbortFlag != 0;
    m_currentFile.reset(); // an unfinished file never reaches its final name
    m_tableAccepted = false;
    if (m_destDirFd && !m_namesWritten.empty())
        ::fsync(m_destDirFd.get()); // makes the renames of this transfer durable
    m_destDirFd.reset();
    {
        std::lock_guard lock(m_outcomeMutex);
        m_lastReceive.aborted = aborted;
        m_lastReceive.filesDone = m_state.FilesDone;
        m_lastReceive.fileCount = m_state.TransferFileCount;
    }
    if (m_receiveAnnounced) {
        // The receive dialog is still up for a transfer that ended early.
        m_events.closeStatusDialog();
        m_receiveAnnounced = false;
    }
    LinkState link = m_state.LinkState;
    if (link == LinkState::Connected || link == LinkState::Receiving)
        m_state.LinkState.compare_exchange_strong(link, LinkState::Listening);
    if (linkKindOf(m_state.CommType) == LinkKind::Socket)
        dropDataSocket();
}

} // namespace zapfer
