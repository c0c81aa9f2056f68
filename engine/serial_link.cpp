#include "serial_link.h"

#include "serial_timing.h"

#include <cerrno>
#include <poll.h>

namespace zapfer {

SerialLink::SerialLink(std::unique_ptr<SerialPort> port, LinkContext context)
    : m_port(std::move(port)), m_context(context) {
    const CommType type = m_port->type();
    m_traits.dialect = Dialect::Line;
    m_traits.blockSize = blockSizeFor(type);
    m_traits.silenceLimitMs = kSerialReadGapMs;
    m_traits.commandWaitMs = kSerialCommandWaitMs;
    m_traits.closeWaitMs = kSerialCloseWaitMs;
    m_traits.abortWaitMs = kSerialAbortWaitMs;
    m_traits.blockPacingMs = blockPacingMs(type);
    m_traits.crcWaitMs = responderCrcWaitMs(type);
}

bool SerialLink::sendAll(std::span<const uint8_t> bytes, IoMode) {
    return alive() &&
           m_port->PortWrite(bytes.data(), bytes.size(), m_context.waker.fd()) == bytes.size();
}

bool SerialLink::receiveExact(uint8_t* buffer, size_t n, int, IoMode) {
    if (!alive()) {
        // A lost device answers at once; the pause keeps the caller's loop paced.
        m_context.waker.pause(kClosedPortReadMs);
        return false;
    }
    return m_port->PortRead(buffer, n, m_context.waker.fd()) == n;
}

ssize_t SerialLink::receiveSome(uint8_t* buffer, size_t max) {
    return m_port->readAvailable(buffer, max);
}

ssize_t SerialLink::sendSome(const uint8_t* bytes, size_t n) {
    return ssize_t(m_port->PortWrite(bytes, n, m_context.waker.fd()));
}

bool SerialLink::waitReady(bool forWrite, int timeoutMs) {
    if (!alive()) {
        m_context.waker.pause(timeoutMs);
        return false;
    }
    return m_context.waker.waitFor(m_port->fd(), short(POLLIN | (forWrite ? POLLOUT : 0)),
                                   timeoutMs);
}

} // namespace zapfer
