#include "socket_driver.h"

#include "socket_link.h"
#include "tls_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <vector>

namespace zapfer {

namespace {
// A connected peer that says nothing for this long is dropped, so that a
// silent connection cannot keep this machine from receiving.
constexpr int64_t kIdlePeerLimitMs = 60'000;
// Until a table is accepted there is no transfer to protect, and a sender of
// Zapfer sends its table as soon as it is connected: a peer that has not
// managed that within this time is dropped, whatever else it says.
constexpr int64_t kTableLimitMs = 10'000;
// One read time-out without a command, while another peer waits, is enough
// to drop a peer that has no table.
constexpr int64_t kReadTimeoutMs = 2'000;
// Once a table is accepted the peer must move its transfer on: a file that
// gets no new block (pings do not count) for this long ends the connection,
// so that a peer cannot hold this machine, or the space its file took.
constexpr int64_t kNoProgressLimitMs = 30'000;
} // namespace

void SocketDriver::acceptPending() {
    refreshListeners();
    if (m_paired.pending()) {
        const uint32_t address = m_paired.peerAddress();
        if (std::unique_ptr<TlsLink> link = m_paired.step())
            takeConnection(std::move(link), address, true);
        return;
    }
    AcceptedPeer accepted = m_core.endpoint.accept(m_core.waker);
    if (!accepted.fd)
        return;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const uint32_t peerAddress =
        ::getpeername(accepted.fd.get(), reinterpret_cast<sockaddr*>(&peer), &length) == 0
            ? ntohl(peer.sin_addr.s_addr)
            : 0;
    if (accepted.paired) {
        // Nothing is read as a message, nor written, before the handshake is through.
        m_paired.begin(std::move(accepted.fd), peerAddress, m_keys);
        return;
    }
    takeConnection(std::make_unique<SocketLink>(std::move(accepted.fd), m_core.state.BlockSize,
                                                LinkContext{m_core.waker, m_core.state.AbortFlag}),
                   peerAddress, false);
}

void SocketDriver::takeConnection(std::unique_ptr<Link> link, uint32_t peerAddress, bool paired) {
    // The front end may have started a send since the state was read.
    LinkState expected = LinkState::Listening;
    if (!m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connected)) {
        expected = LinkState::Unnamed;
        if (!m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
            return;
    }
    // A new connection starts with no table.
    // The accept list is asked when a table comes, so that the refusal is
    // the one answer every sender understands.
    m_active.open(std::move(link), peerAddress, paired);
    m_core.state.AbortFlag = 0;
}

void SocketDriver::servePeer() {
    m_core.inTransfer = true;
    ReceiveSession& peer = m_active.session();
    std::vector<uint8_t> buffer(256 * 1024);
    const int64_t connectedAt = steadyMs();
    for (;;) {
        const LinkState state = m_core.state.LinkState;
        if (state == LinkState::Listening || state == LinkState::Stopped)
            break;
        // No read or write is in flight here: the front end's requests run (a
        // link change ends this receive).
        m_core.tasks.runPending();
        if (!m_active.link() || !m_active.hasSession())
            break;
        Link& link = *m_active.link();
        int64_t now = steadyMs();
        const int wait = int(std::clamp<int64_t>(peer.parser().deadline() - now, 0, 100));
        if (!m_core.state.AbortFlag && link.waitReady(false, wait)) {
            const ssize_t got = link.receiveSome(buffer.data(), buffer.size());
            now = steadyMs();
            if (got > 0) {
                m_active.holdReplies();
                peer.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), now);
                m_active.sendHeldReplies();
            }
        }
        now = steadyMs();
        peer.tick(now);
        if (peer.linkEnded())
            m_core.state.AbortFlag = 1; // a message stalled: the stream cannot be realigned
        if (peer.peerRefused())
            break; // answered already; nothing else is said to it

