#include "link_error_text.h"

#include <system_error>

namespace zapfer::cli {

std::string describeLinkError(const LinkError& error) {
    const std::string type(commTypeName(error.type));
    const std::string& device = error.device;
    const auto cause = [&error] { return std::generic_category().message(error.error); };
    switch (error.fault) {
    case LinkFault::None:
        return {};
    case LinkFault::NotSerial:
        return type + " is not a serial link.";
    case LinkFault::NoDevice:
        return "No serial device is set for " + type + ".";
    case LinkFault::DeviceMissing:
        return "The serial device " + device + " does not exist.";
    case LinkFault::NoPermission:
        return "No permission to open the serial device " + device + ".";
    case LinkFault::Busy:
        return "The serial device " + device + " is busy: another program is using it.";
    case LinkFault::NotSerialDevice:
        return device + " is not a serial device.";
    case LinkFault::OpenFailed:
        return "Cannot open the serial device " + device + ": " + cause() + ".";
    case LinkFault::LineSettings:
        return "Cannot set the line settings of the serial device " + device + ": " + cause() + ".";
    case LinkFault::DeviceGone:
        return "The serial device " + device + " has gone away.";
    case LinkFault::InfraredUnavailable:
        return "Infrared sockets are not available on this system.";
    }
    return {};
}

} // namespace zapfer::cli
