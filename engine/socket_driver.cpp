// The socket link's side of TransferThread: accepting a peer and serving its
// connection through the receive session, and connecting to a peer to send
// (found by LAN probe, or at the typed address).

#include "engine.h"

#include "socket_link.h"

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

void Engine::acceptPending() {
    UniqueFd accepted = m_endpoint.accept(m_waker);
    if (!accepted)
        return;
    // The front end may have started a send since the state was read.
    LinkState expected = LinkState::Listening;
    if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected)) {
        expected = LinkState::Unnamed;
        if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
            return;
    }
    // The accept list is asked when a table comes, so that the refusal is
    // the one answer every sender understands.
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    m_peerAddress = ::getpeername(accepted.get(), reinterpret_cast<sockaddr*>(&peer), &length) == 0
                        ? ntohl(peer.sin_addr.s_addr)
                        : 0;
    // A new connection starts with no table.
    m_link = std::make_unique<SocketLink>(std::move(accepted), m_state.BlockSize,
                                          LinkContext{m_waker, m_state.AbortFlag});
    m_session.reset();
    m_state.AbortFlag = 0;
}

void Engine::serveSocketPeer() {
    m_inTransfer = true;
    ReceiveSession& peer = session();
    std::vector<uint8_t> buffer(256 * 1024);
    const int64_t connectedAt = steadyMs();
    for (;;) {
        const LinkState link = m_state.LinkState;
        if (link == LinkState::Listening || link == LinkState::Stopped)
            break;
        // No read or write is in flight here: the front end's requests run (a
        // link change ends this receive).
        m_tasks.runPending();
        if (!m_link || !m_session)
            break;
        int64_t now = steadyMs();
        const int wait = int(std::clamp<int64_t>(peer.deadline() - now, 0, 100));
        if (!m_state.AbortFlag && m_link->waitReady(false, wait)) {
            const ssize_t got = m_link->receiveSome(buffer.data(), buffer.size());
            now = steadyMs();
            if (got > 0)
                peer.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), now);
        }
        now = steadyMs();
        peer.tick(now);
        if (peer.linkEnded())
            m_state.AbortFlag = 1; // a message stalled: the stream cannot be realigned
        if (peer.peerRefused())
            break; // answered already; nothing else is said to it

        const int64_t lastCommand = std::max(connectedAt, peer.lastCommandMs());
        if (!peer.midMessage() && now - lastCommand > kIdlePeerLimitMs)
            m_state.AbortFlag = 1;
        if ((peer.tableAccepted() || peer.fileOpen()) &&
            now - std::max(connectedAt, peer.lastProgressMs()) > kNoProgressLimitMs)
            m_state.AbortFlag = 1;
        if (!peer.tableAccepted() && !m_state.AbortFlag &&
            m_state.LinkState != LinkState::Listening) {
            // A quiet or chattering peer without a table must not keep a
            // sender out.
            const int64_t lastTable = std::max(connectedAt, peer.lastTableMs());
            if (now - lastTable > kTableLimitMs || (now - lastCommand >= kReadTimeoutMs &&
                                                    !m_tasks.pending() && m_endpoint.peerWaiting()))
                m_state.AbortFlag = 1;
        }
        if (m_state.AbortFlag) {
            if (!peer.peerAborted() && m_link) // tell the sender at once rather than by silence
                sendCommand(*m_link, CMD_ABORT, IoMode::EvenWhenAborting);
            break;
        }
    }
    endReceive();
    m_inTransfer = false;
}

bool Engine::keepConnecting() const {
    return !m_state.AbortFlag && m_state.ReceiveEnabled == 0 &&
           m_state.LinkState == LinkState::Connecting;
}

void Engine::dialSocket() {
    if (m_state.AbortFlag)
        return;
    const CommType type = m_state.CommType;
    if (type == CommType::Irda) {
        m_events.linkMessage("Infrared sockets are not available on this system.",
                             std::string(commTypeName(type)));
        setAbort();
        return;
    }
    const uint32_t peerIp = settings().peerIp;
    while (keepConnecting()) {
        const uint32_t target =
            type == CommType::Lan
                ? m_endpoint.probeForPeer(
                      m_waker, [this] { return !m_state.AbortFlag && m_state.ReceiveEnabled == 0; })
                : htonl(peerIp);
        if (target == 0) {
            // Nobody answered (or no address is set). Connecting to 0.0.0.0
            // would reach this machine's own listener, so probe again instead.
            if (type != CommType::Lan)
                m_waker.pause(500);
            continue;
        }
        UniqueFd connection =
            m_endpoint.connectTo(target, m_waker, [this] { return !m_state.AbortFlag; });
        if (!connection)
            continue;
        LinkState expected = LinkState::Connecting;
        if (m_state.AbortFlag ||
            !m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
            return; // cancelled meanwhile; the connection is dropped
        m_link = std::make_unique<SocketLink>(std::move(connection), m_state.BlockSize,
                                              LinkContext{m_waker, m_state.AbortFlag});
        m_session.reset();
        m_events.playSound(Sound::LinkUp);
        return;
    }
}

} // namespace zapfer
