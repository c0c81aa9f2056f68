#include "receive_reporter.h"

#include "active_link.h"

#include <mutex>

namespace zapfer {

ReceivePolicy ReceiveReporter::policy() {
    const EngineSettings current = m_core.settings();
    // A cable or a beam at arm's length is always accepted. So is a paired
    // peer, whatever its address: the code it proved is a stronger pass
    // than an address, which a machine on the way can take on.
    const bool accepted = !m_link.connectionPerTransfer() || m_link.paired() ||
                          current.acceptFrom.admits(m_link.peerAddress());
    return {current.destDir, current.nameConflict, current.ownerName, accepted};
}

void ReceiveReporter::incoming() {
    m_core.moveLinkState(LinkState::Receiving);
    m_core.receiveId = m_core.nextId();
    m_core.events.receiveStarted(m_core.receiveId);
}

void ReceiveReporter::fileStarted(const std::string& storedName) {
    m_core.events.fileStarting(m_core.receiveId, storedName);
}

void ReceiveReporter::fileEnded(const FileOutcome& file) {
    m_core.events.fileEnded(m_core.receiveId, file);
}

void ReceiveReporter::closeStatus() {
    m_core.events.transferEnded(m_core.receiveId);
}

void ReceiveReporter::sound(Sound sound) {
    m_core.events.playSound(sound);
}

void ReceiveReporter::abortTransfer() {
    m_core.state.AbortFlag = 1;
}

void ReceiveReporter::transferComplete() {
    m_core.state.AbortFlag = 0;
    if (m_link.connectionPerTransfer())
        m_core.moveLinkState(LinkState::Listening); // the connection is done with
}

void ReceiveReporter::linkRequested() {
    m_core.state.AbortFlag = 0;
    for (LinkState from : {LinkState::Listening, LinkState::Unnamed}) {
        if (m_core.state.LinkState.compare_exchange_strong(from, LinkState::Connected))
            break;
    }
}

void ReceiveReporter::receiveEnded(const ReceiveOutcome& outcome) {
    // A connection whose table was refused (or that sent none) had no
    // receive: its end must not take the place of the last real one, which
    // the front end may not have taken yet (a flood of refused peers right
    // after a transfer). A serial line's receive was announced even when its
    // table was refused, and ends here.
    if (!outcome.files.empty() || !m_link.connectionPerTransfer()) {
        std::lock_guard lock(m_core.outcomes.mutex);
        m_core.outcomes.lastReceive = outcome;
        m_core.outcomes.lastReceive.id = m_core.receiveId;
        m_core.outcomes.lastReceive.peerAddress =
            m_link.connectionPerTransfer() ? m_link.peerAddress() : 0;
    }
    LinkState link = m_core.state.LinkState;
    if (link == LinkState::Connected || link == LinkState::Receiving)
        m_core.state.LinkState.compare_exchange_strong(link, LinkState::Listening);
}

void ReceiveReporter::tableRefused(const RefusedTable& table) {
    if (table.peerNotAccepted)
        m_core.events.receiveRefused(m_link.peerAddress(), table.fileCount, table.totalBytes);
    m_core.events.tableRefused({m_link.connectionPerTransfer() ? m_link.peerAddress() : 0,
                                table.refusal, table.peerNotAccepted, table.files});
}

void ReceiveReporter::peerNamed(const std::string& name) {
    m_core.status.setPeerName(name);
}

} // namespace zapfer
