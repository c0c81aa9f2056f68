#pragma once

// The serial link's side of TransferThread: opening the port of a serial
// type, the responder's steps through the receive session, and the
// initiator's link set-up and keep-alive.

#include "active_link.h"
#include "engine_core.h"

namespace zapfer {

class SerialLink;

class SerialDriver {
public:
    SerialDriver(EngineCore& core, ActiveLink& active) : m_core(core), m_active(active) {}

    // Opens the port of `type` as the current link; a failure is kept in the
    // link status and, with `reportFailure`, told to the front end.
    bool open(CommType type, bool reportFailure);
    // One pass of the responder: read what came, let the session act.
    void serveStep();
    // The user stopped the receive: the partial file goes now.
    void stopReceive();
    // Sets up the link to the peer (ping, connect, names) before a send.
    void dial();
    // Keeps the link up while the user has not yet started the send.
    void keepAlive();

private:
    SerialLink* serialLink() const;
    // The port is open and its device still there; a lost device is closed.
    bool linkReady();
    void checkIdle();

    EngineCore& m_core;
    ActiveLink& m_active;
};

} // namespace zapfer
