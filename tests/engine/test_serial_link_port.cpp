// Opening the serial port of a serial type: the message when it cannot be
// opened, the reason kept for zapfer-cli, and the once-a-second retry.

#include "serial_harness.h"
#include "serial_port.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
const std::string kPortMessage =
    "Unable to open the communications port; please close any applications which may be "
    "using the same port.  Zapfer will continue to monitor the port and open it when "
    "available.";

class CaptionEvents : public RecordingEvents {
public:
    void linkMessage(const std::string& text, const std::string& caption) override {
        {
            std::lock_guard lock(mutex);
            captions.push_back(caption);
        }
        RecordingEvents::linkMessage(text, caption);
    }
    std::vector<std::string> captions;
};

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
    std::string reason;
    auto holder = SerialPort::open(CommType::Com2, pty.path, &reason);
    ASSERT_TRUE(holder) << reason;

    CaptionEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(pty.path));
    EXPECT_FALSE(engine.selectCommType(CommType::Com1, true));
    EXPECT_FALSE(engine.canSend());
    EXPECT_EQ(events.messages, std::vector<std::string>{kPortMessage});
    EXPECT_EQ(events.captions, std::vector<std::string>{"COM1"});
    EXPECT_NE(engine.lastLinkError().find("busy"), std::string::npos) << engine.lastLinkError();
    EXPECT_NE(engine.lastLinkError().find(pty.path), std::string::npos) << engine.lastLinkError();
    SendRefused why;
    EXPECT_FALSE(engine.beginSend({{"/etc/hostname", 1}}, &why));
    EXPECT_EQ(why.reason, SendRefused::Reason::LinkClosed);

    engine.start();
    EXPECT_FALSE(engine.retrySerialPort()) << "still held";
    holder.reset();
    EXPECT_TRUE(engine.retrySerialPort());
    EXPECT_TRUE(engine.canSend());
    EXPECT_TRUE(engine.lastLinkError().empty());
    EXPECT_EQ(events.messages.size(), 1u) << "the retry is quiet";
    engine.stop();
}

TEST(SerialLinkPort, RawIrWithoutADeviceNameGivesTheMessage) {
    CaptionEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(""));
    EXPECT_FALSE(engine.selectCommType(CommType::RawIr, true));
    EXPECT_EQ(events.messages, std::vector<std::string>{kPortMessage});
    EXPECT_EQ(events.captions, std::vector<std::string>{"RAW IR"});
    EXPECT_NE(engine.lastLinkError().find("RAW IR"), std::string::npos) << engine.lastLinkError();

    // Quiet when asked to be, as the retry is; a missing device says so.
    EXPECT_FALSE(engine.selectCommType(CommType::Com1, false));
    EXPECT_EQ(events.messages.size(), 1u);
    engine.setSettings(devicesAt("/dev/zapfer-no-such-device"));
    EXPECT_FALSE(engine.selectCommType(CommType::Usb, false));
    EXPECT_NE(engine.lastLinkError().find("does not exist"), std::string::npos)
        << engine.lastLinkError();
}

TEST(SerialLinkPort, VanishedDeviceIsClosedAndReopenedWhenItReturns) {
    TempDir dir;
    const fs::path device = dir / "serial-link";
    auto first = std::make_unique<Pty>(makePty());
    fs::create_symlink(first->path, device);

    CaptionEvents events;
    Engine engine(events);
    engine.setSettings(devicesAt(device.string()));
    ASSERT_TRUE(engine.selectCommType(CommType::Com1, true)) << engine.lastLinkError();
    engine.start();

    first.reset(); // the adapter is pulled: the responder sees the hang-up
    ASSERT_TRUE(events.waitUntil([&] { return !engine.canSend(); }));
    EXPECT_NE(engine.lastLinkError().find("gone"), std::string::npos) << engine.lastLinkError();
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
