#pragma once

// A serial line to the peer (USB, COM1, COM2, RAW IR): the serial port with
// the line's read time-outs and pacing waits.

#include "link.h"
#include "serial_port.h"
#include "waker.h"

#include <memory>

namespace zapfer {

class SerialLink : public Link {
public:
    SerialLink(std::unique_ptr<SerialPort> port, LinkContext context);

    const LinkTraits& traits() const override { return m_traits; }
    bool sendAll(std::span<const uint8_t> bytes, IoMode mode = IoMode::Normal) override;
    bool receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs = 0,
                      IoMode mode = IoMode::Normal) override;
    ssize_t receiveSome(uint8_t* buffer, size_t max) override;
    ssize_t sendSome(const uint8_t* bytes, size_t n) override;
    bool waitReady(bool forWrite, int timeoutMs) override;
    bool hasBuffered() const override { return false; }
    void drainInput() override { m_port->purgeInput(); }
    bool alive() const override { return !m_port->deviceLost(); }

    SerialPort& port() { return *m_port; }

private:
    std::unique_ptr<SerialPort> m_port;
    LinkTraits m_traits;
    LinkContext m_context;
};

} // namespace zapfer
