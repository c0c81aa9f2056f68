#include "active_link.h"

namespace zapfer {

void ActiveLink::open(std::unique_ptr<Link> link, uint32_t peerAddress, bool paired) {
    m_session.reset();
    m_link = std::move(link);
    m_peerAddress = peerAddress;
    m_paired = paired;
}

void ActiveLink::close() {
    m_replies.clear();
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
        m_session =
            std::make_unique<ReceiveSession>(m_link->traits(), m_core.state, m_reports, m_replies);
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
        m_reports.receiveEnded(outcome);
    }
    if (connectionPerTransfer())
        close();
}

} // namespace zapfer
