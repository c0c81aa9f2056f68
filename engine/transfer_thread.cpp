// TransferThread: the responder role while nobody sends, the link set-up and
// the sender while the user sends, and what the receive session tells the
// engine.

#include "engine.h"

#include "sender.h"

namespace zapfer {

void Engine::transferThreadMain() {
    for (;;) {
        m_tasks.runPending();
        const LinkState link = m_state.LinkState;
        if (link == LinkState::Stopped || m_stopRequested)
            break;
        const bool serial = isSerial(m_state.CommType);
        if (m_state.ReceiveEnabled) {
            if (serial) {
                serveSerialStep();
            } else if (link == LinkState::Listening || link == LinkState::Unnamed) {
                m_session.reset(); // a link left over from a cancelled send
                m_link.reset();
                acceptPending();
            } else if ((link == LinkState::Connected || link == LinkState::Receiving) && m_link) {
                serveSocketPeer();
            } else {
                m_waker.pause(20);
            }
            continue;
        }
        switch (link) {
        case LinkState::Connecting:
            if (serial)
                dialSerial();
            else
                dialSocket();
            m_events.connectingEnded(m_sendId);
            m_waker.pause(20);
            break;
        case LinkState::Connected:
            if (serial)
                keepSerialAlive();
            m_waker.pause(20);
            break;
        case LinkState::Sending:
            runSender();
            break;
        default:
            m_waker.pause(20);
            break;
        }
    }
    m_tasks.runPending();
}

void Engine::runSender() {
    m_inTransfer = true;
    SendOutcome outcome;
    if (m_link) {
        Sender sender(m_sendId, *m_link, m_state, m_events, m_waker, m_stopRequested);
        outcome = sender.run(m_send.files, m_send.table);
    } else {
        m_state.AbortFlag = 1; // the serial port went away before the send
        outcome.id = m_sendId;
        outcome.aborted = true;
        outcome.fileCount = int32_t(m_send.files.size());
        outcome.sent.assign(m_send.files.size(), false);
    }
    m_events.playSound(outcome.aborted ? Sound::Interrupted : Sound::Completed);
    {
        std::lock_guard lock(m_outcomes.mutex);
        m_outcomes.lastSend = outcome;
        m_outcomes.lastSendFresh = true;
    }
    m_events.transferEnded(m_sendId);
    if (!isSerial(m_state.CommType)) {
        m_session.reset();
        m_link.reset(); // the connection ends with the send
    }
    m_inTransfer = false;
    moveLinkState(LinkState::Listening);
    m_state.ReceiveEnabled = 1;
    {
        std::lock_guard lock(m_outcomes.mutex);
        m_outcomes.senderActive = false;
    }
    m_outcomes.changed.notify_all();
}

ReceiveSession& Engine::session() {
    if (!m_session)
        m_session = std::make_unique<ReceiveSession>(m_link->traits(), m_state,
                                                     static_cast<SessionObserver&>(*this),
                                                     static_cast<ReplySink&>(*this));
    return *m_session;
}

void Engine::endReceive() {
    const bool aborted = m_state.AbortFlag != 0;
    if (m_session) {
        m_session->end(aborted);
    } else {
        ReceiveOutcome outcome;
        outcome.id = m_receiveId;
        outcome.aborted = aborted;
        outcome.filesDone = m_state.FilesDone;
        outcome.fileCount = m_state.TransferFileCount;
        receiveEnded(outcome);
    }
    if (!isSerial(m_state.CommType)) {
        m_session.reset();
        m_link.reset(); // a socket receive ends with its connection
    }
}

// --- what the receive session tells the engine ---------------------------------

ReceivePolicy Engine::policy() {
    const EngineSettings current = settings();
    // A cable or a beam at arm's length is always accepted.
    const bool accepted = isSerial(m_state.CommType) || current.acceptFrom.admits(m_peerAddress);
    return {current.destDir, current.nameConflict, current.ownerName, accepted};
}

void Engine::incoming() {
    moveLinkState(LinkState::Receiving);
    m_receiveId = ++m_lastId;
    m_events.receiveStarted(m_receiveId);
}

void Engine::fileStarted(const std::string& storedName) {
    m_events.fileStarting(m_receiveId, storedName);
}

void Engine::closeStatus() {
    m_events.transferEnded(m_receiveId);
}

void Engine::sound(Sound sound) {
    m_events.playSound(sound);
}

void Engine::abortTransfer() {
    m_state.AbortFlag = 1;
}

void Engine::transferComplete() {
    m_state.AbortFlag = 0;
    if (!isSerial(m_state.CommType))
        moveLinkState(LinkState::Listening); // the connection is done with
}

void Engine::linkRequested() {
    m_state.AbortFlag = 0;
    for (LinkState from : {LinkState::Listening, LinkState::Unnamed}) {
        if (m_state.LinkState.compare_exchange_strong(from, LinkState::Connected))
            break;
    }
}

void Engine::receiveEnded(const ReceiveOutcome& outcome) {
    {
        std::lock_guard lock(m_outcomes.mutex);
        m_outcomes.lastReceive = outcome;
        m_outcomes.lastReceive.id = m_receiveId;
        m_outcomes.lastReceive.peerAddress = isSerial(m_state.CommType) ? 0 : m_peerAddress;
    }
    LinkState link = m_state.LinkState;
    if (link == LinkState::Connected || link == LinkState::Receiving)
        m_state.LinkState.compare_exchange_strong(link, LinkState::Listening);
}

void Engine::peerRefused(const RefusedTable& table) {
    m_events.receiveRefused(m_peerAddress, table.fileCount, table.totalBytes);
}

void Engine::peerNamed(const std::string& name) {
    m_status.setPeerName(name);
}

void Engine::reply(std::span<const uint8_t> bytes) {
    if (m_link)
        m_link->sendAll(bytes, IoMode::EvenWhenAborting);
}

void Engine::discardInput() {
    if (m_link)
        m_link->drainInput();
}

void Engine::pace(int ms) {
    m_waker.pause(ms);
}

} // namespace zapfer
