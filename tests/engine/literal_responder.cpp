#include "literal_responder.h"

#include "crc.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>

namespace zapfer::test {

namespace {
// Blocking reads with a time limit, so a broken test cannot hang.
bool readAll(int fd, void* buffer, size_t n) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return false;
        const ssize_t got = ::recv(fd, bytes + done, n - done, 0);
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

void writeAll(int fd, const void* data, size_t n) {
    ::send(fd, data, n, MSG_NOSIGNAL);
}

void reply(int fd, uint8_t code) {
    const Frame frame = BuildFrame(code);
    writeAll(fd, frame.data(), frame.size());
}
} // namespace

LiteralResponder::LiteralResponder(Options options)
    : m_options(std::move(options)), m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (m_options.receiveBuffer > 0) // inherited by the accepted connection
        ::setsockopt(m_listener.get(), SOL_SOCKET, SO_RCVBUF, &m_options.receiveBuffer,
                     sizeof m_options.receiveBuffer);
    ::listen(m_listener.get(), 1);
    socklen_t length = sizeof address;
    ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

LiteralResponder::~LiteralResponder() {
    ::shutdown(m_listener.get(), SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
}

bool LiteralResponder::waitFinished(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_finished) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

void LiteralResponder::serve() {
    pollfd p{m_listener.get(), POLLIN, 0};
    if (::poll(&p, 1, 30000) <= 0) {
        m_finished = true;
        return;
    }
    UniqueFd link(::accept(m_listener.get(), nullptr, nullptr));
    const int fd = link.get();
    std::vector<uint8_t> table;
    int count = 0;
    int index = -1;
    int32_t blocksDone = 0;
    int32_t fileBlocks = 0;
    int64_t size = 0;
    std::vector<uint8_t> file;
    std::set<std::pair<int, int32_t>> refused;
    std::vector<uint8_t> data(m_options.blockSize);
    for (;;) {
        uint8_t frame[4];
        if (!readAll(fd, frame, 4))
            break;
        const uint8_t code = FrameCommand(frame);
        if (code == CMD_FILE_TABLE) {
            uint8_t header[5];
            readAll(fd, header, 5);
            count = header[0];
            table.resize(size_t(count) * kEntrySize);
            readAll(fd, table.data(), table.size());
            reply(fd,
                  CheckFileTable(uint8_t(count), getLe32(header + 1), table) == TableCheck::Valid
                      ? CMD_OK
                      : CMD_BAD_TABLE);
        } else if (code == CMD_OPEN_FILE) {
            uint8_t i;
            readAll(fd, &i, 1);
            index = i;
            size = DecodeTransferEntry(table.data() + size_t(i) * kEntrySize).size;
            blocksDone = 0;
            fileBlocks = FileBlocks(Dialect::Stream, size, m_options.blockSize);
            file.assign(size_t(size), 0);
            reply(fd, CMD_ACCEPTED);
        } else if (code == CMD_BLOCK) {
            uint8_t header[8];
            readAll(fd, header, 8);
            const auto k = int32_t(getLe32(header));
            const int32_t length = BlockLength(k, size, m_options.blockSize);
            const bool arrived = readAll(fd, data.data(), size_t(length));
            ++blocksReceived;
            if (m_options.replyDelay.count() > 0)
                std::this_thread::sleep_for(m_options.replyDelay);
            const bool refuse = m_options.badOnce.count({index, k}) && !refused.count({index, k});
            if (refuse)
                refused.insert({index, k});
            const bool good = arrived && !refuse && k >= 0 && k < fileBlocks &&
                              BlockCrc(data.data(), size_t(length)) == getLe32(header + 4);
            if (good) {
                blocksDone = k + 1;
                std::memcpy(file.data() + int64_t(k) * m_options.blockSize, data.data(),
                            size_t(length));
            }
            const auto answer = BuildBlockReply(good ? CMD_BLOCK_OK : CMD_BLOCK_BAD, k);
            writeAll(fd, answer.data(), answer.size());
        } else if (code == CMD_CLOSE_FILE) {
            const bool cannotKeep = index >= 0 && m_options.cannotKeep.count(index) > 0;
            if (cannotKeep) {
                ++incompleteCloses;
                reply(fd, CMD_CANNOT_CREATE);
                index = -1;
                continue;
            }
            if (index >= 0) {
                if (blocksDone == fileBlocks)
                    completeFiles[index] = file;
                else
                    ++incompleteCloses;
            }
            reply(fd, CMD_OK);
            if (index == count - 1)
                break;
            index = -1;
        } else if (code == CMD_ABORT) {
            ++abortsReceived;
            reply(fd, CMD_ACCEPTED);
            break;
        }
    }
    m_finished = true;
}

} // namespace zapfer::test
