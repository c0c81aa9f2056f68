#pragma once

// Why a link could not be opened or was lost, as a value: the front ends
// word it (the window from its string table, zapfer-cli in its own terms).

#include "comm_type.h"

#include <string>

namespace zapfer {

enum class LinkFault {
    None,
    NotSerial,           // the type has no serial port
    NoDevice,            // no serial device is set for the type
    DeviceMissing,       // the device path names nothing
    NoPermission,        // the user may not open the device
    Busy,                // another program holds the device
    NotSerialDevice,     // the path is not a terminal
    OpenFailed,          // any other failure to open; see `error`
    LineSettings,        // the line settings were refused; see `error`
    DeviceGone,          // the device went away while open
    InfraredUnavailable, // this system has no infrared sockets
};

struct LinkError {
    LinkFault fault = LinkFault::None;
    CommType type = CommType::Lan;
    std::string device; // the serial device's path, where one is involved
    int error = 0;      // the errno behind OpenFailed and LineSettings

    bool failed() const { return fault != LinkFault::None; }
    bool operator==(const LinkError&) const = default;
};

// Sorts the errno of a failed open of `device`.
LinkError serialOpenError(CommType type, const std::string& device, int error);

} // namespace zapfer
