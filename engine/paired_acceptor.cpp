#include "paired_acceptor.h"

namespace zapfer {

namespace {
// A peer that has not finished its handshake this long after connecting, while
// another one waits, is dropped: a silent connection must not keep a sender out.
constexpr int64_t kWaitingPeerLimitMs = 2'000;
} // namespace

const PairingKey* PairingKeyCache::keyFor(const EngineSettings& settings) {
    const std::string& code = settings.pairingCode;
    if (code.empty())
        return nullptr;
    if (code != m_code) {
        m_code = code;
        if (settings.pairingKey && settings.pairingKey->code == code)
            m_key = settings.pairingKey->key;
        else
            m_key = derivePairingKey(code);
    }
    return m_key ? &*m_key : nullptr;
}

void PairedAcceptor::begin(UniqueFd connection, uint32_t peerAddress, PairingKeyCache& keys) {
    drop();
    // An address that failed too often gets no handshake: it learns nothing,
    // and costs this machine no key exchange. Its failures were told already.
    if (m_limiter.blocked(peerAddress))
        return;
    const PairingKey* key = keys.keyFor(m_core.settings());
    if (key == nullptr)
        return; // the code was cleared since the listener opened
    m_link = std::make_unique<TlsLink>(std::move(connection), TlsRole::Server, *key,
                                       m_core.state.BlockSize,
                                       LinkContext{m_core.waker, m_core.state.AbortFlag});
    m_peerAddress = peerAddress;
    m_startedMs = steadyMs();
}

std::unique_ptr<TlsLink> PairedAcceptor::step() {
    if (!m_link)
        return nullptr;
    if (m_link->socketFd() >= 0)
        m_core.waker.waitFor(m_link->socketFd(), m_link->handshakeEvents(), 100);
    if (std::optional<TlsOutcome> outcome = m_link->handshakeStep()) {
        if (outcome->ok()) {
            m_peerAddress = 0;
            return std::move(m_link);
        }
        failed(*outcome);
        return nullptr;
    }
    const int64_t age = steadyMs() - m_startedMs;
    if (age >= kTlsHandshakeLimitMs ||
        (age >= kWaitingPeerLimitMs && m_core.endpoint.peerWaiting()))
        failed(m_link->giveUp(TlsFailure::TimedOut));
    return nullptr;
}

void PairedAcceptor::failed(const TlsOutcome&) {
    const uint32_t address = m_peerAddress;
    m_link.reset();
    m_peerAddress = 0;
    m_limiter.noteFailure(address);
    m_core.events.pairingFailed(address);
}

void PairedAcceptor::drop() {
    m_link.reset();
    m_peerAddress = 0;
}

} // namespace zapfer
