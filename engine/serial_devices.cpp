#include "serial_devices.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace zapfer {

namespace {
// The by-id names stay the same across re-plugging, unlike /dev/ttyUSBn.
std::string firstUsbSerialDevice(const std::string& byIdDir) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(byIdDir, error);
    if (error)
        return {};
    std::vector<std::string> names;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name.front() != '.')
            names.push_back(std::move(name));
    }
    if (names.empty())
        return {};
    return (fs::path(byIdDir) / *std::min_element(names.begin(), names.end())).string();
}
} // namespace

SerialDevices FindPorts(const StoredSerialDevices& stored, const std::string& byIdDir) {
    SerialDevices devices;
    devices.usb = stored.usb ? *stored.usb : firstUsbSerialDevice(byIdDir);
    devices.com1 = stored.com1.value_or("/dev/ttyS0");
    devices.com2 = stored.com2.value_or("/dev/ttyS1");
    devices.rawIr = stored.rawIr.value_or("");
    return devices;
}

std::string serialDeviceFor(CommType type, const SerialDevices& devices) {
    switch (type) {
    case CommType::Usb:
        return devices.usb;
    case CommType::Com1:
        return devices.com1;
    case CommType::Com2:
        return devices.com2;
    case CommType::RawIr:
        return devices.rawIr;
    default:
        return {};
    }
}

} // namespace zapfer
