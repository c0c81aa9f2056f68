#include "link.h"

#include "command_reader.h"
#include "protocol.h"

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
