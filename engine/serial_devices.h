#pragma once

// Which device file each serial communication type uses.

#include "comm_type.h"

#include <optional>
#include <string>

namespace zapfer {

// Serial device paths of the serial communication types.
struct SerialDevices {
    std::string usb;
    std::string com1 = "/dev/ttyS0";
    std::string com2 = "/dev/ttyS1";
    std::string rawIr;
};

// The device names as the settings hold them ("UsbPort", "Com1Port",
// "Com2Port", "RawIrPort"); nullopt where the user never set one.
struct StoredSerialDevices {
    std::optional<std::string> usb;
    std::optional<std::string> com1;
    std::optional<std::string> com2;
    std::optional<std::string> rawIr;
};

inline constexpr const char* kSerialByIdDir = "/dev/serial/by-id";

// A stored name is used as it is, even when empty. Unset names default to: USB
// the first entry by name of `byIdDir` (empty when there is none), COM1
// /dev/ttyS0, COM2 /dev/ttyS1, RAW IR empty (no default device exists).
SerialDevices FindPorts(const StoredSerialDevices& stored,
                        const std::string& byIdDir = kSerialByIdDir);

// The device of a serial type; empty for the socket types.
std::string serialDeviceFor(CommType type, const SerialDevices& devices);

} // namespace zapfer
