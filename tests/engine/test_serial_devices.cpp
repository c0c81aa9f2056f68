#include "engine.h"
#include "serial_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace zapfer;
namespace fs = std::filesystem;

namespace {
// A stand-in for /dev/serial/by-id, removed afterwards.
class ByIdDir {
public:
    ByIdDir() {
        std::string pattern = (fs::temp_directory_path() / "zapfer-by-id-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~ByIdDir() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }
    void add(const std::string& name) { std::ofstream(fs::path(m_path) / name).put('x'); }

private:
    std::string m_path;
};
} // namespace

TEST(FindPorts, UnsetNamesTakeTheirDefaults) {
    ByIdDir byId;
    ASSERT_FALSE(byId.path().empty());
    byId.add("usb-Vendor_Zeta-if00-port0");
    byId.add("usb-Vendor_Alpha-if00-port0");
    byId.add(".hidden");

    const SerialDevices found = FindPorts({}, byId.path());
    EXPECT_EQ(found.usb, byId.path() + "/usb-Vendor_Alpha-if00-port0") << "first by name";
    EXPECT_EQ(found.com1, "/dev/ttyS0");
    EXPECT_EQ(found.com2, "/dev/ttyS1");
    EXPECT_EQ(found.rawIr, "");

    // Each type reads its own field.
    EXPECT_EQ(serialDeviceFor(CommType::Usb, found), found.usb);
    EXPECT_EQ(serialDeviceFor(CommType::Com1, found), "/dev/ttyS0");
    EXPECT_EQ(serialDeviceFor(CommType::Com2, found), "/dev/ttyS1");
    EXPECT_EQ(serialDeviceFor(CommType::RawIr, found), "");
    EXPECT_EQ(serialDeviceFor(CommType::Lan, found), "");
}

TEST(FindPorts, NoUsbAdapterMeansNoUsbDevice) {
    ByIdDir empty;
    ASSERT_FALSE(empty.path().empty());
    EXPECT_EQ(FindPorts({}, empty.path()).usb, "");
    EXPECT_EQ(FindPorts({}, empty.path() + "/missing").usb, "");
}

TEST(FindPorts, StoredNamesWinEvenWhenEmpty) {
    ByIdDir byId;
    ASSERT_FALSE(byId.path().empty());
    byId.add("usb-Vendor_Alpha-if00-port0");

    StoredSerialDevices stored;
    stored.usb = "/dev/ttyACM3";
    stored.com1 = "/dev/ttyUSB1";
    stored.com2 = "";
    stored.rawIr = "/dev/ttyS4";
    const SerialDevices found = FindPorts(stored, byId.path());
    EXPECT_EQ(found.usb, "/dev/ttyACM3");
    EXPECT_EQ(found.com1, "/dev/ttyUSB1");
    EXPECT_EQ(found.com2, "") << "an explicit empty name is not replaced by the default";
    EXPECT_EQ(found.rawIr, "/dev/ttyS4");
    EXPECT_EQ(serialDeviceFor(CommType::RawIr, found), "/dev/ttyS4");
}
