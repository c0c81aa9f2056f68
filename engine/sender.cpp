#include "sender.h"

#include "engine_events.h"
#include "protocol.h"
#include "sender_common.h"
#include "unique_fd.h"

#include <chrono>

namespace zapfer {

Sender::Sender(TransferId id, Link& link, EngineState& state, EngineEvents& events, Waker& waker,
               const std::atomic<bool>& stopping)
    : m_id(id), m_link(link), m_state(state), m_events(events), m_waker(waker),
      m_stopping(stopping), m_traits(link.traits()), m_buffer(65536 + kBlockHeaderSize) {}

SendOutcome Sender::run(const std::vector<SendFile>& files, std::span<const uint8_t> table) {
    // Whatever a previous exchange left unread would be taken for a reply.
    if (m_traits.dialect == Dialect::Stream)
        m_link.drainInput();
    m_sent.assign(files.size(), false);
    m_files.clear();
    for (const SendFile& file : files)
        m_files.push_back({file.path, {}, file.size, 0, FileResult::NotReached, std::nullopt});
    m_state.BytesDone = 0;
    m_state.TransferIndex = -1;
    const int count = int(files.size());
    bool completed = false;
    if (tableExchange(table)) {
        int index = 0;
        for (; index < count && !aborted(); ++index) {
            m_state.TransferIndex = index;
            sendFile(index, files[size_t(index)]);
            m_events.fileEnded(m_id, m_files[size_t(index)]);
        }
        completed = index == count && !aborted();
    }
    if (!completed)
        abortExchange();

    SendOutcome outcome;
    outcome.id = m_id;
    outcome.peerError = m_state.PeerError;
    outcome.failure = m_state.SendFailure;
    outcome.aborted = !completed;
    outcome.transferIndex = completed ? count : m_state.TransferIndex.load();
    outcome.filesDone = m_state.FilesDone;
    outcome.fileCount = count;
    outcome.sent = m_sent;
    outcome.files = m_files;
    return outcome;
}

bool Sender::sendMessage(std::span<const uint8_t> bytes, std::initializer_list<size_t> pieces) {
    if (m_traits.dialect == Dialect::Stream)
        return m_link.sendAll(bytes);
    // A serial line takes a message in its pieces, as the peer reads it.
    size_t at = 0;
    for (const size_t piece : pieces) {
        if (!m_link.sendAll(bytes.subspan(at, piece)))
            return false;
        at += piece;
    }
    return at == bytes.size() || m_link.sendAll(bytes.subspan(at));
}

bool Sender::tableExchange(std::span<const uint8_t> table) {
    const size_t length = BuildFileTableMessage(table, m_buffer);
    const std::span<const uint8_t> message(m_buffer.data(), length);
    while (!aborted()) {
        const bool sent = sendMessage(message, {kFrameSize, kTableHeaderSize - kFrameSize});
        if (!sent && m_traits.dialect == Dialect::Stream)
            continue;
        m_waker.pause(m_traits.commandWaitMs);
        const uint8_t reply = receiveCommand(m_link);
        if (reply == CMD_OK)
            return true;
        // A refusal ends the send; CMD_BAD_TABLE, garbage or silence sends it again.
        takeRefusal(reply);
    }
    return false;
}

void Sender::sendFile(int index, const SendFile& file) {
    m_state.BlocksDone = 0;
    m_state.CurrentFileSize = file.size;
    m_state.FileBlocks = FileBlocks(m_traits.dialect, file.size, m_traits.blockSize);
    FileOutcome& outcome = m_files[size_t(index)];
    // A file that cannot be read now is opened and closed on the peer with no
    // blocks: the peer drops it for its missing blocks and the send goes on
    // without counting it.
    UniqueFd source = openForSending(file.path);
    if (!source && !announceUnreadable(index)) {
        outcome.result = aborted() ? FileResult::Aborted : FileResult::SkippedUnreadable;
        return;
    }
    if (!openOnPeer(index)) {
        outcome.result = m_state.PeerError != PeerNoError ? FileResult::Refused
                         : aborted()                      ? FileResult::Aborted
                                                          : FileResult::Failed;
        return;
    }
    m_events.fileStarting(m_id, FileNamePart(file.path));
    const int64_t bytesBefore = m_state.BytesDone;

    bool sent = false;
    WholeFileCrc fileCrc(m_state.FileBlocks);
    if (source) {
        sent =
            m_traits.dialect == Dialect::Stream
                ? pumpPipelined(m_link, m_state, m_waker, source.get(), file.size, m_buffer,
                                fileCrc)
                : pumpPaced(m_link, m_state, m_waker, source.get(), file.size, m_buffer, fileCrc);
        // Of what was read, whether or not the peer kept it.
        outcome.crc32 = fileCrc.value();
    }
    source.reset();
    const bool unreadable = !sent && !aborted();
    if (unreadable && file.size == 0 && m_traits.dialect == Dialect::Stream) {
        // Complete the moment it is opened, an empty file would be kept at
        // its close: the abort exchange drops it instead, and the peer keeps
        // the files before it.
        abortExchange();
        outcome.result = FileResult::SkippedUnreadable;
        return;
    }
    closeOnPeer(index, sent && !aborted());
    outcome.bytesDone = m_state.BytesDone - bytesBefore;
    outcome.result = m_sent[size_t(index)] ? FileResult::Sent
                     : unreadable          ? FileResult::SkippedUnreadable
                     : aborted()           ? FileResult::Aborted
                                           : FileResult::Failed;
}

bool Sender::announceUnreadable(int index) const {
    // An empty file has no block to leave missing on a stream. The peer's
    // transfer ends at the close of its last entry, so only that one must
    // still be opened; any other is left out, as a serial line leaves out an
    // entry whose open went unanswered.
    return m_traits.dialect == Dialect::Line || m_files[size_t(index)].size > 0 ||
           size_t(index) + 1 == m_files.size();
}

bool Sender::openOnPeer(int index) {
    const auto open = BuildOpenMessage(uint8_t(index));
    if (m_traits.dialect == Dialect::Stream) {
        // Repeated until the peer takes it or refuses.
        for (;;) {
            if (aborted())
                return false;
            if (!m_link.sendAll(open))
                continue;
            const uint8_t reply = receiveCommand(m_link);
            if (reply == CMD_ACCEPTED)
                return true;
            if (takeRefusal(reply))
                return false;
        }
    }
    // A serial line asks once; no answer skips the entry.
    sendMessage(open, {kFrameSize});
    m_waker.pause(m_traits.commandWaitMs);
    switch (receiveCommand(m_link)) {
    case CMD_OK:
        return true;
    case CMD_CANNOT_CREATE:
        takeRefusal(CMD_CANNOT_CREATE);
        return false;
    case CMD_ABORT: // the receiving side has stopped
        m_state.AbortFlag = 1;
        return false;
    default:
        return false;
    }
}

void Sender::closeOnPeer(int index, bool sent) {
    while (!aborted()) {
        if (!sendCommand(m_link, CMD_CLOSE_FILE) && m_traits.dialect == Dialect::Stream)
            continue;
        m_waker.pause(m_traits.closeWaitMs);
        const uint8_t reply = receiveCommand(m_link);
        if (reply == CMD_OK) {
            // The peer keeps a file at its close: only then has it gone through.
            if (sent) {
                m_state.FilesDone += 1;
                m_sent[size_t(index)] = true;
            }
            return;
        }
        if (reply == CMD_ABORT)
            m_state.AbortFlag = 1;
        // The peer could not keep this file (it could not be committed): it
        // is not sent, and the send goes on with the next one, as after a
        // file that could not be read here.
        if (reply == CMD_CANNOT_CREATE)
            return;
    }
}

void Sender::abortExchange() {
    // Told on the link itself, so that the peer stops at once; at shutdown
    // the peer is told once, without waiting out every retry.
    const bool stream = m_traits.dialect == Dialect::Stream;
    for (int attempt = 0; attempt < 20 && m_link.alive() && (attempt == 0 || !m_stopping);
         ++attempt) {
        if (!sendCommand(m_link, CMD_ABORT, IoMode::EvenWhenAborting) && stream)
            break;
        m_waker.pause(m_traits.abortWaitMs);
        // On a stream the replies to blocks still in flight come before the
        // answer to the abort. They are read past rather than taken for an
        // unanswered abort: twenty of them would otherwise end the exchange
        // and close the connection with them unread, and the reset that
        // closing sends can throw the abort away before the peer reads it.
        uint8_t reply = 0;
        for (int read = 0; read < 4096; ++read) {
            const auto before = std::chrono::steady_clock::now();
            reply = receiveCommand(m_link, stream ? 50 : 0, IoMode::EvenWhenAborting);
            // Silence, not a stale reply: the abort is sent again.
            if (reply == CMD_ACCEPTED || !stream ||
                std::chrono::steady_clock::now() - before >= std::chrono::milliseconds(50))
                break;
        }
        if (reply == CMD_ACCEPTED)
            break;
    }
}

bool Sender::takeRefusal(uint8_t reply) {
    const int32_t refusal = refusalOf(reply);
    if (refusal == PeerNoError)
        return false;
    m_state.PeerError = refusal;
    m_state.AbortFlag = 1;
    return true;
}

} // namespace zapfer
