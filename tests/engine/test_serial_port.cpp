#include "protocol.h"
#include "serial_port.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <numeric>
#include <thread>
#include <vector>

using namespace zapfer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
// A pty pair: the port under test opens the slave by name; the test plays the
// peer on the master.
struct Pty {
    UniqueFd master;
    UniqueFd slave; // held so that the master never sees a hang-up between opens
    std::string path;
};

Pty makePty() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    Pty pty;
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
        pty.master.reset(master);
        pty.slave.reset(slave);
        pty.path = name;
    }
    return pty;
}

std::unique_ptr<SerialPort> openOrFail(CommType type, const std::string& device) {
    LinkError why;
    auto port = SerialPort::open(type, device, &why);
    EXPECT_TRUE(port) << int(why.fault) << " errno " << why.error;
    return port;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    for (int tries = 0; done < bytes.size() && tries < 1000; ++tries) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
    }
    ASSERT_EQ(done, bytes.size());
}

// Up to n bytes from fd, giving up after 3 s.
std::vector<uint8_t> readUpTo(int fd, size_t n) {
    std::vector<uint8_t> out;
    const auto end = Clock::now() + 3s;
    while (out.size() < n && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        uint8_t buffer[512];
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, n - out.size()));
        if (got <= 0)
            break;
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

int pending(int fd) {
    int count = -1;
    ::ioctl(fd, FIONREAD, &count);
    return count;
}

// Waits (at most 3 s) until the line discipline holds n bytes for fd.
bool waitPending(int fd, int n) {
    for (int i = 0; i < 600; ++i) {
        if (pending(fd) >= n)
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

std::vector<uint8_t> concat(std::initializer_list<Frame> frames, std::vector<uint8_t> head = {}) {
    for (const Frame& f : frames)
        head.insert(head.end(), f.begin(), f.end());
    return head;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void signal(int eventFd) {
    const uint64_t one = 1;
    ASSERT_EQ(::write(eventFd, &one, sizeof one), ssize_t(sizeof one));
}
} // namespace

TEST(SerialPortOpen, RawModePassesEveryByteValueBothWays) {
    std::vector<uint8_t> up(256);
    std::iota(up.begin(), up.end(), uint8_t(0));
    const std::vector<uint8_t> down(up.rbegin(), up.rend());

    for (CommType type : {CommType::Usb, CommType::Com1, CommType::RawIr}) {
        SCOPED_TRACE(std::string(commTypeName(type)));
        Pty pty = makePty();
        ASSERT_TRUE(pty.master.valid());
        auto port = openOrFail(type, pty.path);
        ASSERT_TRUE(port);

        writeAll(pty.master.get(), up);
        std::vector<uint8_t> got(300);
        ASSERT_EQ(port->PortRead(got.data(), up.size()), up.size());
        got.resize(up.size());
        EXPECT_EQ(got, up) << "0x03, 0x0A, 0x0D, 0x11, 0x13 ... must arrive untouched";

        ASSERT_EQ(port->PortWrite(down.data(), down.size()), down.size());
        EXPECT_EQ(readUpTo(pty.master.get(), down.size()), down)
            << "nothing echoed, nothing translated";
        EXPECT_EQ(pending(pty.master.get()), 0);
    }
}

TEST(SerialPortOpen, LineSettingsPerType) {
    Pty com = makePty();
    ASSERT_TRUE(com.master.valid());
    auto port = openOrFail(CommType::Com2, com.path);
    ASSERT_TRUE(port);
    termios tio{};
    ASSERT_EQ(::tcgetattr(port->fd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&tio), speed_t(B115200));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));

    // USB keeps the speed the device has, but is raw all the same.
    Pty usb = makePty();
    ASSERT_TRUE(usb.master.valid());
    termios before{};
    ASSERT_EQ(::tcgetattr(usb.slave.get(), &before), 0);
    cfsetspeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(usb.slave.get(), TCSANOW, &before), 0);
    port = openOrFail(CommType::Usb, usb.path);
    ASSERT_TRUE(port);
    ASSERT_EQ(::tcgetattr(port->fd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
}

TEST(SerialPortOpen, SecondOpenOfTheSameDeviceIsBusyUntilTheFirstCloses) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto first = openOrFail(CommType::Com1, pty.path);
    ASSERT_TRUE(first);

    // Root passes TIOCEXCL; the lock must still refuse.
    LinkError why;
    EXPECT_FALSE(SerialPort::open(CommType::Com1, pty.path, &why));
    EXPECT_EQ(why.fault, LinkFault::Busy);
    EXPECT_EQ(why.device, pty.path);

    // The refused open left the holder's line alone.
    writeAll(pty.master.get(), {0x11, 0x13, 0x0D});
    uint8_t got[3] = {};
    ASSERT_EQ(first->PortRead(got, 3), 3u);
    EXPECT_EQ(got[2], 0x0D);

    first.reset();
    EXPECT_TRUE(openOrFail(CommType::Com1, pty.path)) << "lock and exclusivity released";
}

