// The serial link: opening the port of a serial type, byte and command I/O
// over it, and the initiator's link set-up and keep-alive. Everything here
// runs on TransferThread (or on the front end before start / after stop).

#include "engine.h"

#include "received_file.h"
#include "serial_port.h"
#include "serial_timing.h"

#include <algorithm>
#include <cstring>

namespace zapfer {

namespace {
constexpr const char* kPortMessage =
    "Unable to open the communications port; please close any applications which may be "
    "using the same port.  Zapfer will continue to monitor the port and open it when "
    "available.";
} // namespace

std::string Engine::lastLinkError() const {
    std::lock_guard lock(m_linkErrorMutex);
    return m_lastLinkError;
}

bool Engine::openSerialLink(CommType type, bool reportFailure) {
    const std::string device = serialDeviceFor(type, settings().serialDevices);
    std::string reason;
    m_serialPort = SerialPort::open(type, device, &reason);
    {
        std::lock_guard lock(m_linkErrorMutex);
        m_lastLinkError = m_serialPort ? std::string() : reason;
    }
    if (!m_serialPort && reportFailure)
        m_events.linkMessage(kPortMessage, std::string(commTypeName(type)));
    return m_serialPort != nullptr;
}

bool Engine::serialPortReady() {
    if (!m_serialPort)
        return false;
    if (!m_serialPort->deviceLost())
        return true;
    {
        std::lock_guard lock(m_linkErrorMutex);
        m_lastLinkError = "The serial device " + m_serialPort->device() + " has gone away.";
    }
    if (m_currentFile || m_tableAccepted) {
        m_state.AbortFlag = 1;
        endReceive();
    }
    if (m_state.ReceiveEnabled) {
        // The peer's link went with the device: staying Connected would keep
        // this machine from sending once the device is back.
        LinkState expected = LinkState::Connected;
        m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
        m_peerName.fill(0);
    }
    m_serialPort.reset();
    m_canSend = false;
    return false;
}

size_t Engine::serialRead(void* buffer, size_t length) {
    if (!serialPortReady()) {
        pause(kClosedPortReadMs);
        return 0;
    }
    return m_serialPort->PortRead(static_cast<uint8_t*>(buffer), length, m_wakeFd.get());
}

bool Engine::serialWrite(const void* data, size_t length) {
    return serialPortReady() && m_serialPort->PortWrite(static_cast<const uint8_t*>(data), length,
                                                        m_wakeFd.get()) == length;
}

bool Engine::serialCommand(uint8_t code) {
    return serialPortReady() && PortSendCommand(*m_serialPort, code, m_wakeFd.get());
}

uint8_t Engine::serialReceiveCommand() {
    if (!serialPortReady()) {
        pause(kClosedPortReadMs);
        return 0;
    }
    return PortReceiveCommand(*m_serialPort, m_wakeFd.get());
}

// Also stands for the purge the user interface owes the port before a send:
// every send starts here, and both directions are discarded first.
void Engine::SerialDial() {
    if (serialPortReady())
        m_serialPort->purgeBoth();
    m_peerName.fill(0);
    uint8_t reply = 0;
    while (!m_state.AbortFlag && !m_state.ReceiveEnabled) {
        if (reply == 0) {
            serialCommand(CMD_PING);
            pause(kSerialCommandWaitMs);
            reply = serialReceiveCommand();
        }
        if (reply == CMD_PING_REPLY) {
            serialCommand(CMD_CONNECT);
            pause(kSerialCommandWaitMs);
            reply = serialReceiveCommand(); // looked at in the next pass
        } else if (reply == CMD_ACCEPTED) {
            LinkState expected = LinkState::Connecting;
            if (m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
                m_events.playSound(Sound::LinkUp);
            break;
        } else {
            reply = 0;
        }
    }
    if (m_state.AbortFlag || m_state.LinkState != LinkState::Connected) {
        moveLinkState(LinkState::Listening);
        m_peerName.fill(0);
        return;
    }
    serialCommand(CMD_NAME_REQUEST);
    pause(kSerialCommandWaitMs);
    std::array<char, kNameBlockSize> name{};
    if (serialRead(name.data(), name.size()) == name.size())
        m_peerName = name;
    std::array<char, kNameBlockSize> owner{};
    const std::string ownerName = settings().ownerName;
    std::memcpy(owner.data(), ownerName.data(), std::min(ownerName.size(), kNameBlockSize - 1));
    if (serialCommand(CMD_NAME_FOLLOWS))
        serialWrite(owner.data(), owner.size());
}

void Engine::SerialKeepAlive() {
    if (!isSerial(m_state.CommType))
        return;
    int misses = 0;
    while (m_state.LinkState == LinkState::Connected && !m_state.AbortFlag) {
        serialCommand(CMD_KEEPALIVE);
        pause(kSerialCommandWaitMs);
        if (serialReceiveCommand() == CMD_KEEPALIVE_REPLY)
            misses = 0;
        else
            ++misses;
        if (misses >= m_state.KeepAliveRetries) {
            LinkState expected = LinkState::Connected;
            m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
            m_peerName.fill(0);
            misses = 0;
        }
    }
}

} // namespace zapfer
