#pragma once

// The socket link's side of TransferThread: accepting a peer and serving its
// connection through the receive session, and connecting to a peer to send
// (found by LAN probe, or at the typed address).

#include "active_link.h"
#include "engine_core.h"
#include "paired_acceptor.h"

namespace zapfer {

class SocketDriver {
public:
    SocketDriver(EngineCore& core, ActiveLink& active)
        : m_core(core), m_active(active), m_paired(core) {}

    // Opens the endpoint with the listeners the settings call for: the
    // plain port unless only paired peers are accepted, the paired port
    // while a code is set.
    void openEndpoint();
    // The same after a change of the settings; quiet when nothing changed.
    void refreshListeners();
    // Takes a waiting connection, if any, as the current link; a paired
    // one once its handshake is through.
    void acceptPending();
    // A paired handshake under way is given up (a send, a link change).
    void dropHandshake() { m_paired.drop(); }
    // Serves the connected peer until its connection ends.
    void servePeer();
    // Finds the peer and connects, until connected or cancelled.
    void dial();

private:
    bool keepConnecting() const;
    void takeConnection(std::unique_ptr<Link> link, uint32_t peerAddress, bool paired);
    // The paired link's half of dial(): connects to the peer's paired port
    // and runs the handshake; each failure ends the send with its reason.
    bool dialPaired(uint32_t target, const PairingKey& key, int64_t& silentSinceMs);
    void failSend(SendFailure failure);

    EngineCore& m_core;
    ActiveLink& m_active;
    PairingKeyCache m_keys;
    PairedAcceptor m_paired;
    bool m_wantPlain = true;
    bool m_wantPaired = false;
};

} // namespace zapfer
