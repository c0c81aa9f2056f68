#include "serial_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace zapfer::test {

namespace fs = std::filesystem;

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
    EXPECT_TRUE(engine.selectCommType(type, true)) << int(engine.linkError().fault);
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

LinkResponder::LinkResponder(WireLink link, const fs::path& dest, bool overwrite, CommType type)
    : m_link(link) {
    if (link == WireLink::Socket) {
        m_socket = std::make_unique<Responder>(dest, overwrite);
        return;
    }
    plugIn();
    m_serial = std::make_unique<SerialEngine>(type, (m_devices / "line").string(), dest,
                                              "Responder", overwrite);
}

WirePeer LinkResponder::peer() {
    return m_socket ? WirePeer::tcp(m_socket->engine.listenPort())
                    : WirePeer::pty(m_pty->master.get());
}

void LinkResponder::plugIn() {
    m_pty = std::make_unique<Pty>(makePty());
    fs::create_symlink(m_pty->path, m_devices / "line");
}

void LinkResponder::unplug() {
    m_pty.reset();
    EXPECT_TRUE(events().waitUntil([&] { return !engine().snapshot().canSend; }));
}

void LinkResponder::plugBackIn() {
    fs::remove(m_devices / "line");
    plugIn();
    EXPECT_TRUE(engine().retrySerialPort()) << int(engine().linkError().fault);
}

} // namespace zapfer::test
