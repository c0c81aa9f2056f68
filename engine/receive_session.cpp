// Cutting the byte stream into the protocol's messages, with each dialect's
// recovery from bytes that are out of step, and the time limits of a message
// left half-sent.

#include "receive_session.h"

#include "protocol.h"

#include <algorithm>

namespace zapfer {

namespace {
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
// A serial read ends 1000 + n ms after it began, whatever the gaps.
constexpr int64_t kLineReadBaseMs = 1000;
// On a stream what follows a command frame must also be complete within 2 s
// plus its length at 10 KiB/s, so that a peer trickling a byte now and then,
// each within the silence limit, cannot hold the receiver.
constexpr int64_t kStreamMessageBaseMs = 2000;
constexpr int64_t kStreamSlowestBytesPerS = 10 * 1024;
} // namespace

ReceiveSession::ReceiveSession(const LinkTraits& traits, TransferCounters& counters,
                               SessionObserver& observer, ReplySink& sink)
    : m_traits(traits), m_counters(counters), m_observer(observer), m_sink(sink) {}

ReceiveSession::~ReceiveSession() {
    m_file.reset(); // never renamed onto its final name
}

size_t ReceiveSession::need() const {
    switch (m_step) {
    case Step::Command:
        return kFrameSize;
    case Step::TableHeader:
        return 5;
    case Step::OpenIndex:
        return 1;
    case Step::StreamBlockHeader:
        return 8;
    case Step::LineBlockIndex:
    case Step::LineBlockCrc:
        return 4;
    case Step::NameBlock:
        return kNameBlockSize;
    case Step::FrameCompletion:
    case Step::TableEntries:
    case Step::BlockData:
    case Step::Ignored:
        return m_stepBytes;
    }
    return 0;
}

void ReceiveSession::feed(std::span<const uint8_t> bytes, int64_t nowMs) {
    const bool stream = m_traits.dialect == Dialect::Stream;
    // Bytes that come after their message's time is over do not complete it.
    if (stream && nowMs >= m_deadline)
        tick(nowMs);
    if (m_linkEnded || m_peerRefused)
        return;
    m_nowMs = nowMs;
    if (!bytes.empty())
        m_lastByteMs = nowMs;
    std::vector<uint8_t> piece;
    while (!m_linkEnded && !m_peerRefused) {
        const size_t n = need();
        if (!m_pending.empty()) {
            // Complete the piece begun by an earlier feed.
            const size_t take = std::min(n - m_pending.size(), bytes.size());
            m_pending.insert(m_pending.end(), bytes.begin(), bytes.begin() + long(take));
            bytes = bytes.subspan(take);
            if (m_pending.size() < n)
                break;
            piece.swap(m_pending);
            m_pending.clear();
            const bool purgedBefore = m_purged;
            finishStep(piece.data(), nowMs);
            piece.clear();
            if (m_purged && !purgedBefore)
                bytes = {};
        } else if (bytes.size() >= n) {
            // The common case: the whole piece is in this feed, taken in place.
            if (m_step == Step::Command)
                m_frameStartMs = nowMs;
            const uint8_t* at = bytes.data();
            bytes = bytes.subspan(n);
            const bool purgedBefore = m_purged;
            finishStep(at, nowMs);
            if (m_purged && !purgedBefore)
                bytes = {};
        } else {
            if (m_step == Step::Command)
                m_frameStartMs = nowMs;
            m_pending.assign(bytes.begin(), bytes.end());
            break;
        }
        m_purged = false;
    }
    m_purged = false;
    updateDeadline();
}

void ReceiveSession::tick(int64_t nowMs) {
    if (m_deadline == kNever || nowMs < m_deadline)
        return;
    giveUpStep();
    updateDeadline();
}

void ReceiveSession::updateDeadline() {
    if (m_step == Step::Command && m_pending.empty()) {
        m_deadline = kNever;
        return;
    }
    const int64_t from = std::max(m_lastByteMs, m_stepStartMs);
    if (m_traits.dialect == Dialect::Stream) {
        m_deadline = from + m_traits.silenceLimitMs;
        if (m_step != Step::Command && m_step != Step::FrameCompletion)
            m_deadline =
                std::min(m_deadline, m_messageStartMs + kStreamMessageBaseMs +
                                         int64_t(m_messageBytes) * 1000 / kStreamSlowestBytesPerS);
        return;
    }
    const int64_t total = m_stepStartMs + kLineReadBaseMs + int64_t(need());
    m_deadline = m_pending.empty() ? total : std::min(total, from + m_traits.silenceLimitMs);
}

int64_t ReceiveSession::messageDeadline() const {
    if (m_traits.dialect != Dialect::Stream || !midMessage())
        return kNever;
    const bool inFrame = m_step == Step::Command || m_step == Step::FrameCompletion;
    const int64_t start = inFrame ? m_frameStartMs : m_messageFirstByteMs;
    const size_t bytes = kFrameSize + (inFrame ? 0 : m_messageBytes);
    return start + kStreamMessageBaseMs + int64_t(bytes) * 1000 / kStreamSlowestBytesPerS;
}

void ReceiveSession::startStep(Step step, size_t bytes, int64_t nowMs) {
    m_step = step;
    m_stepBytes = bytes;
    m_stepStartMs = nowMs;
    m_messageBytes += need();
    static const uint8_t nothing = 0; // never null: a CRC of no bytes needs a buffer
    if (need() == 0)                  // nothing more to read: served at once
        finishStep(&nothing, nowMs);
}

void ReceiveSession::purge() {
    m_sink.discardInput();
    m_pending.clear();
    m_purged = true;
}

// A message stopped half-way for longer than the link's read time-out: what
// the responder does when a read comes back short.
void ReceiveSession::giveUpStep() {
    const Step step = m_step;
    m_pending.clear();
    m_step = Step::Command;
    m_stepStartMs = m_lastByteMs;
    if (m_traits.dialect == Dialect::Stream && step != Step::Command &&
        step != Step::FrameCompletion) {
        // A stream loses no bytes: a message that stopped half-way cannot be
        // realigned, or the rest of its data (a file's content) would be read
        // as commands. The connection ends; the partial file goes with it.
        m_linkEnded = true;
        m_observer.abortTransfer();
        return;
    }
    switch (step) {
    case Step::TableHeader:
    case Step::TableEntries:
        sendCode(CMD_BAD_TABLE);
        break;
    case Step::OpenIndex:
        if (m_stopped)
            sendCode(CMD_ABORT);
        break;
    case Step::BlockData:
        serveBlockData(nullptr, false);
        break;
    default:
        break; // a frame, a block header, a name or dropped arguments: no answer
    }
}

void ReceiveSession::finishStep(const uint8_t* bytes, int64_t nowMs) {
    const Step step = m_step;
    m_step = Step::Command;
    m_stepStartMs = nowMs;
    switch (step) {
    case Step::Command:
        frame(bytes, nowMs);
        break;
    case Step::FrameCompletion: {
        uint8_t completed[kFrameSize];
        const size_t kept = kFrameSize - m_stepBytes;
        std::copy_n(m_frame.begin() + long(m_frame.size() - kept), kept, completed);
        std::copy_n(bytes, m_stepBytes, completed + kept);
        if (const uint8_t code = FrameCommand(completed))
            command(code, nowMs);
        break;
    }
    case Step::TableHeader:
        m_tableCount = bytes[0];
        m_tableCrc = getLe32(bytes + 1);
        startStep(Step::TableEntries, size_t(m_tableCount) * kEntrySize, nowMs);
        break;
    case Step::TableEntries:
        serveTable(bytes);
        break;
    case Step::OpenIndex:
        if (m_stopped)
            sendCode(CMD_ABORT);
        else
            serveOpen(bytes[0]);
        break;
    case Step::StreamBlockHeader:
        serveBlockHeader(int32_t(getLe32(bytes)), getLe32(bytes + 4), nowMs);
        break;
    case Step::LineBlockIndex:
        m_blockIndex = int32_t(getLe32(bytes));
        if (m_traits.crcWaitMs > 0)
            m_sink.pace(m_traits.crcWaitMs);
        startStep(Step::LineBlockCrc, 4, nowMs);
        break;
    case Step::LineBlockCrc:
        serveBlockHeader(m_blockIndex, getLe32(bytes), nowMs);
        break;
    case Step::BlockData:
        serveBlockData(bytes, true);
        break;
    case Step::NameBlock: {
        const auto* text = reinterpret_cast<const char*>(bytes);
        m_observer.peerNamed(std::string(text, std::find(text, text + kNameBlockSize, '\0')));
        break;
    }
    case Step::Ignored:
        break;
    }
}

void ReceiveSession::frame(const uint8_t* b, int64_t nowMs) {
    if (const uint8_t code = FrameCommand(b)) {
        command(code, nowMs);
        return;
    }
    std::copy_n(b, kFrameSize, m_frame.begin());
    if (m_traits.dialect == Dialect::Line) {
        // A garbled frame that holds a marker: start clean with the next one.
        if (std::any_of(b, b + kFrameSize,
                        [](uint8_t byte) { return byte == kFrameMarker || byte == kFrameEnd; }))
            purge();
        return;
    }
    // A stream that started 3, 1 or 2 bytes into a frame: the frame is
    // completed from the bytes that follow.
    if (b[2] == kFrameMarker && b[1] == b[3])
        startStep(Step::FrameCompletion, 1, nowMs);
    else if (b[0] == kFrameMarker && b[2] == kFrameEnd)
        startStep(Step::FrameCompletion, 3, nowMs);
    else if (b[1] == kFrameEnd && b[3] == kFrameMarker)
        startStep(Step::FrameCompletion, 2, nowMs);
}

void ReceiveSession::command(uint8_t code, int64_t nowMs) {
    m_lastCommandMs = nowMs;
    m_messageFirstByteMs = std::min(m_frameStartMs, nowMs);
    m_messageStartMs = nowMs; // what follows the frame is timed from here
    m_messageBytes = 0;
    const bool line = m_traits.dialect == Dialect::Line;
    switch (code) {
    case CMD_FILE_TABLE:
        m_lastTableMs = nowMs;
        m_stopped = false;
        m_file.reset(); // a new table replaces whatever was in progress
        m_tableAccepted = false;
        startStep(Step::TableHeader, 5, nowMs);
        break;
    case CMD_OPEN_FILE:
        startStep(Step::OpenIndex, 1, nowMs);
        break;
    case CMD_BLOCK:
        startStep(line ? Step::LineBlockIndex : Step::StreamBlockHeader, line ? 4 : 8, nowMs);
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
    case CMD_NAME_FOLLOWS:
        startStep(Step::NameBlock, kNameBlockSize, nowMs);
        break;
    // The read service would hand any file of this machine to whoever names
    // it in a table: on a serial line its arguments are read and dropped, and
    // nothing is ever answered.
    case CMD_OPEN_READ:
        if (line)
            startStep(Step::Ignored, 1, nowMs);
        break;
    case CMD_READ_BLOCK:
        if (line)
            startStep(Step::Ignored, 4, nowMs);
        break;
    default:
        break; // CMD_KEEPALIVE, CMD_CLOSE_READ or an unknown code: no answer
    }
}

} // namespace zapfer
