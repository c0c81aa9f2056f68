#include "send_handshake.h"

namespace zapfer {

TransferId SendHandshake::begin(const std::vector<SendFile>& files, SendRefused* why) {
    m_outcome = {};
    m_id = m_engine.send(files, why);
    return m_id;
}

bool SendHandshake::connectingClosed(bool cancelledByUser) {
    if (m_id == kNoTransfer)
        return false;
    if (cancelledByUser)
        m_engine.cancel();
    if (!m_engine.snapshot().linkUpFor(m_id)) {
        // Cancelled, or the link could not be set up: nothing was sent.
        finish();
        return false;
    }
    m_engine.startSending();
    return true;
}

bool SendHandshake::over() const {
    const EngineSnapshot now = m_engine.snapshot();
    return m_id == kNoTransfer || now.sendId != m_id || now.aborting ||
           now.linkState != LinkState::Sending;
}

const SendOutcome& SendHandshake::statusClosed(bool cancelledByUser) {
    if (m_id == kNoTransfer)
        return m_outcome;
    if (cancelledByUser)
        m_engine.cancel();
    finish(); // bounded: the sender stops within a second of an abort
    return m_outcome;
}

void SendHandshake::finish() {
    m_outcome = m_engine.finishSend();
    m_outcome.id = m_id;
    m_id = kNoTransfer;
}

} // namespace zapfer
