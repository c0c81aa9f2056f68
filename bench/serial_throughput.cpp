// Serial link throughput between two engines in one process, over two ptys
// joined by a relay (a null-modem line with no speed limit of its own), for
// the COM1 and USB block sizes. A pty moves bytes far faster than a real
// line, so the figures show what the protocol's pacing waits cost.
//
// usage: serial_throughput [COM1 bytes] [USB bytes]

#include "engine.h"
#include "serial_timing.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using namespace zapfer;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Pty {
    UniqueFd master;
    UniqueFd slave;
    std::string path;
};

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
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        pty.path = name;
    }
    return pty;
}

class Relay {
public:
    Relay() : m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        m_thread = std::thread([this] { run(); });
    }
    ~Relay() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop.get(), &one, sizeof one);
        m_thread.join();
    }
    Pty a = makePty();
    Pty b = makePty();

private:
    void run() {
        std::vector<uint8_t> pending[2];
        const int from[2] = {a.master.get(), b.master.get()};
        const int to[2] = {b.master.get(), a.master.get()};
        for (;;) {
            pollfd fds[5] = {{m_stop.get(), POLLIN, 0}};
            for (int i = 0; i < 2; ++i) {
                fds[1 + 2 * i] = {from[i], short(pending[i].size() < 65536 ? POLLIN : 0), 0};
                fds[2 + 2 * i] = {to[i], short(pending[i].empty() ? 0 : POLLOUT), 0};
            }
            if (::poll(fds, 5, 1000) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            for (int i = 0; i < 2; ++i) {
                uint8_t buffer[16384];
                const ssize_t got =
                    pending[i].size() < 65536 ? ::read(from[i], buffer, sizeof buffer) : 0;
                if (got > 0)
                    pending[i].insert(pending[i].end(), buffer, buffer + got);
                if (!pending[i].empty()) {
                    const ssize_t put = ::write(to[i], pending[i].data(), pending[i].size());
                    if (put > 0)
                        pending[i].erase(pending[i].begin(), pending[i].begin() + put);
                }
            }
        }
    }
    UniqueFd m_stop;
    std::thread m_thread;
};

class Events : public NullEngineEvents {
public:
    void connectingEnded(TransferId) override { bump(m_connected); }
    void transferEnded(TransferId) override { bump(m_closed); }
    bool waitConnected() { return wait(m_connected); }
    bool waitClosed() { return wait(m_closed); }

private:
    void bump(int& counter) {
        {
            std::lock_guard lock(m_mutex);
            ++counter;
        }
        m_changed.notify_all();
    }
    bool wait(int& counter) {
        std::unique_lock lock(m_mutex);
        const bool ok =
            m_changed.wait_for(lock, std::chrono::minutes(10), [&] { return counter > 0; });
        counter = 0;
        return ok;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_connected = 0;
    int m_closed = 0;
};

void measure(CommType type, int64_t bytes, const fs::path& dir) {
    const fs::path file = dir / "payload.bin";
    {
        std::mt19937 random(7);
        std::vector<char> data(static_cast<size_t>(bytes));
        for (auto& c : data)
            c = char(random());
        std::ofstream(file, std::ios::binary).write(data.data(), std::streamsize(data.size()));
    }
    fs::create_directories(dir / "in");
    Relay relay;
    Events receiverEvents;
    Events senderEvents;
    Engine receiver(receiverEvents);
    Engine sender(senderEvents);
    EngineSettings settings;
    settings.serialDevices.usb = relay.a.path;
    settings.serialDevices.com1 = relay.a.path;
    settings.destDir = (dir / "in").string();
    settings.nameConflict = zapfer::NameConflict::Replace;
    receiver.setSettings(settings);
    settings.serialDevices.usb = relay.b.path;
    settings.serialDevices.com1 = relay.b.path;
    sender.setSettings(settings);
    for (Engine* engine : {&receiver, &sender}) {
        if (!engine->selectCommType(type, false)) {
            std::fprintf(stderr, "cannot open a pty (fault %d)\n", int(engine->linkError().fault));
            std::exit(1);
        }
        engine->start();
    }

    const auto start = Clock::now();
    if (sender.send({{file.string(), bytes}}) == kNoTransfer || !senderEvents.waitConnected()) {
        std::fprintf(stderr, "no link\n");
        std::exit(1);
    }
    const auto connected = Clock::now();
    sender.startSending();
    senderEvents.waitClosed();
    const auto end = Clock::now();
    const SendOutcome outcome = sender.finishSend();
    receiver.finishReceive();

    const int32_t block = blockSizeFor(type);
    const int32_t blocks = FileBlocks(Dialect::Line, bytes, block);
    // Nominal table, open and close waits, and one pacing wait per block (a pty never
    // garbles, so no block is sent twice).
    const double pacingMs = 3.0 * kSerialCommandWaitMs + double(blocks) * blockPacingMs(type);
    const double sendMs = std::chrono::duration<double, std::milli>(end - connected).count();
    const double dialMs = std::chrono::duration<double, std::milli>(connected - start).count();
    std::printf("%-5s block %5d: %8lld bytes in %7.1f ms (link set-up %5.1f ms) = %8.1f KiB/s; "
                "pacing waits %7.1f ms = %4.1f%% of the send%s\n",
                std::string(commTypeName(type)).c_str(), block, static_cast<long long>(bytes),
                sendMs, dialMs, double(bytes) / 1024.0 / (sendMs / 1000.0), pacingMs,
                100.0 * pacingMs / sendMs, outcome.filesDone == 1 ? "" : "  (FAILED)");
    sender.stop();
    receiver.stop();
}

} // namespace

int main(int argc, char** argv) {
    const int64_t com1Bytes = argc > 1 ? std::atoll(argv[1]) : 1 << 20;
    const int64_t usbBytes = argc > 2 ? std::atoll(argv[2]) : 8 << 20;
    char pattern[] = "/tmp/zapfer-serial-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path dir = pattern;
    measure(CommType::Com1, com1Bytes, dir);
    measure(CommType::Usb, usbBytes, dir);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
