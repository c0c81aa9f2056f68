// zapfer-cli receive against peers that stall on purpose: one that stops
// reading its replies, one that pauses or trickles inside a message, one that
// holds an open file with pings. Each is dropped within its bound, nothing
// half-written stays, and the next proper sender gets through.

#include "cli_peers.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace zapfer;
using namespace zapfer::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

uint16_t portOf(const Receiver& receiver) {
    return uint16_t(std::stoi(receiver.port));
}

// A one-file transfer of `data` as `name`, as a sender of Zapfer does it; the
// first answer may take up to `firstReplyMs` (the receiver may still be busy
// with an earlier peer).
void sendWholeFile(uint16_t port, const std::string& name, const std::string& data,
                   int firstReplyMs = 3000) {
    test::WirePeer peer = test::WirePeer::tcp(port);
    ASSERT_TRUE(peer.connected());
    peer.sendTable({{name, int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(firstReplyMs), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    const size_t blocks = (data.size() + 32767) / 32768;
    for (size_t k = 0; k < blocks; ++k) {
        const size_t begin = k * 32768;
        const size_t end = std::min(data.size(), begin + 32768);
        peer.sendBlock(int32_t(k),
                       std::vector<uint8_t>(data.begin() + long(begin), data.begin() + long(end)));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        ASSERT_EQ(peer.read(4).size(), 4u);
    }
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

// The names in `dir` that are temporary files of a receive.
std::vector<std::string> partFiles(const std::string& dir) {
    std::vector<std::string> parts;
    for (const std::string& name : listDir(dir))
        if (name.rfind(".zapfer-part-", 0) == 0)
            parts.push_back(name);
    return parts;
}

} // namespace

TEST(CliStalledPeers, APeerThatStopsReadingIsDroppedAndTheNextSenderGetsIn) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    // 240 kB of name requests, each drawing a 256-byte answer, from a socket
    // with the smallest receive buffer, never read.
    UniqueFd greedy(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 1024;
    ::setsockopt(greedy.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(portOf(receiver));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(greedy.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<uint8_t> requests;
    for (int i = 0; i < 60'000; ++i) {
        const Frame frame = BuildFrame(CMD_NAME_REQUEST);
        requests.insert(requests.end(), frame.begin(), frame.end());
    }
    size_t sent = 0;
    const auto sendUntil = Clock::now() + 5s;
    while (sent < requests.size() && Clock::now() < sendUntil) {
        const ssize_t n = ::send(greedy.get(), requests.data() + sent, requests.size() - sent,
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        pollfd fd{greedy.get(), POLLOUT, 0};
        ::poll(&fd, 1, 50);
    }
    ASSERT_GT(sent, 100'000u) << "the receiver took too little to be held by its replies";

    // A proper sender now: it gets in once the greedy peer's write limit
    // (10 s) has dropped it, long before it could have read every answer.
    const auto started = Clock::now();
    sendWholeFile(portOf(receiver), "after.txt", "the next sender\n", 30'000);
    EXPECT_LT(Clock::now() - started, 30s);
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 10s))
        << receiver.process->out();
    EXPECT_EQ(readFile(dest.file("after.txt")), "the next sender\n");
    EXPECT_TRUE(partFiles(dest.path()).empty());
}

TEST(CliStalledPeers, APauseInsideABlockEndsTheConnectionAndNothingInItIsObeyed) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    // The file's own content holds a whole transfer of another file.
    std::vector<uint8_t> content(40000, 'x');
    {
        const EntryBytes entry = test::textEntry("planted.txt", 5);
        std::vector<uint8_t> inner(kTableHeaderSize + kEntrySize);
        BuildFileTableMessage(entry, inner);
        const auto open = BuildOpenMessage(0);
        inner.insert(inner.end(), open.begin(), open.end());
        std::vector<uint8_t> block(kBlockHeaderSize + 5);
        BuildBlockMessage(0, std::vector<uint8_t>{'o', 'w', 'n', 'e', 'd'}, block);
        inner.insert(inner.end(), block.begin(), block.end());
        const Frame close = BuildFrame(CMD_CLOSE_FILE);
        inner.insert(inner.end(), close.begin(), close.end());
        std::copy(inner.begin(), inner.end(), content.begin() + 1000);
    }
    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    peer.sendTable({{"real.bin", int32_t(content.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    std::vector<uint8_t> message(kBlockHeaderSize + 32768);
    BuildBlockMessage(0, std::span<const uint8_t>(content.data(), 32768), message);
    peer.send(std::vector<uint8_t>(message.begin(), message.begin() + 500));
    std::this_thread::sleep_for(2500ms);
    peer.send(std::vector<uint8_t>(message.begin() + 500, message.end()));

    // The sender is told to stop, and the connection ends.
    EXPECT_EQ(peer.readCommand(), CMD_ABORT);
    EXPECT_TRUE(peer.closedByPeer(5000));
    EXPECT_TRUE(receiver.process->waitForLine("transfer interrupted", 10s))
        << receiver.process->out();
    const std::vector<std::string> names = listDir(dest.path());
    EXPECT_TRUE(names.empty()) << "no planted file, no partial file: " << names.front();
}

TEST(CliStalledPeers, ATricklingPeerWithAnAcceptedTableIsDroppedForTheNextSender) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    test::WirePeer trickler = test::WirePeer::tcp(portOf(receiver));
    trickler.sendTable({{"slow.bin", 40000}});
    ASSERT_EQ(trickler.readCommand(), CMD_OK);
    trickler.sendOpen(0);
    ASSERT_EQ(trickler.readCommand(), CMD_ACCEPTED);
    // One byte of a block every 1.9 s: each within the silence limit.
    std::vector<uint8_t> block(kBlockHeaderSize + 32768);
    BuildBlockMessage(0, std::vector<uint8_t>(32768, 's'), block);
    std::atomic<bool> dropped{false};
    std::thread trickle([&] {
        for (size_t i = 0; i < 25 && !dropped; ++i) {
            trickler.send({block[i]});
            dropped = trickler.closedByPeer(1900);
        }
    });

    const auto started = Clock::now();
    sendWholeFile(portOf(receiver), "next.txt", "the next sender\n", 20'000);
    const auto waited = Clock::now() - started;
    trickle.join();
    EXPECT_TRUE(dropped);
    EXPECT_LT(waited, 20s);
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 10s))
        << receiver.process->out();
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"next.txt"});
}

namespace {
// Bytes of disk taken by the files of `dest` that process `pid` holds open
// (a partial file may have no name at all).
int64_t diskHeldOpenIn(pid_t pid, const std::string& dest) {
    int64_t taken = 0;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
        if (!std::filesystem::read_symlink(fd.path(), ec).string().starts_with(dest + "/"))
            continue;
        struct stat st;
        if (::stat(fd.path().c_str(), &st) == 0)
            taken += int64_t(st.st_blocks) * 512;
    }
    return taken;
}
} // namespace

TEST(CliStalledPeers, AnOpenFileTakesSpaceOnlyAsDataComesAndPingsDoNotKeepItOpen) {
    TempDir dest;
    constexpr int32_t kSize = int32_t(1) << 30;
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(dest.path().c_str(), &vfs), 0);
    if (int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize) < 4 * int64_t(kSize))
        GTEST_SKIP() << "too little free space for a 1 GiB table";
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const pid_t pid = receiver.process->pid();

    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    peer.sendTable({{"huge.bin", kSize}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    constexpr int64_t kBound = (int64_t(64) << 20) + (int64_t(1) << 20);
    EXPECT_LT(diskHeldOpenIn(pid, dest.path()), kBound) << "reserved at the open";
    peer.sendBlock(0, std::vector<uint8_t>(32768, 'd'));
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    ASSERT_EQ(peer.read(4).size(), 4u);
    EXPECT_GT(diskHeldOpenIn(pid, dest.path()), 0);
    EXPECT_LT(diskHeldOpenIn(pid, dest.path()), kBound) << "reserved at the first block";

    // Pings every 2 s, answered, but the file gets no block: the connection
    // ends within the 30 s limit.
    const auto lastBlock = Clock::now();
    uint8_t answer = 0;
    while (Clock::now() - lastBlock < 45s) {
        peer.sendCommand(CMD_PING);
        answer = peer.readCommand(2000);
        if (answer != CMD_PING_REPLY)
            break;
        std::this_thread::sleep_for(2s);
    }
    EXPECT_EQ(answer, CMD_ABORT);
    EXPECT_LT(Clock::now() - lastBlock, 35s);
    EXPECT_TRUE(peer.closedByPeer(5000));
    EXPECT_TRUE(receiver.process->waitForLine("transfer interrupted", 10s))
        << receiver.process->out();
    EXPECT_EQ(diskHeldOpenIn(pid, dest.path()), 0);
    EXPECT_TRUE(listDir(dest.path()).empty());
}
