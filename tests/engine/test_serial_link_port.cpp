// Opening the serial port of a serial type: the failure told when it cannot
// be opened, the cause kept for the front ends, and the once-a-second retry.

#include "serial_harness.h"
#include "serial_port.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
EngineSettings devicesAt(const std::string& device) {
    EngineSettings settings;
    settings.serialDevices.com1 = device;
    settings.serialDevices.com2 = device;
    settings.serialDevices.usb = device;
    settings.serialDevices.rawIr = device;
    return settings;
}
} // namespace

TEST(SerialLinkPort, BusyPortIsReportedOnceAndOpensByItselfWhenFree) {
    Pty pty = makePty();
    auto holder = SerialPort::open(CommType::Com2, pty.path, nullptr);
    ASSERT_TRUE(holder);

    RecordingEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(pty.path));
    EXPECT_FALSE(engine.selectCommType(CommType::Com1, true));
    EXPECT_FALSE(engine.snapshot().canSend);
    const LinkError busy{LinkFault::Busy, CommType::Com1, pty.path, EBUSY};
    EXPECT_EQ(events.linkErrors, std::vector<LinkError>{busy});
    EXPECT_EQ(engine.linkError(), busy);
    SendRefused why;
    EXPECT_EQ(engine.send({{"/etc/hostname", 1}}, &why), kNoTransfer);
    EXPECT_EQ(why.reason, SendRefused::Reason::LinkClosed);

    engine.start();
    EXPECT_FALSE(engine.retrySerialPort()) << "still held";
    holder.reset();
    EXPECT_TRUE(engine.retrySerialPort());
    EXPECT_TRUE(engine.snapshot().canSend);
    EXPECT_FALSE(engine.linkError().failed());
    EXPECT_EQ(events.linkErrors.size(), 1u) << "the retry is quiet";
    engine.stop();
}

TEST(SerialLinkPort, RawIrWithoutADeviceNameGivesTheMessage) {
    RecordingEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(""));
    EXPECT_FALSE(engine.selectCommType(CommType::RawIr, true));
    const LinkError none{LinkFault::NoDevice, CommType::RawIr, "", 0};
    EXPECT_EQ(events.linkErrors, std::vector<LinkError>{none});
    EXPECT_EQ(engine.linkError(), none);

    // Quiet when asked to be, as the retry is; a missing device says so.
    EXPECT_FALSE(engine.selectCommType(CommType::Com1, false));
    EXPECT_EQ(events.linkErrors.size(), 1u);
    engine.setSettings(devicesAt("/dev/zapfer-no-such-device"));
    EXPECT_FALSE(engine.selectCommType(CommType::Usb, false));
    EXPECT_EQ(engine.linkError().fault, LinkFault::DeviceMissing);
    EXPECT_EQ(engine.linkError().device, "/dev/zapfer-no-such-device");
}

TEST(SerialLinkPort, VanishedDeviceIsClosedAndReopenedWhenItReturns) {
    TempDir dir;
    const fs::path device = dir / "serial-link";
    auto first = std::make_unique<Pty>(makePty());
    fs::create_symlink(first->path, device);

    RecordingEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(device.string()));
    ASSERT_TRUE(engine.selectCommType(CommType::Com1, true));
    engine.start();

    first.reset(); // the adapter is pulled: the responder sees the hang-up
    ASSERT_TRUE(events.waitUntil([&] { return !engine.snapshot().canSend; }));
    EXPECT_EQ(engine.linkError(),
              (LinkError{LinkFault::DeviceGone, CommType::Com1, device.string(), 0}));
    EXPECT_FALSE(engine.retrySerialPort());

    Pty second = makePty();
    fs::remove(device);
    fs::create_symlink(second.path, device);
    EXPECT_TRUE(engine.retrySerialPort());
    WirePeer peer = WirePeer::pty(second.master.get());
    peer.sendCommand(CMD_PING);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    engine.stop();
}
