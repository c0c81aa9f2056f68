// The paired link's gathered write, its reads and its waits, as the block
// pump and the receive driver use them: a window of blocks, each a short
// header and its data, must become full records that arrive whole and in
// order; what has arrived is taken in few reads; and a wait must tell which
// way the link can move without claiming input that is not there.

#include "tls_test_support.h"

#include <sys/ioctl.h>
#include <sys/uio.h>

#include <thread>
#include <vector>

namespace zapfer {
namespace {

using namespace tls_test;

// Pieces laid over `bytes` in the given sizes, in order.
std::vector<iovec> piecesOf(std::vector<uint8_t>& bytes, const std::vector<size_t>& sizes) {
    std::vector<iovec> pieces;
    size_t at = 0;
    for (const size_t size : sizes) {
        pieces.push_back({bytes.data() + at, size});
        at += size;
    }
    EXPECT_EQ(at, bytes.size());
    return pieces;
}

// Hands every piece to the link with sendSomeOf, as the pump does: what was
// taken is cut off the front, and a full link is waited for. The calls made.
int sendAllPieces(TlsLink& link, std::vector<iovec> pieces) {
    size_t at = 0;
    int calls = 0;
    const auto deadline = Clock::now() + 20s;
    while (Clock::now() < deadline) {
        while (at < pieces.size() && pieces[at].iov_len == 0)
            ++at;
        if (at == pieces.size())
            return calls;
        const ssize_t n = link.sendSomeOf(std::span(pieces).subspan(at));
        if (n < 0 && errno != EAGAIN)
            return -1;
        if (n <= 0) {
            link.waitDirections(true, 100);
            continue;
        }
        ++calls;
        size_t taken = size_t(n);
        for (size_t i = at; i < pieces.size() && taken > 0; ++i) {
            const size_t part = std::min(taken, pieces[i].iov_len);
            pieces[i].iov_base = static_cast<uint8_t*>(pieces[i].iov_base) + part;
            pieces[i].iov_len -= part;
            taken -= part;
        }
    }
    return -1;
}

// The lengths of the TLS records that arrive on `fd` until `quietMs` pass
// without a byte.
std::vector<size_t> recordLengths(int fd, int quietMs) {
    std::vector<uint8_t> stream;
    uint8_t chunk[65536];
    for (int round = 0; round < 100'000; ++round) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, quietMs) != 1)
            break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0)
            break;
        stream.insert(stream.end(), chunk, chunk + n);
    }
    std::vector<size_t> lengths;
    size_t at = 0;
    while (at + 5 <= stream.size()) {
        const size_t length = size_t(stream[at + 3]) << 8 | stream[at + 4];
        lengths.push_back(length);
        at += 5 + length;
    }
    EXPECT_EQ(at, stream.size()) << "the stream ends inside a record";
    return lengths;
}

TEST(TlsGatheredWrite, AWindowOfBlocksBecomesFullRecordsNotOneShortRecordPerHeader) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    // Sixteen blocks, each a 12-byte header and 32 KiB of data.
    constexpr int kBlocks = 16;
    std::vector<size_t> sizes;
    for (int k = 0; k < kBlocks; ++k)
        sizes.insert(sizes.end(), {12, 32768});
    std::vector<uint8_t> bytes(kBlocks * (12 + 32768));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = patternByte(i, 5);

    // The server's socket is read raw: what the client put on the wire.
    auto wire = std::async(std::launch::async,
                           [&] { return recordLengths(links.serverSocketCopy.get(), 1000); });
    const int calls = sendAllPieces(*links.client, piecesOf(bytes, sizes));
    const std::vector<size_t> lengths = wire.get();
    ASSERT_GT(calls, 0);

    // A full record carries 16 KiB of plaintext, a content type byte and a
    // 16-byte tag. Only the last record of each call may be shorter, and a
    // call takes many blocks: a few short records in all, not one a block.
    constexpr size_t kFullRecord = 16384 + 1 + 16;
    size_t shortRecords = 0;
    size_t payload = 0;
    for (const size_t length : lengths) {
        EXPECT_LE(length, kFullRecord);
        shortRecords += length < kFullRecord ? 1 : 0;
        payload += length > 17 ? length - 17 : 0;
    }
    EXPECT_LE(shortRecords, size_t(calls));
    EXPECT_LE(shortRecords, 4u);
    EXPECT_LE(lengths.size(), bytes.size() / 16384 + 4);
    EXPECT_EQ(payload, bytes.size());
}

