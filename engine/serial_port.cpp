#include "serial_port.h"

#include "protocol.h"
#include "serial_timing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so that a wait never ends
// early; 0 once it has passed.
int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 60'000 ? 60'000 : static_cast<int>(ms);
}

bool isGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// Raw bytes both ways: 0x11 and 0x13 are protocol bytes, so no software flow
// control; no echo, line editing, signals or CR/NL translation.
void makeRaw(termios& tio) {
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                             IXOFF | IXANY | INPCK | IMAXBEL | IUCLC);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

void setLineSettings(termios& tio) {
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~tcflag_t(CSTOPB | CRTSCTS);
}
} // namespace

LinkError serialOpenError(CommType type, const std::string& device, int error) {
    LinkFault fault = LinkFault::OpenFailed;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        fault = LinkFault::DeviceMissing;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        fault = LinkFault::NoPermission;
        break;
    case EBUSY:
    case EWOULDBLOCK:
        fault = LinkFault::Busy;
        break;
    case ENOTTY:
    case EISDIR:
        fault = LinkFault::NotSerialDevice;
        break;
    default:
        break;
    }
    return {fault, type, device, error};
}

ModemLines modemLinesFor(CommType type) {
    switch (type) {
    case CommType::Com1:
    case CommType::Com2:
        return {TIOCM_DTR | TIOCM_RTS, 0};
    case CommType::RawIr:
        return {0, TIOCM_DTR | TIOCM_RTS};
    default:
        return {};
    }
}

std::unique_ptr<SerialPort> SerialPort::open(CommType type, const std::string& device,
                                             LinkError* why) {
    auto fail = [why](LinkError error) -> std::unique_ptr<SerialPort> {
        if (why)
            *why = std::move(error);
        return nullptr;
    };
    if (!isSerial(type))
        return fail({LinkFault::NotSerial, type, device, 0});
    if (device.empty())
        return fail({LinkFault::NoDevice, type, device, 0});

    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return fail(serialOpenError(type, device, errno));

    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0)
        return fail(serialOpenError(type, device, errno == EINVAL ? ENOTTY : errno));
    // TIOCEXCL refuses later opens except by root; the lock refuses everyone,
    // and is checked before anything of the holder's settings is touched.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return fail(serialOpenError(type, device, EBUSY));
    ::ioctl(fd.get(), TIOCEXCL);

    makeRaw(tio);
    if (type != CommType::Usb)
        setLineSettings(tio);
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        const int error = errno;
        ::ioctl(fd.get(), TIOCNXCL);
        return fail({LinkFault::LineSettings, type, device, error});
    }

    // DTR first, then RTS. A pty or an adapter without modem lines refuses
    // these; that is fine.
    const ModemLines lines = modemLinesFor(type);
    for (int bit : {TIOCM_DTR, TIOCM_RTS}) {
        int bits = bit;
        if (lines.raise & bit)
            ::ioctl(fd.get(), TIOCMBIS, &bits);
        else if (lines.lower & bit)
            ::ioctl(fd.get(), TIOCMBIC, &bits);
    }
    ::tcflush(fd.get(), TCIOFLUSH);
    return std::make_unique<SerialPort>(Token{}, std::move(fd), type, device);
}

SerialPort::SerialPort(Token, UniqueFd fd, CommType type, std::string device)
    : m_fd(std::move(fd)), m_type(type), m_device(std::move(device)) {}

SerialPort::~SerialPort() {
    // The kernel's close waits up to 30 s for the output to drain; a line held
    // by flow control gets one second, then its unsent bytes are dropped.
    for (int i = 0; i < 100 && !m_lost; ++i) {
        int pending = 0;
        if (::ioctl(m_fd.get(), TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::tcflush(m_fd.get(), TCOFLUSH);
    ::ioctl(m_fd.get(), TIOCNXCL);
}

size_t SerialPort::PortRead(uint8_t* buffer, size_t n, int wakeFd) {
    // A lost device answers at once with nothing: its owner closes it and
    // paces its own retries, and no read of a long message waits it out.
    if (n == 0 || m_lost)
        return 0;
    const auto end = Clock::now() + std::chrono::milliseconds(serialReadTotalMs(n));
    auto deadline = end;
    size_t got = 0;
    while (got < n) {
        const int timeout = msUntil(deadline);
        if (timeout == 0)
            break;
        // A lost device is left out of the poll, which then just waits: the
        // caller's loop sees silence instead of spinning on a dead descriptor.
        pollfd fds[2] = {{m_lost ? -1 : m_fd.get(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            continue;
        if (wakeFd >= 0 && fds[1].revents != 0)
            break;
        if (fds[0].revents & POLLIN) {
            const ssize_t count = ::read(m_fd.get(), buffer + got, n - got);
            if (count > 0) {
                got += size_t(count);
                const auto gapEnd = Clock::now() + std::chrono::milliseconds(kSerialReadGapMs);
                deadline = gapEnd < end ? gapEnd : end;
            } else if (count == 0 || !(errno == EAGAIN || errno == EINTR)) {
                markLost(); // end of file or a failed device
                break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            markLost();
            break;
        }
    }
    return got;
}

size_t SerialPort::PortWrite(const uint8_t* data, size_t n, int wakeFd) {
    auto stallEnd = Clock::now() + std::chrono::milliseconds(kSerialWriteStallMs);
    size_t done = 0;
    while (done < n && !m_lost) {
        const ssize_t count = ::write(m_fd.get(), data + done, n - done);
        if (count > 0) {
            done += size_t(count);
            stallEnd = Clock::now() + std::chrono::milliseconds(kSerialWriteStallMs);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || errno != EAGAIN) {
            if (count < 0 && isGoneError(errno))
                markLost();
            break;
        }
        const int timeout = msUntil(stallEnd);
        if (timeout == 0)
            break;
        pollfd fds[2] = {{m_fd.get(), POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && wakeFd >= 0 && fds[1].revents != 0)
            break;
        if (ready > 0 && !(fds[0].revents & POLLOUT) &&
            (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            markLost();
            break;
        }
    }
    return done;
}

ssize_t SerialPort::readAvailable(uint8_t* buffer, size_t n) {
    if (m_lost) {
        errno = EIO;
        return -1;
    }
    const ssize_t count = ::read(m_fd.get(), buffer, n);
    if (count == 0 || (count < 0 && isGoneError(errno))) {
        markLost();
        errno = EIO;
        return -1;
    }
    return count;
}

void SerialPort::purgeInput() {
    ::tcflush(m_fd.get(), TCIFLUSH);
}
void SerialPort::purgeBoth() {
    ::tcflush(m_fd.get(), TCIOFLUSH);
}

bool SerialByteSource::readExact(uint8_t* buffer, size_t n) {
    return m_port.PortRead(buffer, n, m_wakeFd) == n;
}

void SerialByteSource::discardInput() {
    m_port.purgeInput();
}

uint8_t PortReceiveCommand(SerialPort& port, int wakeFd) {
    SerialByteSource source(port, wakeFd);
    return ReadSerialCommand(source);
}

bool PortSendCommand(SerialPort& port, uint8_t code, int wakeFd) {
    const Frame frame = BuildFrame(code);
    return port.PortWrite(frame.data(), frame.size(), wakeFd) == frame.size();
}

} // namespace zapfer
