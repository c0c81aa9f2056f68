// The serial link's transfer steps. The serial port layer is in place; the
// link set-up, sender and responder over it are still to come, so until then
// a serial type can neither send nor receive.

#include "engine.h"

#include "serial_port.h"
#include "serial_timing.h"

namespace zapfer {

bool Engine::openSerialLink(CommType type, bool reportFailure) {
    const std::string device = [&] {
        const SerialDevices devices = settings().serialDevices;
        switch (type) {
        case CommType::Usb:
            return devices.usb;
        case CommType::Com1:
            return devices.com1;
        case CommType::Com2:
            return devices.com2;
        default:
            return devices.rawIr;
        }
    }();
    std::string reason;
    m_serialPort = SerialPort::open(type, device, &reason);
    if (!m_serialPort && reportFailure)
        m_events.linkMessage(
            "Unable to open the communications port; please close any applications which may be "
            "using the same port.  Zapfer will continue to monitor the port and open it when "
            "available.",
            std::string(commTypeName(type)));
    return m_serialPort != nullptr;
}

void Engine::SerialDial() {
    setAbort();
}
void Engine::SerialKeepAlive() {}
void Engine::SerialSender() {
    finishSender(false);
}
void Engine::SerialResponderStep() {
    pause(kClosedPortReadMs);
}

} // namespace zapfer
