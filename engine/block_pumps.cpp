// The two ways blocks go out. On a stream a window of blocks is in flight at
// once: blocks are read in runs, and handed to the kernel many at a time in
// one gathered write, so that the system calls per block stay well under one. On a serial line
// each block waits for its reply, after the line's pacing wait.

#include "block_ring.h"
#include "block_window.h"
#include "crc.h"
#include "protocol.h"
#include "sender.h"
#include "sender_common.h"
#include "serial_timing.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>

namespace zapfer {

namespace {
bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}
} // namespace

namespace {
// Blocks handed to the kernel in one call at most: enough that a call moves
// many blocks, few enough that a go-back wastes little.
constexpr int32_t kBatchBlocks = 16;

// The blocks of one gathered write, header and data of each as two pieces,
// and how far the kernel has taken them.
class Batch {
public:
    bool empty() const { return m_at == m_pieces.size(); }
    void fill(const BlockRing& ring, int32_t first, int32_t count) {
        m_first = first;
        m_at = 0;
        m_blockStarted = false;
        m_pieces.clear();
        for (int32_t k = first; k < first + count; ++k) {
            const BlockRing::Block block = ring.block(k);
            m_pieces.push_back(piece(block.header));
            m_pieces.push_back(piece(block.data));
        }
    }
    std::span<const iovec> rest() const { return std::span(m_pieces).subspan(m_at); }
    // The block the next byte belongs to.
    int32_t current() const { return m_first + int32_t(m_at / 2); }
    // Some but not all of the current block went out.
    bool midBlock() const { return m_blockStarted; }
    // Takes `n` bytes as sent; calls done(k) for each block now out whole.
    template <typename Done> void advance(size_t n, Done done) {
        while (m_at < m_pieces.size() && (n > 0 || m_pieces[m_at].iov_len == 0)) {
            iovec& p = m_pieces[m_at];
            const size_t take = std::min(n, p.iov_len);
            p.iov_base = static_cast<uint8_t*>(p.iov_base) + take;
            p.iov_len -= take;
            n -= take;
            m_blockStarted = true;
            if (p.iov_len > 0)
                break;
            ++m_at;
            if (m_at % 2 == 0) { // the data piece: the block is out
                m_blockStarted = false;
                done(m_first + int32_t(m_at / 2) - 1);
            }
        }
    }
    // Drops the blocks not begun (a go-back changed what comes next).
    void cutAfterCurrent() {
        const size_t keep = m_blockStarted ? (m_at / 2 + 1) * 2 : m_at;
        m_pieces.resize(std::max(keep, m_at));
    }

private:
    static iovec piece(std::span<const uint8_t> bytes) {
        return {const_cast<uint8_t*>(bytes.data()), bytes.size()};
    }

    std::vector<iovec> m_pieces;
    size_t m_at = 0;
    int32_t m_first = 0;
    bool m_blockStarted = false;
};
} // namespace

bool pumpPipelined(Link& link, EngineState& state, Waker&, int fd, int64_t size,
                   std::vector<uint8_t>&, WholeFileCrc& fileCrc) {
    using Clock = std::chrono::steady_clock;
    const int32_t blockSize = link.traits().blockSize;
    BlockWindow window(state.FileBlocks);
    BlockRing ring(fd, size, blockSize);
    const int32_t batchLimit = std::min(kBatchBlocks, ring.slots());
    ReplyParser parser;
    Batch batch;
    auto lastReply = Clock::now();
    uint8_t replies[4096];
    // Which way the link may move without blocking, as far as is known: a
    // call that found it could not is not made again before a wait says so.
    short ready = POLLIN | POLLOUT;

    while (!window.done() && !state.AbortFlag && link.alive()) {
        if (ready & POLLIN) {
            const ssize_t got = link.receiveSome(replies, sizeof replies);
            if (got == 0 || (got < 0 && !wouldBlock(errno))) {
                state.AbortFlag = 1; // the peer closed or reset the connection
                break;
            }
            if (got < ssize_t(sizeof replies))
                ready &= ~POLLIN; // drained, or nothing there
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
        }
        if (state.AbortFlag)
            break;
        // A go-back sends again from an earlier block: the blocks of the batch
        // not begun are not what comes next any more. A block whose first
        // bytes went out must go out whole, whatever happened meanwhile: the
        // peer reads it by its length.
        if (!batch.empty() && !batch.midBlock() &&
            (batch.current() != window.nextToSend() || !window.canSend()))
            batch.cutAfterCurrent();
        if (batch.empty() && window.canSend() && (ready & POLLOUT)) {
            const int32_t first = window.nextToSend();
            const int32_t count = std::min({batchLimit, window.blocks() - first,
                                            window.acknowledged() + window.window() - first});
            if (!ring.prepare(first, count))
                return false; // unreadable now: the peer drops the file at its close
            batch.fill(ring, first, count);
            for (int32_t k = first; k < first + count; ++k) {
                const BlockRing::Block block = ring.block(k);
                fileCrc.setBlock(k, getLe32(block.header.data() + 8), uint32_t(block.data.size()));
            }
        }
        if (!batch.empty() && (ready & POLLOUT)) {
            size_t wanted = 0;
            for (const iovec& piece : batch.rest())
                wanted += piece.iov_len;
            const ssize_t n = link.sendSomeOf(batch.rest());
            if (n > 0)
                batch.advance(size_t(n), [&](int32_t k) { window.recordSent(k); });
            else if (n < 0 && !wouldBlock(errno)) {
                state.AbortFlag = 1;
                break;
            }
            if (n < ssize_t(wanted))
                ready &= ~POLLOUT; // the kernel's buffer is full
        }
        if (window.awaitingReplies() && Clock::now() - lastReply > std::chrono::seconds(2)) {
            window.goBack(); // silence: send again from the first unacknowledged block
            lastReply = Clock::now();
        }
        // Waits only when no call could move: nothing to read, and nothing
        // to send or no room for it.
        // (The reply that finished the file needs no wait after it.)
        const bool canWrite = (ready & POLLOUT) && (!batch.empty() || window.canSend());
        if (!window.done() && !(ready & POLLIN) && !canWrite)
            ready = link.waitDirections(!batch.empty() || window.canSend(), 100);
    }
    if (batch.midBlock() && link.alive()) { // finish the block so the abort is read as a command
        batch.cutAfterCurrent();
        for (const iovec& piece : batch.rest())
            link.sendAll(std::span<const uint8_t>(static_cast<const uint8_t*>(piece.iov_base),
                                                  piece.iov_len),
                         IoMode::EvenWhenAborting);
    }
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
