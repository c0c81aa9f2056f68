#pragma once

// Cuts the bytes from the peer into the protocol's messages, with each
// dialect's recovery from bytes that are out of step, and the time limits of a
// message left half-sent. It serves nothing itself: every whole message goes
// to a MessageHandler (the receive session).

#include "link.h"
#include "message_clock.h"
#include "reply_sink.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zapfer {

// A message that stopped half-way past its time limit.
enum class Unfinished {
    Table,
    Open,
    Block,
    // On a stream: any message but a bare frame. No bytes are lost on a
    // stream, so the rest could not be realigned; the connection must end.
    StreamMessage,
};

class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    // False once nothing more is to be read from this link.
    virtual bool reading() const = 0;
    // A whole command frame; its arguments, if any, follow as the calls below.
    virtual void command(uint8_t code) = 0;
    virtual void table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) = 0;
    virtual void open(uint8_t index) = 0;
    // The length of the block's data to read; none: the block is dropped (the
    // handler purged the input and answered).
    virtual std::optional<size_t> blockHeader(int32_t index, uint32_t crc) = 0;
    // `data` is empty when the block stopped half-way or none was expected.
    // It stays valid, unchanged, until inputServed() of the same feed.
    virtual void blockData(std::span<const uint8_t> data, bool arrived) = 0;
    virtual void name(std::string name) = 0;
    virtual void unfinished(Unfinished message) = 0;
    // Every whole message of the bytes fed was handed over; block data handed
    // over in this feed is about to go.
    virtual void inputServed() {}
};

class MessageParser {
public:
    MessageParser(const LinkTraits& traits, MessageHandler& handler, ReplySink& sink);

    void feed(std::span<const uint8_t> bytes, int64_t nowMs);
    void tick(int64_t nowMs);
    // Drops whatever input waits, in the device and here: the rest of the
    // bytes being fed too.
    void purge();

    int64_t deadline() const { return m_clock.deadline(); }
    int64_t messageDeadline() const;
    bool midMessage() const { return m_step != Step::Command || !m_pending.empty(); }
    int64_t lastCommandMs() const { return m_clock.lastCommandMs(); }

private:
    enum class Step {
        Command,         // the next command frame
        FrameCompletion, // the rest of a frame the stream was out of step in
        TableHeader,
        TableEntries,
        OpenIndex,
        StreamBlockHeader,
        LineBlockIndex,
        LineBlockCrc,
        BlockData,
        NameBlock,
        Ignored, // arguments of a refused command, read and dropped
    };

    // The bytes the current step needs; 0 when it needs none.
    size_t need() const;
    void startStep(Step step, size_t bytes, int64_t nowMs);
    void finishStep(const uint8_t* bytes, int64_t nowMs);
    void giveUpStep();
    bool inFrame() const { return m_step == Step::Command || m_step == Step::FrameCompletion; }
    void frame(const uint8_t* bytes, int64_t nowMs);
    void command(uint8_t code, int64_t nowMs);

    LinkTraits m_traits;
    MessageHandler& m_handler;
    ReplySink& m_sink;

    std::vector<uint8_t> m_pending; // bytes fed and not yet taken
    std::vector<uint8_t> m_piece;   // a completed piece being served
    Step m_step = Step::Command;
    size_t m_stepBytes = 0;
    MessageClock m_clock;
    bool m_purged = false; // the input was thrown away while serving a piece
    // What the steps so far of the message under way read.
    struct Held {
        std::array<uint8_t, 4> frame{}; // the last frame that was not a command
        uint8_t tableCount = 0;
        uint32_t tableCrc = 0;
        int32_t lineBlockIndex = 0;
    } m_held;
};

} // namespace zapfer
