// The serial link's side of TransferThread: opening the port of a serial
// type, the responder's steps through the receive session, and the
// initiator's link set-up and keep-alive.

#include "engine.h"

#include "serial_link.h"
#include "serial_timing.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zapfer {

namespace {
constexpr const char* kPortMessage =
    "Unable to open the communications port; please close any applications which may be "
    "using the same port.  Zapfer will continue to monitor the port and open it when "
    "available.";

// A peer that falls silent must not hold this machine: a link that never
// brought a table, or a receive whose sender has gone, is dropped after this.
constexpr int64_t kConnectedIdleMs = 10'000;
constexpr int64_t kReceivingIdleMs = 60'000;
} // namespace

bool Engine::openSerialLink(CommType type, bool reportFailure) {
    const std::string device = serialDeviceFor(type, settings().serialDevices);
    std::string reason;
    std::unique_ptr<SerialPort> port = SerialPort::open(type, device, &reason);
    m_status.setLastError(port ? std::string() : reason);
    m_session.reset();
    if (!port) {
        if (reportFailure)
            m_events.linkMessage(kPortMessage, std::string(commTypeName(type)));
        return false;
    }
    m_link = std::make_unique<SerialLink>(std::move(port), LinkContext{m_waker, m_state.AbortFlag});
    return true;
}

SerialLink* Engine::serialLink() {
    return isSerial(m_state.CommType) ? static_cast<SerialLink*>(m_link.get()) : nullptr;
}

bool Engine::serialLinkReady() {
    SerialLink* link = serialLink();
    if (!link)
        return false;
    if (link->alive())
        return true;
    m_status.setLastError("The serial device " + link->port().device() + " has gone away.");
    if (m_session && (m_session->fileOpen() || m_session->tableAccepted())) {
        m_state.AbortFlag = 1;
        endReceive();
    }
    if (m_state.ReceiveEnabled) {
        // The peer's link went with the device: staying Connected would keep
        // this machine from sending once the device is back.
        LinkState expected = LinkState::Connected;
        m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
        m_status.setPeerName({});
    }
    m_session.reset();
    m_link.reset();
    m_status.canSend = false;
    return false;
}

void Engine::serveSerialStep() {
    if (!serialLinkReady()) {
        m_waker.pause(kClosedPortReadMs);
        return;
    }
    ReceiveSession& peer = session();
    // The user stopped the receive (or a file could not be created or
    // written): the partial file goes now, and the sender learns of it from
    // the answer to its next message.
    if (m_state.AbortFlag && (peer.fileOpen() || peer.tableAccepted()))
        stopSerialReceive();

    std::array<uint8_t, 16384> buffer;
    int64_t now = steadyMs();
    const int wait = int(std::clamp<int64_t>(peer.deadline() - now, 0, 100));
    if (m_link->waitReady(false, wait)) {
        const ssize_t got = m_link->receiveSome(buffer.data(), buffer.size());
        if (got > 0)
            peer.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), steadyMs());
    }
    now = steadyMs();
    peer.tick(now);
    if (m_session && !peer.midMessage())
        checkSerialIdle();
    m_inTransfer = m_session && peer.tableAccepted();
}

void Engine::stopSerialReceive() {
    m_state.AbortFlag = 1;
    if (m_session)
        m_session->stopByUser();
    m_inTransfer = false;
}

void Engine::checkSerialIdle() {
    const LinkState link = m_state.LinkState;
    const bool receiving =
        m_session->fileOpen() || m_session->tableAccepted() || link == LinkState::Receiving;
    if (!receiving && link != LinkState::Connected)
        return;
    if (steadyMs() - m_session->lastCommandMs() < (receiving ? kReceivingIdleMs : kConnectedIdleMs))
        return;
    if (receiving) {
        if (m_session->fileOpen() || m_session->tableAccepted())
            m_state.AbortFlag = 1;
        endReceive();
    } else {
        LinkState expected = LinkState::Connected;
        m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
    }
}

// Also stands for the purge the user interface owes the port before a send:
// every send starts here, and both directions are discarded first.
void Engine::dialSerial() {
    if (serialLinkReady())
        serialLink()->port().purgeBoth();
    m_status.setPeerName({});
    uint8_t reply = 0;
    while (m_link && !m_state.AbortFlag && !m_state.ReceiveEnabled) {
        if (reply == 0) {
            sendCommand(*m_link, CMD_PING);
            m_waker.pause(kSerialCommandWaitMs);
            reply = receiveCommand(*m_link);
        }
        if (reply == CMD_PING_REPLY) {
            sendCommand(*m_link, CMD_CONNECT);
            m_waker.pause(kSerialCommandWaitMs);
            reply = receiveCommand(*m_link); // looked at in the next pass
        } else if (reply == CMD_ACCEPTED) {
            LinkState expected = LinkState::Connecting;
            if (m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
                m_events.playSound(Sound::LinkUp);
            break;
        } else {
            reply = 0;
        }
    }
    if (!m_link || m_state.AbortFlag || m_state.LinkState != LinkState::Connected) {
        moveLinkState(LinkState::Listening);
        m_status.setPeerName({});
        return;
    }
    sendCommand(*m_link, CMD_NAME_REQUEST);
    m_waker.pause(kSerialCommandWaitMs);
    std::array<uint8_t, kNameBlockSize> name{};
    if (m_link->receiveExact(name.data(), name.size())) {
        const auto* text = reinterpret_cast<const char*>(name.data());
        m_status.setPeerName(std::string(text, std::find(text, text + name.size(), '\0')));
    }
    std::array<uint8_t, kNameBlockSize> owner{};
    const std::string ownerName = settings().ownerName;
    std::memcpy(owner.data(), ownerName.data(), std::min(ownerName.size(), kNameBlockSize - 1));
    if (sendCommand(*m_link, CMD_NAME_FOLLOWS))
        m_link->sendAll(owner);
}

void Engine::keepSerialAlive() {
    int misses = 0;
    while (m_link && m_state.LinkState == LinkState::Connected && !m_state.AbortFlag) {
        sendCommand(*m_link, CMD_KEEPALIVE);
        m_waker.pause(kSerialCommandWaitMs);
        if (receiveCommand(*m_link) == CMD_KEEPALIVE_REPLY)
            misses = 0;
        else
            ++misses;
        if (misses >= m_state.KeepAliveRetries) {
            LinkState expected = LinkState::Connected;
            m_state.LinkState.compare_exchange_strong(expected, LinkState::Listening);
            m_status.setPeerName({});
            misses = 0;
        }
    }
}

} // namespace zapfer