TEST(TlsGatheredWrite, PiecesOfEverySizeArriveWholeAndInOrder) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    // Empty pieces, one-byte pieces, pieces around a record's size, and
    // pieces larger than one call takes.
    const std::vector<size_t> sizes = {0, 1,     0,  12,    16384, 16385, 5,      70000, 0, 300000,
                                       1, 16383, 12, 32768, 12,    32768, 600000, 0,     3, 0};
    size_t total = 0;
    for (const size_t size : sizes)
        total += size;
    std::vector<uint8_t> bytes(total);
    for (size_t i = 0; i < total; ++i)
        bytes[i] = patternByte(i, 9);

    auto received = std::async(std::launch::async, [&] {
        std::vector<uint8_t> got(total);
        const bool whole = links.server->receiveExact(got.data(), got.size(), 5000);
        return whole ? got : std::vector<uint8_t>{};
    });
    EXPECT_GT(sendAllPieces(*links.client, piecesOf(bytes, sizes)), 0);
    const std::vector<uint8_t> got = received.get();
    ASSERT_EQ(got.size(), total);
    EXPECT_TRUE(got == bytes);

    // Nothing to send is no failure; a closed link says so.
    const std::vector<iovec> empty = {{nullptr, 0}, {nullptr, 0}};
    EXPECT_EQ(links.client->sendSomeOf(empty), 0);
    EXPECT_EQ(links.client->sendSomeOf({}), 0);
    links.server.reset();
    uint8_t byte = 0;
    EXPECT_FALSE(links.client->receiveExact(&byte, 1, 2000));
    uint8_t one = 1;
    const std::vector<iovec> some = {{&one, 1}};
    errno = 0;
    EXPECT_EQ(links.client->sendSomeOf(some), -1);
    EXPECT_EQ(errno, ENOTCONN);
}

TEST(TlsGatheredWrite, AWaitTellsOnlyTheWaysTheLinkCanMove) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    TlsLink& client = *links.client;

    // Room to write and nothing to read: writing only, at once.
    EXPECT_EQ(client.waitDirections(true, 2000), POLLOUT);
    // Nothing to read and no wish to write: the time runs out.
    EXPECT_EQ(client.waitDirections(false, 50), 0);
    // A wake-up ends the wait without a direction.
    links.clientHost.waker.wake();
    EXPECT_EQ(client.waitDirections(false, 5000), 0);

    // Input on the socket is told, with the room to write beside it.
    ASSERT_TRUE(sendText(*links.server, "a reply\n"));
    short ready = 0;
    for (int round = 0; round < 50 && !(ready & POLLIN); ++round)
        ready = client.waitDirections(true, 100);
    EXPECT_EQ(ready, POLLIN | POLLOUT);
    EXPECT_EQ(receiveText(client, 8), "a reply\n");

    // Two records at once: the first read may leave the second decrypted or
    // read ahead; either way the wait tells of it without the socket.
    ASSERT_TRUE(sendText(*links.server, "first\n"));
    ASSERT_TRUE(sendText(*links.server, "second\n"));
    std::string both;
    for (int round = 0; round < 50 && both.size() < 13; ++round) {
        if (!(client.waitDirections(false, 100) & POLLIN))
            continue;
        char part[4];
        const ssize_t n = client.receiveSome(reinterpret_cast<uint8_t*>(part), sizeof part);
        if (n > 0)
            both.append(part, size_t(n));
    }
    EXPECT_EQ(both, "first\nsecond\n");
    EXPECT_EQ(client.waitDirections(false, 50), 0); // all of it taken
}

TEST(TlsGatheredWrite, WhatHasArrivedIsTakenInFewReadsWithRecordsAcrossTheReadSpans) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    // More than two of the link's read spans, in records that do not line
    // up with them.
    const std::string text = textOfLength(600'000, "span");
    // All of it waits in the client's socket before the first read.
    const int room = 4 << 20;
    ::setsockopt(links.clientSocketCopy.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    ::setsockopt(links.serverSocketCopy.get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ASSERT_TRUE(sendText(*links.server, text));
    const size_t onWire = text.size() + (text.size() / 16384 + 1) * 22;
    int queued = 0;
    for (int round = 0; round < 200 && size_t(queued) < onWire; ++round) {
        ::ioctl(links.clientSocketCopy.get(), FIONREAD, &queued);
        if (size_t(queued) < onWire)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(size_t(queued), onWire);

    std::string got;
    int reads = 0;
    std::vector<uint8_t> buffer(256 * 1024);
    for (int round = 0; round < 100 && got.size() < text.size(); ++round) {
        if (!(links.client->waitDirections(false, 100) & POLLIN))
            continue;
        const ssize_t n = links.client->receiveSome(buffer.data(), buffer.size());
        ASSERT_GT(n, 0);
        ++reads;
        got.append(reinterpret_cast<const char*>(buffer.data()), size_t(n));
    }
    EXPECT_TRUE(got == text);
    // A read fills the buffer or ends where a span of the socket ended.
    EXPECT_LE(reads, 6);
    EXPECT_FALSE(links.client->hasBuffered());
    EXPECT_EQ(links.client->waitDirections(false, 50), 0);
}

} // namespace
} // namespace zapfer
