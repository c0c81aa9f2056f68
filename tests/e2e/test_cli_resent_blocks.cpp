// A zapfer-cli sender whose receiver refuses chosen blocks: a proxy between
// the two turns the receiver's first acknowledgement of those blocks into a
// refusal, so the pipelined sender goes back and sends them (and those after
// them) again. The checksum it records must still be the file's own.

#include "cli_peers.h"
#include "history_rows.h"
#include "protocol.h"
#include "unique_fd.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

using namespace zapfer::testing;
using namespace std::chrono_literals;
using zapfer::UniqueFd;

namespace {

UniqueFd listenOnLoopback(uint16_t* port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd.get(), 1) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    *port = ntohs(address.sin_port);
    return fd;
}

UniqueFd connectToLoopback(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    return fd;
}

// Forwards one connection each way until either side closes (at most
// `limit`), refusing the first acknowledgement of each block in `refuse`.
// Returns the bytes the sender sent.
size_t relay(int sender, int receiver, std::set<int32_t> refuse, std::chrono::seconds limit) {
    using namespace zapfer;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<uint8_t> replies; // from the receiver, not yet passed on
    size_t fromSender = 0;
    uint8_t buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{sender, POLLIN, 0}, {receiver, POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0)
            continue;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(sender, buffer, sizeof buffer);
            if (n <= 0)
                break;
            fromSender += size_t(n);
            if (::send(receiver, buffer, size_t(n), MSG_NOSIGNAL) != n)
                break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(receiver, buffer, sizeof buffer);
            if (n <= 0)
                break;
            replies.insert(replies.end(), buffer, buffer + n);
            // Whole replies only: frames, and block replies of frame and index.
            size_t at = 0;
            while (replies.size() - at >= kFrameSize) {
                const uint8_t code = FrameCommand(replies.data() + at);
                const bool blockReply = code == CMD_BLOCK_OK || code == CMD_BLOCK_BAD;
                const size_t length = blockReply ? kBlockReplySize : code ? kFrameSize : 1;
                if (replies.size() - at < length)
                    break;
                if (code == CMD_BLOCK_OK) {
                    const auto k = int32_t(getLe32(replies.data() + at + kFrameSize));
                    if (refuse.erase(k) > 0) {
                        const auto bad = BuildBlockReply(CMD_BLOCK_BAD, k);
                        std::copy(bad.begin(), bad.end(), replies.begin() + long(at));
                    }
                }
                at += length;
            }
            if (::send(sender, replies.data(), at, MSG_NOSIGNAL) != ssize_t(at))
                break;
            replies.erase(replies.begin(), replies.begin() + long(at));
        }
    }
    return fromSender;
}

} // namespace

TEST(CliResentBlocks, SenderRecordsTheFilesChecksumAfterGoingBack) {
    TempDir source, dest, senderData, receiverData;
    const std::string bytes = randomBytes((3u << 20) + 1234, 9);
    writeFile(source.file("big.bin"), bytes);
    Receiver receiver = startReceiver(dest.path(), {"--port", "0", "--echo-port", "0"},
                                      withData(receiverData.path()));
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    uint16_t proxyPort = 0;
    const UniqueFd listener = listenOnLoopback(&proxyPort);
    ASSERT_TRUE(listener);

    ChildProcess sender(
        cliCommand({"send", "--to", "127.0.0.1", "--port", std::to_string(proxyPort), "--timeout",
                    "20", source.file("big.bin")},
                   withData(senderData.path())));
    pollfd waiting = {listener.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 20000), 1) << "the sender never connected";
    const UniqueFd fromSender(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    UniqueFd toReceiver = connectToLoopback(uint16_t(std::stoi(receiver.port)));
    ASSERT_TRUE(fromSender && toReceiver);
    const size_t forwarded = relay(fromSender.get(), toReceiver.get(), {2, 7, 40}, 60s);
    toReceiver.reset(); // the sender has gone: so does its connection

    ASSERT_EQ(sender.waitExit(30s), 0) << sender.out() << sender.err();
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received", 30s));
    // Refused blocks were sent again, with the blocks after them.
    EXPECT_GT(forwarded, bytes.size() + 3 * 32768) << "no block was sent twice";
    EXPECT_EQ(readFile(dest.file("big.bin")), bytes);

    const auto sent = readHistory(senderData.path());
    const auto received = readHistory(receiverData.path());
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(sent[0].files.size(), 1u);
    ASSERT_EQ(received[0].files.size(), 1u);
    EXPECT_EQ(sent[0].files[0].result, history::FileResult::Sent);
    EXPECT_EQ(sent[0].files[0].crc32, zlibCrc(bytes));
    EXPECT_EQ(received[0].files[0].crc32, zlibCrc(bytes));
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0);
}