        const int64_t lastCommand = std::max(connectedAt, peer.parser().lastCommandMs());
        if (!peer.parser().midMessage() && now - lastCommand > kIdlePeerLimitMs)
            m_core.state.AbortFlag = 1;
        // A peer may be slow, but one that trickles its messages, each byte
        // within the silence limit, must not keep a waiting sender out.
        if (now >= peer.parser().messageDeadline() && m_core.endpoint.peerWaiting())
            m_core.state.AbortFlag = 1;
        if ((peer.tableAccepted() || peer.fileOpen()) &&
            now - std::max(connectedAt, peer.lastProgressMs()) > kNoProgressLimitMs)
            m_core.state.AbortFlag = 1;
        if (!peer.tableAccepted() && !m_core.state.AbortFlag &&
            m_core.state.LinkState != LinkState::Listening) {
            // A quiet or chattering peer without a table must not keep a
            // sender out.
            const int64_t lastTable = std::max(connectedAt, peer.lastTableMs());
            if (now - lastTable > kTableLimitMs ||
                (now - lastCommand >= kReadTimeoutMs && !m_core.tasks.pending() &&
                 m_core.endpoint.peerWaiting()))
                m_core.state.AbortFlag = 1;
        }
        if (m_core.state.AbortFlag) {
            if (!peer.peerAborted()) // tell the sender at once rather than by silence
                sendCommand(link, CMD_ABORT, IoMode::EvenWhenAborting);
            break;
        }
    }
    m_active.endReceive();
    m_core.inTransfer = false;
}

bool SocketDriver::keepConnecting() const {
    return !m_core.state.AbortFlag && m_core.state.ReceiveEnabled == 0 &&
           m_core.state.LinkState == LinkState::Connecting;
}

void SocketDriver::dial() {
    if (m_core.state.AbortFlag)
        return;
    const CommType type = m_core.state.CommType;
    if (type == CommType::Irda) {
        m_core.events.linkFailed({LinkFault::InfraredUnavailable, type, {}, 0});
        m_core.setAbort();
        return;
    }
    m_paired.drop(); // this machine sends now; a peer's handshake waits no more
    const EngineSettings settings = m_core.settings();
    // With a code the send goes on the paired link or not at all: falling
    // back to the plain link on a failure would be a silent downgrade.
    const bool paired = !settings.pairingCode.empty() && !settings.plainLink;
    const PairingKey* key = paired ? m_keys.keyFor(settings) : nullptr;
    if (paired && key == nullptr) {
        failSend(SendFailure::PairingMismatch);
        return;
    }
    int64_t silentSinceMs = 0;
    const uint32_t peerIp = settings.peerIp;
    while (keepConnecting()) {
        const uint32_t target =
            type == CommType::Lan
                ? m_core.endpoint.probeForPeer(m_core.waker,
                                               [this] {
                                                   return !m_core.state.AbortFlag &&
                                                          m_core.state.ReceiveEnabled == 0;
                                               })
                : htonl(peerIp);
        if (target == 0) {
            // Nobody answered (or no address is set). Connecting to 0.0.0.0
            // would reach this machine's own listener, so probe again instead.
            if (type != CommType::Lan)
                m_core.waker.pause(500);
            continue;
        }
        if (paired) {
            if (dialPaired(target, *key, silentSinceMs))
                return;
            continue;
        }
        UniqueFd connection = m_core.endpoint.connectTo(target, m_core.waker,
                                                        [this] { return !m_core.state.AbortFlag; });
        if (!connection)
            continue;
        if (m_core.endpoint.reachesOwnListener(connection.get())) {
            // Nobody else will ever answer there: refuse now instead of
            // resending until the user gives up.
            m_core.state.SendFailure = SendFailure::OwnAddress;
            m_core.setAbort();
            return;
        }
        LinkState expected = LinkState::Connecting;
        if (m_core.state.AbortFlag ||
            !m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
            return; // cancelled meanwhile; the connection is dropped
        m_active.open(
            std::make_unique<SocketLink>(std::move(connection), m_core.state.BlockSize,
                                         LinkContext{m_core.waker, m_core.state.AbortFlag}),
            ntohl(target));
        m_core.events.playSound(Sound::LinkUp);
        return;
    }
}

} // namespace zapfer
