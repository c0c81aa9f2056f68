#pragma once

// The socket link's side of TransferThread: accepting a peer and serving its
// connection through the receive session, and connecting to a peer to send
// (found by LAN probe, or at the typed address).

#include "active_link.h"
#include "engine_core.h"

namespace zapfer {

class SocketDriver {
public:
    SocketDriver(EngineCore& core, ActiveLink& active) : m_core(core), m_active(active) {}

    // Takes a waiting connection, if any, as the current link.
    void acceptPending();
    // Serves the connected peer until its connection ends.
    void servePeer();
    // Finds the peer and connects, until connected or cancelled.
    void dial();

private:
    bool keepConnecting() const;

    EngineCore& m_core;
    ActiveLink& m_active;
};

} // namespace zapfer