TEST(SerialPortOpen, FailuresNameTheDeviceAndTheCause) {
    LinkError why;
    EXPECT_FALSE(SerialPort::open(CommType::Com1, "/dev/zapfer-no-such-tty", &why));
    EXPECT_EQ(why, (LinkError{LinkFault::DeviceMissing, CommType::Com1, "/dev/zapfer-no-such-tty",
                              ENOENT}));

    EXPECT_FALSE(SerialPort::open(CommType::RawIr, "", &why));
    EXPECT_EQ(why, (LinkError{LinkFault::NoDevice, CommType::RawIr, "", 0}));

    char file[] = "/tmp/zapfer-not-a-tty-XXXXXX";
    const UniqueFd fd(::mkstemp(file));
    ASSERT_TRUE(fd.valid());
    EXPECT_FALSE(SerialPort::open(CommType::Usb, file, &why));
    ::unlink(file);
    EXPECT_EQ(why, (LinkError{LinkFault::NotSerialDevice, CommType::Usb, file, ENOTTY}));

    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    EXPECT_FALSE(SerialPort::open(CommType::Lan, pty.path, &why)) << "not a serial type";
    EXPECT_EQ(why.fault, LinkFault::NotSerial);
}

TEST(SerialPortRead, EndsAfterTheGapTheTotalTimeOrAWakeUp) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto port = openOrFail(CommType::Com1, pty.path);
    ASSERT_TRUE(port);
    std::vector<uint8_t> buffer(4000);

    // 4000 bytes would allow 5 s in all; five bytes then silence end at the gap.
    writeAll(pty.master.get(), {1, 2, 3, 4, 5});
    auto start = Clock::now();
    EXPECT_EQ(port->PortRead(buffer.data(), buffer.size()), 5u);
    EXPECT_GE(msSince(start), 100);
    EXPECT_LT(msSince(start), 2500);

    // Nothing at all: the whole 1000 + n ms.
    start = Clock::now();
    EXPECT_EQ(port->PortRead(buffer.data(), 10), 0u);
    EXPECT_GE(msSince(start), 1010);
    EXPECT_LT(msSince(start), 5000);

    // A wake-up ends the wait at once and is left for its owner to drain.
    const UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    ASSERT_TRUE(wake.valid());
    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);
        signal(wake.get());
    });
    start = Clock::now();
    EXPECT_EQ(port->PortRead(buffer.data(), buffer.size(), wake.get()), 0u);
    EXPECT_LT(msSince(start), 2500);
    waker.join();
    uint64_t count = 0;
    EXPECT_EQ(::read(wake.get(), &count, sizeof count), ssize_t(sizeof count));
    EXPECT_EQ(count, 1u);
}

