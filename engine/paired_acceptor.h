#pragma once

// The receiving side of the paired link: the handshake of a connection that
// came in on the paired port, run in steps between TransferThread's other
// work so that the front end's requests, a stop or a send of this machine
// never wait for a slow or silent peer. Failed handshakes are told to the
// front end with the address, and an address that keeps failing is left
// unanswered for a while.

#include "engine_core.h"
#include "handshake_limiter.h"
#include "pairing_key.h"
#include "tls_link.h"

#include <memory>
#include <optional>
#include <string>

namespace zapfer {

// The key of the code in force, derived once per code: scrypt is slow on
// purpose, and the engine must not pay for it on every connection. A key the
// front end passes for that very code is taken instead of deriving.
class PairingKeyCache {
public:
    // The key of `settings.pairingCode`; nothing when it is empty or not a
    // valid code.
    const PairingKey* keyFor(const EngineSettings& settings);

private:
    std::string m_code;
    std::optional<PairingKey> m_key;
};

class PairedAcceptor {
public:
    explicit PairedAcceptor(EngineCore& core, HandshakeLimiter limiter = HandshakeLimiter())
        : m_core(core), m_limiter(std::move(limiter)) {}

    // A connection from the paired port: its handshake starts, or it is
    // closed at once (address blocked, no code in force).
    void begin(UniqueFd connection, uint32_t peerAddress, PairingKeyCache& keys);
    bool pending() const { return m_link != nullptr; }
    // Waits up to 100 ms for the peer and moves the handshake on; the link
    // once it is established, null meanwhile or after a failure.
    std::unique_ptr<TlsLink> step();
    uint32_t peerAddress() const { return m_peerAddress; }
    // This machine has other work (a send of its own, a link change, a
    // stop): the handshake is dropped, and not counted against the peer.
    void drop();

private:
    void failed(const TlsOutcome& outcome);

    EngineCore& m_core;
    HandshakeLimiter m_limiter;
    std::unique_ptr<TlsLink> m_link;
    uint32_t m_peerAddress = 0;
    int64_t m_startedMs = 0;
};

} // namespace zapfer
