#include "active_link.h"

namespace zapfer {

void ActiveLink::open(std::unique_ptr<Link> link, uint32_t peerAddress, bool paired) {
    m_session.reset();
    m_link = std::move(link);
    m_peerAddress = peerAddress;
    m_paired = paired;
}

void ActiveLink::close() {
    m_held.clear();
    m_holding = false;
    m_session.reset();
    m_link.reset();
    m_peerAddress = 0;
    m_paired = false;
}

bool ActiveLink::connectionPerTransfer() const {
    return m_link && m_link->traits().dialect == Dialect::Stream;
}

ReceiveSession& ActiveLink::session() {
    if (!m_session)
        m_session = std::make_unique<ReceiveSession>(m_link->traits(), m_core.state,
                                                     static_cast<SessionObserver&>(*this),
                                                     static_cast<ReplySink&>(*this));
    return *m_session;
}

bool ActiveLink::receiveActive() const {
    if (m_session && (m_session->tableAccepted() || m_session->fileOpen()))
        return true;
    return m_core.state.ReceiveEnabled && connectionPerTransfer();
}

void ActiveLink::endReceive() {
    const bool aborted = m_core.state.AbortFlag != 0;
    if (m_session) {
        m_session->end(aborted);
    } else {
        ReceiveOutcome outcome;
        outcome.aborted = aborted;
        outcome.filesDone = m_core.state.FilesDone;
        outcome.fileCount = m_core.state.TransferFileCount;
        receiveEnded(outcome);
    }
    if (connectionPerTransfer())
        close();
}

// --- what the receive session tells the engine ---------------------------------

ReceivePolicy ActiveLink::policy() {
    const EngineSettings current = m_core.settings();
    // A cable or a beam at arm's length is always accepted. So is a paired
    // peer, whatever its address: the code it proved is a stronger pass
    // than an address, which a machine on the way can take on.
    const bool accepted =
        !connectionPerTransfer() || m_paired || current.acceptFrom.admits(m_peerAddress);
    return {current.destDir, current.nameConflict, current.ownerName, accepted};
}

void ActiveLink::incoming() {
    m_core.moveLinkState(LinkState::Receiving);
    m_core.receiveId = m_core.nextId();
    m_core.events.receiveStarted(m_core.receiveId);
}

void ActiveLink::fileStarted(const std::string& storedName) {
    m_core.events.fileStarting(m_core.receiveId, storedName);
}

void ActiveLink::fileEnded(const FileOutcome& file) {
    m_core.events.fileEnded(m_core.receiveId, file);
}

void ActiveLink::closeStatus() {
    m_core.events.transferEnded(m_core.receiveId);
}

void ActiveLink::sound(Sound sound) {
    m_core.events.playSound(sound);
}

void ActiveLink::abortTransfer() {
    m_core.state.AbortFlag = 1;
}

void ActiveLink::transferComplete() {
    m_core.state.AbortFlag = 0;
    if (connectionPerTransfer())
        m_core.moveLinkState(LinkState::Listening); // the connection is done with
}

void ActiveLink::linkRequested() {
    m_core.state.AbortFlag = 0;
    for (LinkState from : {LinkState::Listening, LinkState::Unnamed}) {
        if (m_core.state.LinkState.compare_exchange_strong(from, LinkState::Connected))
            break;
    }
}

void ActiveLink::receiveEnded(const ReceiveOutcome& outcome) {
    // A connection whose table was refused (or that sent none) had no
    // receive: its end must not take the place of the last real one, which
    // the front end may not have taken yet (a flood of refused peers right
    // after a transfer). A serial line's receive was announced even when its
    // table was refused, and ends here.
    if (!outcome.files.empty() || !connectionPerTransfer()) {
        std::lock_guard lock(m_core.outcomes.mutex);
        m_core.outcomes.lastReceive = outcome;
        m_core.outcomes.lastReceive.id = m_core.receiveId;
        m_core.outcomes.lastReceive.peerAddress = connectionPerTransfer() ? m_peerAddress : 0;
    }
    LinkState link = m_core.state.LinkState;
    if (link == LinkState::Connected || link == LinkState::Receiving)
        m_core.state.LinkState.compare_exchange_strong(link, LinkState::Listening);
}

void ActiveLink::tableRefused(const RefusedTable& table) {
    if (table.peerNotAccepted)
        m_core.events.receiveRefused(m_peerAddress, table.fileCount, table.totalBytes);
    m_core.events.tableRefused({connectionPerTransfer() ? m_peerAddress : 0, table.refusal,
                                table.peerNotAccepted, table.files});
}

void ActiveLink::peerNamed(const std::string& name) {
    m_core.status.setPeerName(name);
}

void ActiveLink::reply(std::span<const uint8_t> bytes) {
    if (m_holding) {
        m_held.insert(m_held.end(), bytes.begin(), bytes.end());
        return;
    }
    if (m_link)
        m_link->sendAll(bytes, IoMode::EvenWhenAborting);
}

void ActiveLink::sendHeldReplies() {
    m_holding = false;
    if (m_link && !m_held.empty())
        m_link->sendAll(m_held, IoMode::EvenWhenAborting);
    m_held.clear();
}

void ActiveLink::discardInput() {
    // Replies already made answer what came before the purge: they still go.
    if (m_holding && m_link && !m_held.empty()) {
        m_link->sendAll(m_held, IoMode::EvenWhenAborting);
        m_held.clear();
    }
    if (m_link)
        m_link->drainInput();
}

void ActiveLink::pace(int ms) {
    m_core.waker.pause(ms);
}

} // namespace zapfer
