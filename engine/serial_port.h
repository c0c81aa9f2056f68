#pragma once

// An open serial device for the serial communication types (USB, COM1, COM2,
// RAW IR): raw line settings, exclusive use, and reads and writes with the
// serial link's time-outs.
//
// Thread contract: a SerialPort is used by one thread at a time (the engine's
// TransferThread). Other threads interrupt its waits only through the wake
// descriptor passed to PortRead / PortWrite, never by closing the port.

#include "comm_type.h"
#include "command_reader.h"
#include "link_error.h"
#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace zapfer {

// The modem lines (TIOCM_DTR, TIOCM_RTS bits) a port of each type raises and
// lowers as it opens. Opening a tty raises DTR and RTS by itself; COM1 and
// COM2 want them up, RAW IR wants them down (an infrared adapter reads them
// as its own controls), and USB is left as the device has them.
struct ModemLines {
    int raise = 0;
    int lower = 0;
};
ModemLines modemLinesFor(CommType type);

class SerialPort {
    struct Token {};

public:
    // Opens `device` for `type` exclusively (TIOCEXCL and an flock, which also
    // holds against root), in raw mode: 115200 8N1 for COM1, COM2 and RAW IR,
    // the device's own speed for USB. COM1 and COM2 get DTR and RTS raised,
    // RAW IR gets them lowered (modemLinesFor).
    // Both directions are purged. On failure returns null and, when `why` is
    // given, the cause.
    static std::unique_ptr<SerialPort> open(CommType type, const std::string& device,
                                            LinkError* why);

    SerialPort(Token, UniqueFd fd, CommType type, std::string device);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Reads up to n bytes. Returns when all n arrived, 100 ms after the last
    // byte, 1000 + n ms after the call, or as soon as `wakeFd` (an eventfd, not
    // read here: its owner drains it) becomes readable. Returns the count read.
    size_t PortRead(uint8_t* buffer, size_t n, int wakeFd = -1);
    // Writes all n bytes unless the device makes no progress for 5 s, fails,
    // or `wakeFd` becomes readable. Returns the count written.
    size_t PortWrite(const uint8_t* data, size_t n, int wakeFd = -1);

    // Whatever has arrived, at most n bytes, without waiting; -1 with errno
    // EAGAIN when nothing has.
    ssize_t readAvailable(uint8_t* buffer, size_t n);

    void purgeInput();
    void purgeBoth();

    // The device hung up or failed (unplugged adapter, closed pty): reads now
    // behave as silence and writes move nothing. The owner may reopen it.
    bool deviceLost() const { return m_lost; }

    int fd() const { return m_fd.get(); }
    CommType type() const { return m_type; }
    const std::string& device() const { return m_device; }

private:
    void markLost() { m_lost = true; }

    UniqueFd m_fd;
    CommType m_type;
    std::string m_device;
    bool m_lost = false;
};

// The serial command reader's view of a port.
class SerialByteSource : public ByteSource {
public:
    SerialByteSource(SerialPort& port, int wakeFd) : m_port(port), m_wakeFd(wakeFd) {}
    bool readExact(uint8_t* buffer, size_t n) override;
    void discardInput() override;

private:
    SerialPort& m_port;
    int m_wakeFd;
};

// One command frame in, with the serial link's purge on a garbled frame; 0
// when no valid frame arrived.
uint8_t PortReceiveCommand(SerialPort& port, int wakeFd = -1);
// One command frame out, in a single write; false when it did not all go.
bool PortSendCommand(SerialPort& port, uint8_t code, int wakeFd = -1);

} // namespace zapfer
