#include "message_parser.h"

#include "protocol.h"

#include <algorithm>
#include <cstring>

namespace zapfer {

namespace {
// How many bytes at the front of `bytes` are whole frames that the dialect
// ignores: a frame is a command, the start of a realignment (a stream) or a
// reason to purge (a serial line) only when it holds a marker, and on a
// serial line an end byte. Between messages a peer out of step may send long
// runs of such frames; they are passed over with one scan instead of frame by
// frame.
size_t ignoredFrames(Dialect dialect, std::span<const uint8_t> bytes) {
    if (bytes.size() < kFrameSize) // nothing whole; an empty span may have no data
        return 0;
    const auto* start = bytes.data();
    const auto* marker =
        static_cast<const uint8_t*>(std::memchr(start, kFrameMarker, bytes.size()));
    size_t first = marker ? size_t(marker - start) : bytes.size();
    if (dialect == Dialect::Line) {
        const auto* end = static_cast<const uint8_t*>(std::memchr(start, kFrameEnd, first));
        if (end)
            first = size_t(end - start);
    }
    return first - first % kFrameSize;
}
} // namespace

MessageParser::MessageParser(const LinkTraits& traits, MessageHandler& handler, ReplySink& sink)
    : m_traits(traits), m_handler(handler), m_sink(sink), m_clock(traits) {}

size_t MessageParser::need() const {
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

void MessageParser::feed(std::span<const uint8_t> bytes, int64_t nowMs) {
    // Bytes that come after their message's time is over do not complete it.
    if (m_traits.dialect == Dialect::Stream && nowMs >= m_clock.deadline())
        tick(nowMs);
    if (!m_handler.reading())
        return;
    if (!bytes.empty())
        m_clock.byteArrived(nowMs);
    while (m_handler.reading()) {
        if (m_step == Step::Command && m_pending.empty()) {
            // What serving the ignored frames one by one would leave behind.
            if (const size_t ignored = ignoredFrames(m_traits.dialect, bytes)) {
                std::copy_n(bytes.begin() + long(ignored - kFrameSize), kFrameSize,
                            m_held.frame.begin());
                m_clock.frameBegun(nowMs);
                m_clock.stepBegun(nowMs, 0);
                bytes = bytes.subspan(ignored);
            }
        }
        const size_t n = need();
        if (!m_pending.empty()) {
            // Complete the piece begun by an earlier feed.
            const size_t take = std::min(n - m_pending.size(), bytes.size());
            m_pending.insert(m_pending.end(), bytes.begin(), bytes.begin() + long(take));
            bytes = bytes.subspan(take);
            if (m_pending.size() < n)
                break;
            // Served from a second buffer, so that serving may purge; both
            // keep their capacity, so a block that arrives in many small
            // reads costs no allocation after the first.
            m_piece.swap(m_pending);
            m_pending.clear();
            const bool purgedBefore = m_purged;
            finishStep(m_piece.data(), nowMs);
            m_piece.clear();
            if (m_purged && !purgedBefore)
                bytes = {};
        } else if (bytes.size() >= n) {
            // The common case: the whole piece is in this feed, taken in place.
            if (m_step == Step::Command)
                m_clock.frameBegun(nowMs);
            const uint8_t* at = bytes.data();
            bytes = bytes.subspan(n);
            const bool purgedBefore = m_purged;
            finishStep(at, nowMs);
            if (m_purged && !purgedBefore)
                bytes = {};
        } else {
            if (m_step == Step::Command)
                m_clock.frameBegun(nowMs);
            m_pending.assign(bytes.begin(), bytes.end());
            break;
        }
        m_purged = false;
    }
    m_purged = false;
    m_handler.inputServed(); // before the next feed reuses the piece buffers
    m_clock.update(!midMessage(), inFrame(), need(), m_pending.size());
}

void MessageParser::tick(int64_t nowMs) {
    if (m_clock.deadline() == MessageClock::kNever || nowMs < m_clock.deadline())
        return;
    giveUpStep();
    m_clock.update(!midMessage(), inFrame(), need(), m_pending.size());
}

int64_t MessageParser::messageDeadline() const {
    if (m_traits.dialect != Dialect::Stream || !midMessage())
        return MessageClock::kNever;
    return m_clock.messageDeadline(inFrame());
}

void MessageParser::startStep(Step step, size_t bytes, int64_t nowMs) {
    m_step = step;
    m_stepBytes = bytes;
    m_clock.stepBegun(nowMs, need());
    static const uint8_t nothing = 0; // never null: a CRC of no bytes needs a buffer
    if (need() == 0)                  // nothing more to read: served at once
        finishStep(&nothing, nowMs);
}

void MessageParser::purge() {
    m_sink.discardInput();
    m_pending.clear();
    m_purged = true;
}

// A message stopped half-way for longer than the link's read time-out: what
// the responder does when a read comes back short.
void MessageParser::giveUpStep() {
    const Step step = m_step;
    m_pending.clear();
    m_step = Step::Command;
    m_clock.stepGivenUp();
    if (m_traits.dialect == Dialect::Stream && step != Step::Command &&
        step != Step::FrameCompletion) {
        m_handler.unfinished(Unfinished::StreamMessage);
        return;
    }
    switch (step) {
    case Step::TableHeader:
    case Step::TableEntries:
        m_handler.unfinished(Unfinished::Table);
        break;
    case Step::OpenIndex:
        m_handler.unfinished(Unfinished::Open);
        break;
    case Step::BlockData:
        m_handler.unfinished(Unfinished::Block);
        break;
    default:
        break; // a frame, a block header, a name or dropped arguments: no answer
    }
}

void MessageParser::finishStep(const uint8_t* bytes, int64_t nowMs) {
    const Step step = m_step;
    m_step = Step::Command;
    m_clock.stepBegun(nowMs, 0);
    switch (step) {
    case Step::Command:
        frame(bytes, nowMs);
        break;
    case Step::FrameCompletion: {
        uint8_t completed[kFrameSize];
        const size_t kept = kFrameSize - m_stepBytes;
        std::copy_n(m_held.frame.begin() + long(m_held.frame.size() - kept), kept, completed);
        std::copy_n(bytes, m_stepBytes, completed + kept);
        if (const uint8_t code = FrameCommand(completed))
            command(code, nowMs);
        break;
    }
    case Step::TableHeader:
        m_held.tableCount = bytes[0];
        m_held.tableCrc = getLe32(bytes + 1);
        startStep(Step::TableEntries, size_t(m_held.tableCount) * kEntrySize, nowMs);
        break;
    case Step::TableEntries:
        m_handler.table(m_held.tableCount, m_held.tableCrc, {bytes, m_stepBytes});
        break;
    case Step::OpenIndex:
        m_handler.open(bytes[0]);
        break;
    case Step::StreamBlockHeader:
        if (const std::optional<size_t> length =
                m_handler.blockHeader(int32_t(getLe32(bytes)), getLe32(bytes + 4)))
            startStep(Step::BlockData, *length, nowMs);
        break;
    case Step::LineBlockIndex:
        m_held.lineBlockIndex = int32_t(getLe32(bytes));
        if (m_traits.crcWaitMs > 0)
            m_sink.pace(m_traits.crcWaitMs);
        startStep(Step::LineBlockCrc, 4, nowMs);
        break;
    case Step::LineBlockCrc:
        if (const std::optional<size_t> length =
                m_handler.blockHeader(m_held.lineBlockIndex, getLe32(bytes)))
            startStep(Step::BlockData, *length, nowMs);
        break;
    case Step::BlockData:
        m_handler.blockData({bytes, m_stepBytes}, true);
        break;
    case Step::NameBlock: {
        const auto* text = reinterpret_cast<const char*>(bytes);
        m_handler.name(std::string(text, std::find(text, text + kNameBlockSize, '\0')));
        break;
    }
    case Step::Ignored:
        break;
    }
}

void MessageParser::frame(const uint8_t* b, int64_t nowMs) {
    if (const uint8_t code = FrameCommand(b)) {
        command(code, nowMs);
        return;
    }
    std::copy_n(b, kFrameSize, m_held.frame.begin());
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

// The command is served first; then the arguments it takes are read.
void MessageParser::command(uint8_t code, int64_t nowMs) {
    m_clock.commandRead(nowMs);
    m_handler.command(code);
    const bool line = m_traits.dialect == Dialect::Line;
    switch (code) {
    case CMD_FILE_TABLE:
        startStep(Step::TableHeader, 5, nowMs);
        break;
    case CMD_OPEN_FILE:
        startStep(Step::OpenIndex, 1, nowMs);
        break;
    case CMD_BLOCK:
        startStep(line ? Step::LineBlockIndex : Step::StreamBlockHeader, line ? 4 : 8, nowMs);
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
        break; // served by the handler alone, or no answer at all
    }
}

} // namespace zapfer
