// The modem lines each serial type sets as its port opens: COM1 and COM2
// raise DTR and RTS, RAW IR lowers both (a tty raises them when opened, and an
// infrared adapter reads them as its controls), USB leaves them as they are.
// A pty has no modem lines, so the choice is checked as a value, and a port of
// every type still opens on one.

#include "serial_port.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace zapfer;

TEST(SerialModemLines, EachTypeRaisesOrLowersDtrAndRts) {
    const int both = TIOCM_DTR | TIOCM_RTS;
    for (const CommType type : {CommType::Com1, CommType::Com2}) {
        EXPECT_EQ(modemLinesFor(type).raise, both) << commTypeName(type);
        EXPECT_EQ(modemLinesFor(type).lower, 0) << commTypeName(type);
    }
    EXPECT_EQ(modemLinesFor(CommType::RawIr).raise, 0);
    EXPECT_EQ(modemLinesFor(CommType::RawIr).lower, both);
    for (const CommType type : {CommType::Usb, CommType::Irda, CommType::Lan, CommType::Wan}) {
        EXPECT_EQ(modemLinesFor(type).raise, 0) << commTypeName(type);
        EXPECT_EQ(modemLinesFor(type).lower, 0) << commTypeName(type);
    }
}

TEST(SerialModemLines, APortWithoutModemLinesStillOpensForEveryType) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    for (const CommType type : {CommType::Usb, CommType::Com1, CommType::Com2, CommType::RawIr}) {
        LinkError why;
        const auto port = SerialPort::open(type, name, &why);
        EXPECT_NE(port, nullptr) << commTypeName(type) << ": fault " << int(why.fault) << " errno "
                                 << why.error;
    }
    ::close(slave);
    ::close(master);
}
