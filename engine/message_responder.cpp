// What each message does to the receive, and its answer.

#include "message_responder.h"

#include "protocol.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zapfer {

namespace {

void sendNameBlock(const ReceiveContext& context) {
    std::array<uint8_t, kNameBlockSize> block{};
    const std::string owner = context.observer.policy().ownerName;
    std::memcpy(block.data(), owner.data(), std::min(owner.size(), kNameBlockSize - 1));
    context.sink.reply(block);
}

} // namespace

void MessageResponder::command(uint8_t code) {
    // Whatever follows answers after the blocks before it.
    if (code != CMD_BLOCK)
        m_file.storeRun();
    switch (code) {
    case CMD_FILE_TABLE:
        m_context.lastTableMs = m_context.nowMs;
        m_stopped = false;
        m_file.close(); // a new table replaces whatever was in progress
        m_table.endTable();
        break;
    case CMD_CLOSE_FILE:
        if (m_stopped)
            m_context.sendCode(CMD_ABORT);
        else
            serveClose();
        break;
    case CMD_ABORT:
        m_stopped = false;
        serveAbort();
        break;
    case CMD_PING:
        m_context.sendCode(CMD_PING_REPLY);
        break;
    case CMD_CONNECT:
        if (!m_context.stream()) {
            serveConnect();
        } else {
            m_context.sendCode(CMD_ACCEPTED);
            m_context.observer.sound(Sound::LinkUp);
        }
        break;
    case CMD_NAME_REQUEST:
        sendNameBlock(m_context);
        break;
    default:
        break; // its arguments follow, or it has no answer
    }
}

void MessageResponder::table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) {
    m_file.storeRun();
    if (CheckFileTable(count, crc, entries) != TableCheck::Valid) {
        m_context.sendCode(CMD_BAD_TABLE);
        return;
    }
    m_table.begin(count);

    // On a serial line even a table that is refused is shown.
    const bool line = !m_context.stream();
    if (line && !m_announced) {
        m_announced = true;
        m_context.observer.incoming();
    }
    const uint8_t answer = m_table.check(entries);
    if (answer != CMD_OK) {
        m_table.refuse(answer);
        m_context.sendCode(answer);
        return;
    }
    m_table.accept();
    m_context.progressed();
    m_context.sendCode(CMD_OK);
    if (!line && !m_announced) {
        m_announced = true;
        m_context.observer.incoming();
    }
}

void MessageResponder::open(uint8_t index) {
    m_file.storeRun();
    if (m_stopped) {
        m_context.sendCode(CMD_ABORT);
        return;
    }
    const FileOutcome* entry = m_table.entry(index);
    if (!entry)
        return; // no table, or no such entry: no answer
    const bool stream = m_context.stream();
    if (m_file.isOpen() && stream) {
        m_context.sendCode(CMD_ACCEPTED); // a repeated open changes nothing
        return;
    }
    if (!m_file.open(m_table.destDir(), index, *entry)) {
        m_context.sendCode(CMD_CANNOT_CREATE);
        m_context.observer.closeStatus();
        m_context.observer.abortTransfer();
        return;
    }
    m_context.progressed();
    m_context.sendCode(stream ? CMD_ACCEPTED : CMD_OK);
}

std::optional<size_t> MessageResponder::blockHeader(int32_t index, uint32_t crc) {
    const std::optional<size_t> length = m_file.blockHeader(index, crc, m_stopped);
    if (!length) {
        m_parser.purge();
        blockData({}, false);
    }
    return length;
}

void MessageResponder::blockData(std::span<const uint8_t> data, bool arrived) {
    m_file.blockData(data, arrived, m_stopped);
}

void MessageResponder::name(std::string name) {
    m_file.storeRun();
    m_context.observer.peerNamed(name);
}

void MessageResponder::unfinished(Unfinished message) {
    m_file.storeRun();
    switch (message) {
    case Unfinished::StreamMessage:
        // The partial file goes with the connection.
        m_linkEnded = true;
        m_context.observer.abortTransfer();
        break;
    case Unfinished::Table:
        m_context.sendCode(CMD_BAD_TABLE);
        break;
    case Unfinished::Open:
        if (m_stopped)
            m_context.sendCode(CMD_ABORT);
        break;
    case Unfinished::Block:
        blockData({}, false);
        break;
    }
}

void MessageResponder::serveClose() {
    uint8_t closeAnswer = CMD_OK;
    TransferCounters& counters = m_context.counters;
    if (ReceivedFile* file = m_file.file()) {
        m_context.progressed();
        // A whole file that cannot be kept (its name taken meanwhile, the
        // disk failing) is not the sender's success: it hears so. A file
        // closed with blocks missing is one the sender gave up itself.
        const bool whole = file->complete();
        const bool kept = m_table.keep(*file);
        closeAnswer = kept || !whole ? CMD_OK : CMD_CANNOT_CREATE;
        m_table.fileEnded(counters.TransferIndex, kept, *file, m_file.crc(), m_file.bytesStored());
        m_file.close();
    }
    m_context.sendCode(closeAnswer);
    if (m_table.accepted() && counters.TransferIndex == counters.TransferFileCount - 1) {
        m_context.observer.closeStatus();
        m_announced = false;
        m_context.observer.transferComplete();
        if (!m_context.stream())
            end(false);
        else
            m_table.endTable();
    }
}

void MessageResponder::serveAbort() {
    m_context.observer.abortTransfer();
    m_peerAborted = true;
    m_context.sendCode(CMD_ACCEPTED);
    m_context.observer.closeStatus();
    m_announced = false;
    m_context.observer.sound(Sound::Interrupted);
    if (!m_context.stream())
        end(true);
}

void MessageResponder::serveConnect() {
    // A new link ends whatever the previous one left unfinished.
    if (m_file.isOpen() || m_table.accepted()) {
        m_context.observer.abortTransfer();
        end(true);
    } else if (m_announced) {
        end(false); // a refused table's receive dialog
    }
    m_stopped = false;
    m_peerAborted = false;
    m_context.observer.linkRequested();
    m_context.sendCode(CMD_ACCEPTED);
    m_context.observer.sound(Sound::LinkUp);
}

void MessageResponder::stopByUser() {
    m_stopped = true;
    end(true);
}

void MessageResponder::end(bool aborted) {
    m_file.close(); // an unfinished file never reaches its final name
    const ReceiveOutcome outcome = m_table.finish(aborted, m_file.bytesStored());
    m_context.observer.receiveEnded(outcome);
    if (m_announced) {
        // The receive dialog is still up for a transfer that ended early.
        m_context.observer.closeStatus();
        m_announced = false;
    }
}

} // namespace zapfer
