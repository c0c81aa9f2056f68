#pragma once

// The link TransferThread currently holds (a connection or the serial port)
// and the receive session on it, with where the session's replies go and
// what it tells the engine.

#include "engine_core.h"
#include "link.h"
#include "link_replies.h"
#include "receive_reporter.h"
#include "receive_session.h"

#include <memory>

namespace zapfer {

class ActiveLink {
public:
    explicit ActiveLink(EngineCore& core)
        : m_core(core), m_replies(m_link, core.waker), m_reports(core, *this) {}
    ActiveLink(const ActiveLink&) = delete;
    ActiveLink& operator=(const ActiveLink&) = delete;

    Link* link() const { return m_link.get(); }
    // A new link starts with no table. `peerAddress` (host order) is the
    // far end of an accepted connection; 0 for others. A `paired` link's
    // peer proved it holds the pairing code.
    // A link this machine dialled names the peer it reached.
    void open(std::unique_ptr<Link> link, uint32_t peerAddress = 0, bool paired = false);
    // Host order; 0 for a serial link.
    uint32_t peerAddress() const { return m_peerAddress; }
    bool paired() const { return m_paired; }
    void close();
    bool hasSession() const { return m_session != nullptr; }
    // The receive session on the link, made when it is first needed.
    ReceiveSession& session();
    // A peer's transfer to this machine is under way.
    bool receiveActive() const;
    // Ends the receive under way (deleting a partial file); a socket receive
    // ends with its connection.
    void endReceive();
    // A connection carries one transfer and ends with it; a serial line
    // stays open between transfers.
    bool connectionPerTransfer() const;
    // The replies made while serving one read of a stream are held and then
    // leave together in one write.
    void holdReplies() { m_replies.hold(); }
    void sendHeldReplies() { m_replies.sendHeld(); }

private:
    EngineCore& m_core;
    std::unique_ptr<Link> m_link;
    uint32_t m_peerAddress = 0;
    bool m_paired = false;
    LinkReplies m_replies;
    ReceiveReporter m_reports;
    // Last: the session goes before what it replies and reports to.
    std::unique_ptr<ReceiveSession> m_session;
};

} // namespace zapfer
