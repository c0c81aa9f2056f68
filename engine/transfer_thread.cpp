#include "transfer_thread.h"

#include "sender.h"

namespace zapfer {

void TransferThread::start() {
    m_thread = std::thread([this] { main(); });
    m_core.tasks.attach(m_thread.get_id());
}

void TransferThread::join() {
    if (m_thread.joinable())
        m_thread.join();
}

void TransferThread::main() {
    EngineState& state = m_core.state;
    for (;;) {
        m_core.tasks.runPending();
        const LinkState link = state.LinkState;
        if (link == LinkState::Stopped || m_core.stopRequested)
            break;
        const bool serial = isSerial(state.CommType);
        if (state.ReceiveEnabled) {
            if (serial) {
                m_serial.serveStep();
            } else if (link == LinkState::Listening || link == LinkState::Unnamed) {
                m_active.close(); // a link left over from a cancelled send
                m_socket.acceptPending();
            } else if ((link == LinkState::Connected || link == LinkState::Receiving) &&
                       m_active.link()) {
                m_socket.servePeer();
            } else {
                m_core.waker.pause(20);
            }
            continue;
        }
        switch (link) {
        case LinkState::Connecting:
            if (serial)
                m_serial.dial();
            else
                m_socket.dial();
            m_core.events.connectingEnded(m_core.sendId);
            m_core.waker.pause(20);
            break;
        case LinkState::Connected:
            if (serial)
                m_serial.keepAlive();
            m_core.waker.pause(20);
            break;
        case LinkState::Sending:
            runSender();
            break;
        default:
            m_core.waker.pause(20);
            break;
        }
    }
    m_core.tasks.runPending();
}

void TransferThread::runSender() {
    EngineState& state = m_core.state;
    const TransferId id = m_core.sendId;
    const PendingSend& send = m_core.send;
    m_core.inTransfer = true;
    SendOutcome outcome;
    if (Link* link = m_active.link()) {
        const uint32_t peer = m_active.connectionPerTransfer() ? m_active.peerAddress() : 0;
        Sender sender(id, *link, state, m_core.events, m_core.waker, m_core.stopRequested);
        outcome = sender.run(send.files, send.table);
        outcome.peerAddress = peer;
    } else {
        state.AbortFlag = 1; // the serial port went away before the send
        outcome.id = id;
        outcome.aborted = true;
        outcome.fileCount = int32_t(send.files.size());
        outcome.sent.assign(send.files.size(), false);
    }
    m_core.events.playSound(outcome.aborted ? Sound::Interrupted : Sound::Completed);
    {
        std::lock_guard lock(m_core.outcomes.mutex);
        m_core.outcomes.lastSend = outcome;
        m_core.outcomes.lastSendFresh = true;
    }
    m_core.events.transferEnded(id);
    if (m_active.connectionPerTransfer())
        m_active.close(); // the connection ends with the send
    m_core.inTransfer = false;
    m_core.moveLinkState(LinkState::Listening);
    state.ReceiveEnabled = 1;
    {
        std::lock_guard lock(m_core.outcomes.mutex);
        m_core.outcomes.senderActive = false;
    }
    m_core.outcomes.changed.notify_all();
}

void TransferThread::applyCommType(CommType type, bool reportFailure) {
    EngineState& state = m_core.state;
    if (m_active.receiveActive() || m_active.connectionPerTransfer()) {
        // A link change in the middle of a receive ends it.
        state.AbortFlag = 1;
        m_active.endReceive();
    }
    closeLinks();
    state.CommType = type;
    state.BlockSize = blockSizeFor(type);
    if (type == CommType::Irda) {
        if (reportFailure)
            m_core.events.linkFailed({LinkFault::InfraredUnavailable, type, {}, 0});
        return;
    }
    if (isSerial(type)) {
        m_core.status.canSend = m_serial.open(type, reportFailure);
        return;
    }
    m_socket.openEndpoint();
    m_core.status.canSend = true;
}

void TransferThread::reopenSerialPort() {
    const CommType type = m_core.state.CommType;
    if (isSerial(type) && !m_active.link())
        m_core.status.canSend = m_serial.open(type, false);
}

void TransferThread::closeLinks() {
    m_socket.dropHandshake();
    m_active.close();
    m_core.endpoint.close();
    m_core.status.listenPort = 0;
    m_core.status.pairedPort = 0;
    m_core.status.canSend = false;
}

void TransferThread::stopReceive() {
    if (isSerial(m_core.state.CommType))
        m_serial.stopReceive(); // the serial responder keeps a transfer across steps
    else
        m_active.endReceive();
}

void TransferThread::leaveLinks() {
    m_socket.dropHandshake();
    if (m_active.receiveActive() || m_active.connectionPerTransfer())
        m_active.endReceive();
    if (m_active.connectionPerTransfer())
        m_active.close();
}

} // namespace zapfer
