#include "link.h"

#include "command_reader.h"
#include "protocol.h"

#include <poll.h>

namespace zapfer {

namespace {
class LinkSource : public ByteSource {
public:
    LinkSource(Link& link, int silenceLimitMs, IoMode mode)
        : m_link(link), m_silenceLimitMs(silenceLimitMs), m_mode(mode) {}
    bool readExact(uint8_t* buffer, size_t n) override {
        return m_link.receiveExact(buffer, n, m_silenceLimitMs, m_mode);
    }
    void discardInput() override { m_link.drainInput(); }

private:
    Link& m_link;
    int m_silenceLimitMs;
    IoMode m_mode;
};
} // namespace

short Link::waitDirections(bool forWrite, int timeoutMs) {
    if (!waitReady(forWrite, timeoutMs))
        return 0;
    return short(POLLIN | (forWrite ? POLLOUT : 0));
}

ssize_t Link::sendSomeOf(std::span<const iovec> pieces) {
    for (const iovec& piece : pieces) {
        if (piece.iov_len > 0)
            return sendSome(static_cast<const uint8_t*>(piece.iov_base), piece.iov_len);
    }
    return 0;
}

uint8_t receiveCommand(Link& link, int silenceLimitMs, IoMode mode) {
    LinkSource source(link, silenceLimitMs, mode);
    return link.traits().dialect == Dialect::Stream ? ReadSocketCommand(source)
                                                    : ReadSerialCommand(source);
}

bool sendCommand(Link& link, uint8_t code, IoMode mode) {
    const Frame frame = BuildFrame(code);
    return link.sendAll(frame, mode);
}

} // namespace zapfer
