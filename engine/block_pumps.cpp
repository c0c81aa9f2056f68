// The two ways blocks go out. On a stream several blocks are in flight at
// once and the next block is read and its CRC computed while the kernel still
// holds the previous ones, so disk, CRC and network overlap. On a serial line
// each block waits for its reply, after the line's pacing wait.

#include "block_window.h"
#include "crc.h"
#include "protocol.h"
#include "sender.h"
#include "sender_common.h"
#include "serial_timing.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace zapfer {

namespace {
bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}
} // namespace

bool pumpPipelined(Link& link, EngineState& state, Waker&, int fd, int64_t size,
                   std::vector<uint8_t>& buffer, WholeFileCrc& fileCrc) {
    using Clock = std::chrono::steady_clock;
    const int32_t blockSize = link.traits().blockSize;
    BlockWindow window(state.FileBlocks);
    ReplyParser parser;
    int32_t staged = -1; // block held in the buffer
    size_t stagedLength = 0;
    size_t stagedSent = 0;
    auto lastReply = Clock::now();
    uint8_t replies[4096];

    while (!window.done() && !state.AbortFlag && link.alive()) {
        // A block whose first bytes went out must go out whole, whatever
        // happened meanwhile: the peer reads it by its length.
        if (stagedSent == 0 && window.canSend() && staged != window.nextToSend()) {
            staged = window.nextToSend();
            const int32_t length = BlockLength(staged, size, blockSize);
            uint8_t* data = buffer.data() + kBlockHeaderSize;
            if (!readAt(fd, data, size_t(length), int64_t(staged) * blockSize))
                return false; // unreadable now: the peer drops the file at its close
            const uint32_t crc = BlockCrc(data, size_t(length));
            fileCrc.setBlock(staged, crc, uint32_t(length));
            const auto header = BuildBlockHeader(staged, crc);
            std::memcpy(buffer.data(), header.data(), header.size());
            stagedLength = kBlockHeaderSize + size_t(length);
        }
        const bool wantWrite =
            staged >= 0 && (stagedSent > 0 || (window.canSend() && staged == window.nextToSend()));
        link.waitReady(wantWrite, 100);

        const ssize_t got = link.receiveSome(replies, sizeof replies);
        if (got == 0 || (got < 0 && !wouldBlock(errno))) {
            state.AbortFlag = 1; // the peer closed or reset the connection
            break;
        }
        if (got > 0) {
            parser.feed(replies, size_t(got));
            while (const auto reply = parser.next()) {
                if (reply->code == CMD_ABORT) {
                    state.AbortFlag = 1;
                    break;
                }
                if (reply->code != CMD_BLOCK_OK && reply->code != CMD_BLOCK_BAD)
                    continue;
                lastReply = Clock::now();
                if (window.onReply(*reply)) {
                    const int32_t k = window.acknowledged() - 1;
                    state.BlocksDone = window.acknowledged();
                    state.BytesDone += BlockLength(k, size, blockSize);
                }
            }
        }
        if (wantWrite && !state.AbortFlag) {
            const ssize_t n = link.sendSome(buffer.data() + stagedSent, stagedLength - stagedSent);
            if (n > 0) {
                stagedSent += size_t(n);
                if (stagedSent == stagedLength) {
                    window.recordSent(staged);
                    stagedSent = 0;
                    staged = -1;
                }
            } else if (n < 0 && !wouldBlock(errno)) {
                state.AbortFlag = 1;
                break;
            }
        }
        if (window.awaitingReplies() && Clock::now() - lastReply > std::chrono::seconds(2)) {
            window.goBack(); // silence: send again from the first unacknowledged block
            lastReply = Clock::now();
        }
    }
    if (stagedSent > 0 && link.alive()) // finish the block so the abort is read as a command
        link.sendAll(
            std::span<const uint8_t>(buffer.data() + stagedSent, stagedLength - stagedSent),
            IoMode::EvenWhenAborting);
    return window.done() && !state.AbortFlag;
}

bool pumpPaced(Link& link, EngineState& state, Waker& waker, int fd, int64_t size,
               std::vector<uint8_t>& buffer, WholeFileCrc& fileCrc) {
    const LinkTraits& traits = link.traits();
    const int32_t blockSize = traits.blockSize;
    const int32_t blocks = state.FileBlocks;
    while (!state.AbortFlag && state.BlocksDone < blocks) {
        const int32_t k = state.BlocksDone;
        const int32_t length = BlockLength(k, size, blockSize);
        uint8_t* data = buffer.data() + kBlockHeaderSize;
        if (!readAt(fd, data, size_t(length), int64_t(k) * blockSize))
            return false;
        const uint32_t crc = BlockCrc(data, size_t(length));
        fileCrc.setBlock(k, crc, uint32_t(length));
        const auto header = BuildBlockHeader(k, crc);
        const std::span<const uint8_t> head(header);
        // Block k until it is acknowledged: frame, index, CRC, data.
        for (int attempt = 0; !state.AbortFlag; ++attempt) {
            if (attempt == kSerialBlockAttempts) {
                state.SendFailure = SendFailure::BlockNotAcknowledged;
                state.AbortFlag = 1; // the abort exchange tells the peer to drop the file
                break;
            }
            if (link.sendAll(head.first(kFrameSize)) && link.sendAll(head.subspan(kFrameSize, 4)) &&
                link.sendAll(head.subspan(kFrameSize + 4, 4)))
                link.sendAll(std::span<const uint8_t>(data, size_t(length)));
            waker.pause(traits.blockPacingMs);
            const uint8_t reply = receiveCommand(link);
            if (reply == CMD_BLOCK_OK) {
                state.BlocksDone = k + 1;
                state.BytesDone += length;
                break;
            }
            if (reply == CMD_ABORT)
                state.AbortFlag = 1;
        }
    }
    return state.BlocksDone == blocks && !state.AbortFlag;
}

} // namespace zapfer
