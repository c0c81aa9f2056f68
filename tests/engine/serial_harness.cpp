#include "serial_harness.h"

#include "crc.h"
#include "raw_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace zapfer::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

Pty makePty() {
    termios raw{};
    ::cfmakeraw(&raw);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    Pty pty;
    if (::openpty(&master, &slave, name, &raw, nullptr) == 0) {
        pty.master.reset(master);
        pty.slave.reset(slave);
        pty.path = name;
    }
    return pty;
}

PtyRelay::PtyRelay()
    : m_a(makePty()), m_b(makePty()), m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    for (const int fd : {m_a.master.get(), m_b.master.get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

PtyRelay::~PtyRelay() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stop.get(), &one, sizeof one);
    m_thread.join();
}

void PtyRelay::run() {
    struct Direction {
        int from;
        int to;
        std::vector<uint8_t> pending;
    };
    Direction ways[2] = {{m_a.master.get(), m_b.master.get(), {}},
                         {m_b.master.get(), m_a.master.get(), {}}};
    for (;;) {
        pollfd fds[5] = {{m_stop.get(), POLLIN, 0}};
        nfds_t count = 1;
        for (auto& way : ways) {
            // Read only while the other side keeps up: the line's back-pressure.
            fds[count++] = {way.from, short(way.pending.size() < 65536 ? POLLIN : 0), 0};
            fds[count++] = {way.to, short(way.pending.empty() ? 0 : POLLOUT), 0};
        }
        if (::poll(fds, count, 1000) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        for (auto& way : ways) {
            uint8_t buffer[8192];
            const ssize_t got =
                way.pending.size() < 65536 ? ::read(way.from, buffer, sizeof buffer) : 0;
            if (got > 0)
                way.pending.insert(way.pending.end(), buffer, buffer + got);
            if (!way.pending.empty()) {
                const ssize_t put = ::write(way.to, way.pending.data(), way.pending.size());
                if (put > 0)
                    way.pending.erase(way.pending.begin(), way.pending.begin() + put);
            }
        }
    }
}

SerialEngine::SerialEngine(CommType type, const std::string& device, const fs::path& dest,
                           const std::string& owner, bool overwrite)
    : engine(events) {
    EngineSettings settings;
    settings.destDir = dest.string();
    settings.nameConflict = overwrite ? NameConflict::Replace : NameConflict::Refuse;
    settings.ownerName = owner;
    settings.serialDevices.usb = device;
    settings.serialDevices.com1 = device;
    settings.serialDevices.com2 = device;
    settings.serialDevices.rawIr = device;
    engine.setSettings(settings);
    EXPECT_TRUE(engine.selectCommType(type, true)) << engine.lastLinkError();
    engine.start();
}

SerialEngine::~SerialEngine() {
    engine.stop();
}

bool SerialEngine::beginAndConnect(const std::vector<SendFile>& files) {
    SendRefused why;
    const TransferId id = engine.send(files, &why);
    if (id == kNoTransfer) {
        ADD_FAILURE() << int(why.reason) << " " << why.path;
        return false;
    }
    return events.waitUntil([&] { return events.lastConnecting == id; }) &&
           engine.snapshot().linkUpFor(id);
}

SendOutcome SerialEngine::send(const std::vector<fs::path>& files) {
    return runSend(handshake, events, sendFiles(files), std::chrono::seconds(120));
}

void SerialPeer::send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < end) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    ASSERT_EQ(done, bytes.size());
}

void SerialPeer::sendCommand(uint8_t code) {
    const Frame frame = BuildFrame(code);
    send({frame.begin(), frame.end()});
}

void SerialPeer::sendTable(const std::vector<std::pair<std::string, int32_t>>& entries) {
    std::vector<uint8_t> table;
    for (const auto& [name, size] : entries) {
        const EntryBytes entry = rawEntry(name, size);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    std::vector<uint8_t> message(kTableHeaderSize + table.size());
    BuildFileTableMessage(table, message);
    send(message);
}

void SerialPeer::sendOpen(uint8_t index) {
    const auto open = BuildOpenMessage(index);
    send({open.begin(), open.end()});
}

void SerialPeer::sendBlock(int32_t k, const std::vector<uint8_t>& data, uint32_t crcDelta) {
    std::vector<uint8_t> message(kBlockHeaderSize + data.size());
    BuildBlockMessage(k, data, message);
    putLe32(message.data() + 8, getLe32(message.data() + 8) + crcDelta);
    send(message);
}

std::vector<uint8_t> SerialPeer::read(size_t n, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        uint8_t buffer[4096];
        const ssize_t got = ::read(m_fd, buffer, std::min(sizeof buffer, n - out.size()));
        if (got > 0)
            out.insert(out.end(), buffer, buffer + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

uint8_t SerialPeer::readCommand(int timeoutMs) {
    const auto bytes = read(kFrameSize, timeoutMs);
    return bytes.size() == kFrameSize ? FrameCommand(bytes.data()) : 0;
}

std::vector<uint8_t> SerialPeer::answerDial(const std::string& ownName) {
    EXPECT_EQ(readCommand(), CMD_PING);
    sendCommand(CMD_PING_REPLY);
    EXPECT_EQ(readCommand(), CMD_CONNECT);
    sendCommand(CMD_ACCEPTED);
    EXPECT_EQ(readCommand(), CMD_NAME_REQUEST);
    send(nameBlock(ownName));
    EXPECT_EQ(readCommand(), CMD_NAME_FOLLOWS);
    return read(kNameBlockSize);
}

std::vector<uint8_t> SerialPeer::dial(const std::string& ownName) {
    sendCommand(CMD_PING);
    EXPECT_EQ(readCommand(), CMD_PING_REPLY);
    sendCommand(CMD_CONNECT);
    EXPECT_EQ(readCommand(), CMD_ACCEPTED);
    sendCommand(CMD_NAME_REQUEST);
    auto name = read(kNameBlockSize);
    sendCommand(CMD_NAME_FOLLOWS);
    send(nameBlock(ownName));
    return name;
}

std::vector<uint8_t> nameBlock(const std::string& name) {
    std::vector<uint8_t> block(kNameBlockSize, 0);
    std::memcpy(block.data(), name.data(), std::min(name.size(), kNameBlockSize - 1));
    return block;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t begin, size_t length) {
    return std::vector<uint8_t>(bytes.begin() + long(begin),
                                bytes.begin() + long(std::min(bytes.size(), begin + length)));
}

} // namespace zapfer::test