TEST(SerialPortRead, ClosedPeerReadsAsSilenceWithoutSpinning) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto port = openOrFail(CommType::Com1, pty.path);
    ASSERT_TRUE(port);
    pty.master.reset();

    timespec cpuBefore{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuBefore);
    uint8_t buffer[16];
    EXPECT_EQ(port->PortRead(buffer, sizeof buffer), 0u);
    EXPECT_EQ(port->PortRead(buffer, sizeof buffer), 0u);
    timespec cpuAfter{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuAfter);
    const double cpuMs =
        (cpuAfter.tv_sec - cpuBefore.tv_sec) * 1e3 + (cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 500.0) << "two 1 s reads must wait, not spin";
    EXPECT_TRUE(port->deviceLost());
    EXPECT_EQ(port->PortWrite(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(PortSendCommand(*port, CMD_OK));
}

TEST(SerialPortWrite, StalledLineGivesUpOnWakeUpOrAfterTheStallLimit) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto port = openOrFail(CommType::Usb, pty.path);
    ASSERT_TRUE(port);
    // Far more than a pty buffers while nobody reads the master.
    const std::vector<uint8_t> data(1 << 20, 0x5A);

    const UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    ASSERT_TRUE(wake.valid());
    signal(wake.get());
    const size_t woken = port->PortWrite(data.data(), data.size(), wake.get());
    EXPECT_GT(woken, 0u);
    EXPECT_LT(woken, data.size());

    const auto start = Clock::now();
    EXPECT_LT(port->PortWrite(data.data(), data.size()), data.size());
    EXPECT_GE(msSince(start), 5000);
    EXPECT_LT(msSince(start), 30000);
    EXPECT_FALSE(port->deviceLost()) << "a full line is not a lost device";
}

TEST(SerialCommands, GarbledFrameWithAMarkerPurgesTheInput) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto port = openOrFail(CommType::Com1, pty.path);
    ASSERT_TRUE(port);

    for (const uint8_t marker : {uint8_t(0xFF), uint8_t(0x11)}) {
        SCOPED_TRACE(int(marker));
        writeAll(pty.master.get(),
                 concat({BuildFrame(CMD_OK), BuildFrame(CMD_OK)}, {0x52, 0x00, marker, 0x53}));
        ASSERT_TRUE(waitPending(port->fd(), 12));
        EXPECT_EQ(PortReceiveCommand(*port), 0);
        EXPECT_EQ(pending(port->fd()), 0) << "the frames behind the garbled one are dropped";
    }

    // Noise without a marker is not purged: the next frame still reads.
    writeAll(pty.master.get(), concat({BuildFrame(CMD_ACCEPTED)}, {1, 2, 3, 4}));
    ASSERT_TRUE(waitPending(port->fd(), 8));
    EXPECT_EQ(PortReceiveCommand(*port), 0);
    EXPECT_EQ(PortReceiveCommand(*port), CMD_ACCEPTED);

    EXPECT_TRUE(PortSendCommand(*port, CMD_BLOCK_OK));
    EXPECT_EQ(readUpTo(pty.master.get(), 4), (std::vector<uint8_t>{0x54, 0xFF, 0x54, 0x11}));
}

TEST(SerialCommands, PurgeInputDropsPendingBytesOnly) {
    Pty pty = makePty();
    ASSERT_TRUE(pty.master.valid());
    auto port = openOrFail(CommType::RawIr, pty.path);
    ASSERT_TRUE(port);

    writeAll(pty.master.get(), concat({BuildFrame(CMD_PING), BuildFrame(CMD_CONNECT)}));
    ASSERT_TRUE(waitPending(port->fd(), 8));
    port->purgeInput();
    EXPECT_EQ(pending(port->fd()), 0);

    writeAll(pty.master.get(), concat({BuildFrame(CMD_NAME_REQUEST)}));
    EXPECT_EQ(PortReceiveCommand(*port), CMD_NAME_REQUEST);
}
