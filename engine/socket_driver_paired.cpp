// The socket driver's paired half: which listeners are open, and the
// sending side's connection to a peer's paired port with its handshake.

#include "socket_driver.h"
#include "tls_link.h"

#include <arpa/inet.h>

namespace zapfer {

namespace {
struct Listeners {
    bool plain = true;
    bool paired = false;
};

Listeners listenersFor(const EngineSettings& settings) {
    return {settings.acceptFrom.kind != AcceptFrom::PairedPeers, !settings.pairingCode.empty()};
}

SendFailure failureOf(TlsFailure failure) {
    switch (failure) {
    case TlsFailure::TimedOut:
    case TlsFailure::PeerClosed:
        // A receiver that closes before any answer (one that no longer
        // answers this address) has said nothing either.
        return SendFailure::PairedNoAnswer;
    default:
        return SendFailure::PairingMismatch;
    }
}
} // namespace

void SocketDriver::openEndpoint() {
    m_paired.drop();
    const EngineSettings settings = m_core.settings();
    const Listeners wanted = listenersFor(settings);
    m_keys.keyFor(settings); // the slow derivation now, not with a peer waiting
    m_wantPlain = wanted.plain;
    m_wantPaired = wanted.paired;
    m_core.endpoint.open(wanted.plain,
                         wanted.paired); // a failed listener still lets this machine send
    m_core.status.listenPort = m_core.endpoint.port();
    m_core.status.pairedPort = m_core.endpoint.pairedPort();
}

void SocketDriver::refreshListeners() {
    const EngineSettings settings = m_core.settings();
    const Listeners wanted = listenersFor(settings);
    if (wanted.paired)
        m_keys.keyFor(settings);
    if (wanted.plain == m_wantPlain && wanted.paired == m_wantPaired)
        return;
    if (!wanted.paired)
        m_paired.drop();
    m_wantPlain = wanted.plain;
    m_wantPaired = wanted.paired;
    m_core.endpoint.setListeners(wanted.plain, wanted.paired);
    m_core.status.listenPort = m_core.endpoint.port();
    m_core.status.pairedPort = m_core.endpoint.pairedPort();
}

void SocketDriver::failSend(SendFailure failure) {
    m_core.state.SendFailure = failure;
    m_core.setAbort();
}

bool SocketDriver::dialPaired(uint32_t target, const PairingKey& key, int64_t& silentSinceMs) {
    ConnectResult result = ConnectResult::NoAnswer;
    UniqueFd connection = m_core.endpoint.connectTo(
        target, m_core.config.pairedPeerPort, m_core.waker, [this] { return keepConnecting(); },
        &result);
    if (result == ConnectResult::Refused) {
        // Something answered there, and it is not a paired listener.
        failSend(SendFailure::PairedNotAccepted);
        return true;
    }
    if (!connection) {
        if (!keepConnecting())
            return true;
        const int64_t now = steadyMs();
        if (silentSinceMs == 0) {
            silentSinceMs = now;
        } else if (now - silentSinceMs >= kTlsHandshakeLimitMs) {
            failSend(SendFailure::PairedNoAnswer);
            return true;
        }
        return false;
    }
    if (m_core.endpoint.reachesOwnListener(connection.get())) {
        failSend(SendFailure::OwnAddress);
        return true;
    }
    auto link = std::make_unique<TlsLink>(std::move(connection), TlsRole::Client, key,
                                          m_core.state.BlockSize,
                                          LinkContext{m_core.waker, m_core.state.AbortFlag});
    const int64_t deadline = steadyMs() + kTlsHandshakeLimitMs;
    // Each round waits for the peer or a wake-up; the count only bounds it.
    for (int round = 0; round < 1'000'000; ++round) {
        if (!keepConnecting())
            return true; // cancelled meanwhile; the connection is dropped
        if (std::optional<TlsOutcome> outcome = link->handshakeStep()) {
            if (!outcome->ok()) {
                failSend(failureOf(outcome->failure));
                return true;
            }
            LinkState expected = LinkState::Connecting;
            if (!m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
                return true;
            m_active.open(std::move(link), ntohl(target), true);
            m_core.events.playSound(Sound::LinkUp);
            return true;
        }
        const int64_t left = deadline - steadyMs();
        if (left <= 0) {
            failSend(SendFailure::PairedNoAnswer);
            return true;
        }
        m_core.waker.waitFor(link->socketFd(), link->handshakeEvents(),
                             int(std::min<int64_t>(left, 100)));
    }
    failSend(SendFailure::PairedNoAnswer);
    return true;
}

} // namespace zapfer
