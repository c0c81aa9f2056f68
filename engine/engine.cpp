#include "engine.h"

namespace zapfer {

Engine::Engine(EngineEvents& events, LinkConfig config)
    : m_core(events, std::move(config)), m_transfer(m_core), m_echo(m_core) {}

Engine::~Engine() {
    stop();
    m_transfer.closeLinks();
}

// --- the choice of link -------------------------------------------------------

bool Engine::selectCommType(CommType type, bool reportFailure) {
    m_core.tasks.run(
        [this, type, reportFailure] { m_transfer.applyCommType(type, reportFailure); });
    return m_core.status.canSend;
}

bool Engine::retrySerialPort() {
    m_core.tasks.run([this] { m_transfer.reopenSerialPort(); });
    return m_core.status.canSend;
}

// --- lifetime -----------------------------------------------------------------

void Engine::start() {
    if (m_core.tasks.attached())
        return;
    EngineState& state = m_core.state;
    state.ReceiveEnabled = 1;
    state.AbortFlag = 0;
    m_core.stopRequested = false;
    state.LinkState = LinkState::Listening;
    m_echo.start();
    m_transfer.start();
}

void Engine::stop() {
    m_core.stopRequested = true;
    m_core.state.AbortFlag = 1;
    m_core.state.LinkState = LinkState::Stopped;
    m_core.waker.wake();
    m_transfer.join();
    m_echo.stop();
    m_core.tasks.detach();
    m_core.tasks.runPending();
    m_transfer.leaveLinks();
}

namespace {
// The progress fields, read one by one: each is current, and the dialog
// redraws often enough that a reading across a block boundary passes.
TransferProgress progressOf(const EngineState& state) {
    TransferProgress p;
    p.fileIndex = state.TransferIndex;
    p.fileCount = state.TransferFileCount;
    p.filesDone = state.FilesDone;
    p.blocksDone = state.BlocksDone;
    p.fileBlocks = state.FileBlocks;
    p.blockSize = state.BlockSize;
    p.fileSize = state.CurrentFileSize;
    p.bytesDone = state.BytesDone;
    p.totalBytes = state.TransferTotalBytes;
    return p;
}
} // namespace

// --- sending ----------------------------------------------------------------------

TransferId Engine::send(const std::vector<SendFile>& files, SendRefused* why) {
    auto refuse = [why](SendRefused::Reason reason, SendRefusal file = SendRefusal::None,
                        std::string path = {}) {
        if (why)
            *why = {reason, file, std::move(path)};
        return kNoTransfer;
    };
    if (files.empty())
        return refuse(SendRefused::Reason::NoFiles);
    if (files.size() > size_t(kMaxEntries))
        return refuse(SendRefused::Reason::TooManyFiles);
    if (!m_core.status.canSend)
        return refuse(SendRefused::Reason::LinkClosed);
    if (m_core.inTransfer || m_core.outcomes.senderActive || m_core.state.ReceiveEnabled == 0 ||
        m_core.state.LinkState != LinkState::Listening)
        return refuse(SendRefused::Reason::Busy);

    std::vector<uint8_t> table(files.size() * kEntrySize);
    int64_t total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = FileNamePart(files[i].path);
        SendRefusal refusal = checkSendable(name, files[i].size);
        for (size_t j = 0; j < i && refusal == SendRefusal::None; ++j)
            if (sameSendName(name, FileNamePart(files[j].path)))
                refusal = SendRefusal::DuplicateName;
        EntryBytes entry;
        if (refusal == SendRefusal::None &&
            EncodeTransferEntry(files[i].path, files[i].size, entry) != EntryError::None)
            refusal = SendRefusal::NameUnsafe;
        if (refusal != SendRefusal::None)
            return refuse(SendRefused::Reason::File, refusal, files[i].path);
        std::copy(entry.begin(), entry.end(), table.begin() + long(i * kEntrySize));
        total += files[i].size;
    }
    m_core.send.table = std::move(table);
    m_core.send.files = files;
    const TransferId id = m_core.nextId();
    m_core.sendId = id;

    LinkState expected = LinkState::Listening;
    m_core.state.restart(int32_t(files.size()), total);
    m_core.state.PeerError = 0;
    m_core.state.SendFailure = SendFailure::None;
    m_core.state.AbortFlag = 0;
    if (!m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Connecting))
        return refuse(SendRefused::Reason::Busy);
    m_core.state.ReceiveEnabled = 0;
    m_core.waker.wake();
    return id;
}

void Engine::startSending() {
    m_core.outcomes.senderActive = true;
    LinkState expected = LinkState::Connected;
    if (m_core.state.AbortFlag ||
        !m_core.state.LinkState.compare_exchange_strong(expected, LinkState::Sending)) {
        std::lock_guard lock(m_core.outcomes.mutex);
        m_core.outcomes.senderActive = false;
        return;
    }
    m_core.waker.wake();
}

void Engine::cancel() {
    m_core.setAbort();
    m_core.moveLinkState(LinkState::Listening);
    m_core.state.ReceiveEnabled = 1;
}

SendOutcome Engine::finishSend() {
    std::unique_lock lock(m_core.outcomes.mutex);
    const bool ran = m_core.outcomes.changed.wait_for(
        lock, std::chrono::seconds(10), [this] { return !m_core.outcomes.senderActive; });
    SendOutcome outcome;
    if (ran && m_core.outcomes.lastSend.fileCount > 0 && m_core.outcomes.lastSendFresh) {
        outcome = m_core.outcomes.lastSend;
    } else {
        outcome.peerError = m_core.state.PeerError;
        outcome.failure = m_core.state.SendFailure;
        outcome.aborted = true;
        outcome.transferIndex = -1;
        outcome.fileCount = m_core.state.TransferFileCount;
    }
    m_core.outcomes.lastSendFresh = false;
    lock.unlock();

    // Done on TransferThread: it may already serve the next peer, whose
    // state must not be touched.
    m_core.tasks.run([this] {
        m_core.state.ReceiveEnabled = 1;
        if (m_transfer.receiveActive())
            return;
        LinkState link = m_core.state.LinkState;
        if (link == LinkState::Connecting || link == LinkState::Connected ||
            link == LinkState::Sending)
            m_core.moveLinkState(LinkState::Listening);
        m_core.state.AbortFlag = 0;
    });
    m_core.waker.wake();
    return outcome;
}

ReceiveOutcome Engine::finishReceive() {
    auto outcome = std::make_shared<ReceiveOutcome>();
    // Done on TransferThread, between two commands: a late call must neither
    // end nor disturb a receive from the next peer.
    m_core.tasks.run([this, outcome] {
        EngineState& state = m_core.state;
        // A receive still open here with AbortFlag set was cancelled by the
        // user.
        if (state.AbortFlag && m_transfer.receiveActive())
            m_transfer.stopReceive();
        {
            std::lock_guard lock(m_core.outcomes.mutex);
            *outcome = m_core.outcomes.lastReceive;
        }
        if (!m_transfer.receiveActive()) {
            if (state.LinkState == LinkState::Receiving)
                m_core.moveLinkState(LinkState::Listening);
            state.AbortFlag = 0;
        }
    });
    return *outcome;
}

EngineSnapshot Engine::snapshot() const {
    EngineSnapshot s;
    s.linkState = m_core.state.LinkState;
    s.aborting = m_core.state.AbortFlag != 0;
    s.responding = m_core.state.ReceiveEnabled != 0;
    s.canSend = m_core.status.canSend;
    s.sendId = m_core.sendId;
    s.receiveId = m_core.receiveId;
    s.progress = progressOf(m_core.state);
    return s;
}

} // namespace zapfer
