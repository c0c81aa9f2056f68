#include "serial_driver.h"

#include "serial_link.h"
#include "serial_timing.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zapfer {

namespace {
// A peer that falls silent must not hold this machine: a link that never
// brought a table, or a receive whose sender has gone, is dropped after this.
constexpr int64_t kConnectedIdleMs = 10'000;
constexpr int64_t kReceivingIdleMs = 60'000;
} // namespace

bool SerialDriver::open(CommType type, bool reportFailure) {
    const std::string device = serialDeviceFor(type, m_core.settings().serialDevices);
    LinkError why;
    std::unique_ptr<SerialPort> port = SerialPort::open(type, device, &why);
    m_core.status.setError(port ? LinkError{} : why);
    if (!port) {
        m_active.close();
        if (reportFailure)
            m_core.events.linkFailed(why);
        return false;
    }
    m_active.open(std::make_unique<SerialLink>(std::move(port),
                                               LinkContext{m_core.waker, m_core.state.AbortFlag}));
    return true;
}

SerialLink* SerialDriver::serialLink() const {
    return isSerial(m_core.state.CommType) ? static_cast<SerialLink*>(m_active.link()) : nullptr;
}

bool SerialDriver::linkReady() {
    SerialLink* link = serialLink();
    if (!link)
        return false;
    if (link->alive())
        return true;
    m_core.status.setError({LinkFault::DeviceGone, link->port().type(), link->port().device(), 0});
    if (m_active.receiveActive()) {
        m_core.state.AbortFlag = 1;
        m_active.endReceive();
    }
    if (m_core.state.ReceiveEnabled) {
        // The peer's link went with the device: staying Connected would keep
        // this machine from sending once the device is back.
        LinkState expected = LinkState::Connected;
        m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
        m_core.status.setPeerName({});
    }
    m_active.close();
    m_core.status.canSend = false;
    return false;
}

void SerialDriver::serveStep() {
    if (!linkReady()) {
        m_core.waker.pause(kClosedPortReadMs);
        return;
    }
    ReceiveSession& peer = m_active.session();
    // The user stopped the receive (or a file could not be created or
    // written): the partial file goes now, and the sender learns of it from
    // the answer to its next message.
    if (m_core.state.AbortFlag && (peer.fileOpen() || peer.tableAccepted()))
        stopReceive();

    Link& link = *m_active.link();
    std::array<uint8_t, 16384> buffer;
    int64_t now = steadyMs();
    const int wait = int(std::clamp<int64_t>(peer.parser().deadline() - now, 0, 100));
    if (link.waitReady(false, wait)) {
        const ssize_t got = link.receiveSome(buffer.data(), buffer.size());
        if (got > 0)
            peer.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), steadyMs());
    }
    now = steadyMs();
    peer.tick(now);
    if (m_active.hasSession() && !peer.parser().midMessage())
        checkIdle();
    m_core.inTransfer = m_active.hasSession() && peer.tableAccepted();
}

void SerialDriver::stopReceive() {
    m_core.state.AbortFlag = 1;
    if (m_active.hasSession())
        m_active.session().stopByUser();
    m_core.inTransfer = false;
}

void SerialDriver::checkIdle() {
    const LinkState link = m_core.state.LinkState;
    ReceiveSession& session = m_active.session();
    const bool receiving =
        session.fileOpen() || session.tableAccepted() || link == LinkState::Receiving;
    if (!receiving && link != LinkState::Connected)
        return;
    if (steadyMs() - session.parser().lastCommandMs() <
        (receiving ? kReceivingIdleMs : kConnectedIdleMs))
        return;
    if (receiving) {
        if (session.fileOpen() || session.tableAccepted())
            m_core.state.AbortFlag = 1;
        m_active.endReceive();
    } else {
        LinkState expected = LinkState::Connected;
        m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
    }
}

// Also stands for the purge the user interface owes the port before a send:
// every send starts here, and both directions are discarded first.
void SerialDriver::dial() {
    if (linkReady())
        serialLink()->port().purgeBoth();
    m_core.status.setPeerName({});
    uint8_t reply = 0;
    while (m_active.link() && !m_core.state.AbortFlag && !m_core.state.ReceiveEnabled) {
        if (reply == 0) {
            sendCommand(*m_active.link(), CMD_PING);
            m_core.waker.pause(kSerialCommandWaitMs);
            reply = receiveCommand(*m_active.link());
        }
        if (reply == CMD_PING_REPLY) {
            sendCommand(*m_active.link(), CMD_CONNECT);
            m_core.waker.pause(kSerialCommandWaitMs);
            reply = receiveCommand(*m_active.link()); // looked at in the next pass
        } else if (reply == CMD_ACCEPTED) {
            LinkState expected = LinkState::Connecting;
            if (m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
                m_core.events.playSound(Sound::LinkUp);
            break;
        } else {
            reply = 0;
        }
    }
    if (!m_active.link() || m_core.state.AbortFlag ||
        m_core.state.LinkState != LinkState::Connected) {
        m_core.moveLinkState(LinkState::Listening);
        m_core.status.setPeerName({});
        return;
    }
    sendCommand(*m_active.link(), CMD_NAME_REQUEST);
    m_core.waker.pause(kSerialCommandWaitMs);
    std::array<uint8_t, kNameBlockSize> name{};
    if (m_active.link()->receiveExact(name.data(), name.size())) {
        const auto* text = reinterpret_cast<const char*>(name.data());
        m_core.status.setPeerName(std::string(text, std::find(text, text + name.size(), '\0')));
    }
    std::array<uint8_t, kNameBlockSize> owner{};
    const std::string ownerName = m_core.settings().ownerName;
    std::memcpy(owner.data(), ownerName.data(), std::min(ownerName.size(), kNameBlockSize - 1));
    if (sendCommand(*m_active.link(), CMD_NAME_FOLLOWS))
        m_active.link()->sendAll(owner);
}

void SerialDriver::keepAlive() {
    int misses = 0;
    while (m_active.link() && m_core.state.LinkState == LinkState::Connected &&
           !m_core.state.AbortFlag) {
        sendCommand(*m_active.link(), CMD_KEEPALIVE);
        m_core.waker.pause(kSerialCommandWaitMs);
        if (receiveCommand(*m_active.link()) == CMD_KEEPALIVE_REPLY)
            misses = 0;
        else
            ++misses;
        if (misses >= m_core.state.KeepAliveRetries) {
            LinkState expected = LinkState::Connected;
            m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
            m_core.status.setPeerName({});
            misses = 0;
        }
    }
}

} // namespace zapfer
