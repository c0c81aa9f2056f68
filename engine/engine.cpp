#include "engine.h"

#include "serial_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

namespace zapfer {

Engine::Engine(EngineEvents& events, LinkConfig config)
    : m_events(events), m_config(std::move(config)), m_tasks(m_waker), m_endpoint(m_config),
      m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Engine::~Engine() {
    stop();
    closeLinks();
}

void Engine::setSettings(const EngineSettings& settings) {
    std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

EngineSettings Engine::settings() const {
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void Engine::moveLinkState(LinkState to) {
    LinkState current = m_state.LinkState;
    while (current != LinkState::Stopped && !m_state.LinkState.compare_exchange_weak(current, to)) {
    }
}

void Engine::setAbort() {
    m_state.AbortFlag = 1;
    m_waker.wake();
}

// --- the choice of link -------------------------------------------------------

bool Engine::selectCommType(CommType type, bool reportFailure) {
    m_tasks.run([this, type, reportFailure] { applyCommType(type, reportFailure); });
    return m_status.canSend;
}

bool Engine::retrySerialPort() {
    m_tasks.run([this] {
        const CommType type = m_state.CommType;
        if (isSerial(type) && !m_link)
            m_status.canSend = openSerialLink(type, false);
    });
    return m_status.canSend;
}

void Engine::applyCommType(CommType type, bool reportFailure) {
    if (receiveActive() || (m_link && !isSerial(m_state.CommType))) {
        // A link change in the middle of a receive ends it.
        m_state.AbortFlag = 1;
        endReceive();
    }
    closeLinks();
    m_state.CommType = type;
    m_state.BlockSize = blockSizeFor(type);
    if (type == CommType::Irda) {
        if (reportFailure)
            m_events.linkMessage("Infrared sockets are not available on this system.",
                                 std::string(commTypeName(type)));
        return;
    }
    if (isSerial(type)) {
        m_status.canSend = openSerialLink(type, reportFailure);
        return;
    }
    m_endpoint.open(); // a failed listener still lets this machine send
    m_status.listenPort = m_endpoint.port();
    m_status.canSend = true;
}

void Engine::closeLinks() {
    m_session.reset();
    m_link.reset();
    m_endpoint.close();
    m_status.listenPort = 0;
    m_status.canSend = false;
}

// --- lifetime -----------------------------------------------------------------

void Engine::start() {
    if (m_tasks.attached())
        return;
    m_state.ReceiveEnabled = 1;
    m_state.AbortFlag = 0;
    m_stopRequested = false;
    m_state.LinkState = LinkState::Listening;

    // The echo socket is made here so that its port is known once start returns.
    UniqueFd echo(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (echo) {
        const int on = 1;
        ::setsockopt(echo.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_config.echoPort);
        address.sin_addr.s_addr = htonl(m_config.listenAddress);
        if (::bind(echo.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            socklen_t length = sizeof address;
            ::getsockname(echo.get(), reinterpret_cast<sockaddr*>(&address), &length);
            m_status.echoPort = ntohs(address.sin_port);
        } else {
            echo.reset(); // the port is taken: this machine can still send and receive
        }
    }
    m_transferThread = std::thread([this] { transferThreadMain(); });
    m_tasks.attach(m_transferThread.get_id());
    m_echoThread = std::thread([this, fd = echo.release()] {
        UniqueFd socket(fd);
        echoResponderMain(socket.get());
    });
}

void Engine::stop() {
    m_stopRequested = true;
    m_state.AbortFlag = 1;
    m_state.LinkState = LinkState::Stopped;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stopFd.get(), &one, sizeof one);
    m_waker.wake();
    if (m_transferThread.joinable())
        m_transferThread.join();
    if (m_echoThread.joinable())
        m_echoThread.join();
    m_tasks.detach();
    m_tasks.runPending();
    if (receiveActive() || (m_link && !isSerial(m_state.CommType)))
        endReceive();
    if (!isSerial(m_state.CommType))
        m_link.reset();
    m_status.echoPort = 0;
}

// --- sending ----------------------------------------------------------------------

bool Engine::beginSend(const std::vector<SendFile>& files, SendRefused* why) {
    auto refuse = [why](SendRefused::Reason reason, SendRefusal file = SendRefusal::None,
                        std::string path = {}) {
        if (why)
            *why = {reason, file, std::move(path)};
        return false;
    };
    if (files.empty())
        return refuse(SendRefused::Reason::NoFiles);
    if (files.size() > size_t(kMaxEntries))
        return refuse(SendRefused::Reason::TooManyFiles);
    if (!m_status.canSend)
        return refuse(SendRefused::Reason::LinkClosed);
    if (m_inTransfer || m_outcomes.senderActive || m_state.ReceiveEnabled == 0 ||
        m_state.LinkState != LinkState::Listening)
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
    m_send.table = std::move(table);
    m_send.files = files;
    m_sendId = ++m_lastId;

    LinkState expected = LinkState::Listening;
    m_state.restart(int32_t(files.size()), total);
    m_state.PeerError = 0;
    m_state.SendFailure = SendFailure::None;
    m_state.AbortFlag = 0;
    if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connecting))
        return refuse(SendRefused::Reason::Busy);
    m_state.ReceiveEnabled = 0;
    m_waker.wake();
    return true;
}

void Engine::startSending() {
    m_outcomes.senderActive = true;
    LinkState expected = LinkState::Connected;
    if (m_state.AbortFlag ||
        !m_state.LinkState.compare_exchange_strong(expected, LinkState::Sending)) {
        std::lock_guard lock(m_outcomes.mutex);
        m_outcomes.senderActive = false;
        return;
    }
    m_waker.wake();
}

void Engine::cancel() {
    setAbort();
    moveLinkState(LinkState::Listening);
    m_state.ReceiveEnabled = 1;
}

SendOutcome Engine::finishSend() {
    std::unique_lock lock(m_outcomes.mutex);
    const bool ran = m_outcomes.changed.wait_for(lock, std::chrono::seconds(10),
                                                 [this] { return !m_outcomes.senderActive; });
    SendOutcome outcome;
    if (ran && m_outcomes.lastSend.fileCount > 0 && m_outcomes.lastSendFresh) {
        outcome = m_outcomes.lastSend;
    } else {
        outcome.peerError = m_state.PeerError;
        outcome.failure = m_state.SendFailure;
        outcome.aborted = true;
        outcome.transferIndex = -1;
        outcome.fileCount = m_state.TransferFileCount;
    }
    m_outcomes.lastSendFresh = false;
    lock.unlock();

    // Done on TransferThread: it may already serve the next peer, whose
    // state must not be touched.
    m_tasks.run([this] {
        m_state.ReceiveEnabled = 1;
        if (receiveActive())
            return;
        LinkState link = m_state.LinkState;
        if (link == LinkState::Connecting || link == LinkState::Connected ||
            link == LinkState::Sending)
            moveLinkState(LinkState::Listening);
        m_state.AbortFlag = 0;
    });
    m_waker.wake();
    return outcome;
}

ReceiveOutcome Engine::finishReceive() {
    auto outcome = std::make_shared<ReceiveOutcome>();
    // Done on TransferThread, between two commands: a late call must neither
    // end nor disturb a receive from the next peer.
    m_tasks.run([this, outcome] {
        // A receive still open here with AbortFlag set was cancelled by the
        // user (the serial responder keeps a transfer across steps).
        if (m_state.AbortFlag && receiveActive()) {
            if (isSerial(m_state.CommType))
                stopSerialReceive();
            else
                endReceive();
        }
        {
            std::lock_guard lock(m_outcomes.mutex);
            *outcome = m_outcomes.lastReceive;
        }
        if (!receiveActive()) {
            if (m_state.LinkState == LinkState::Receiving)
                moveLinkState(LinkState::Listening);
            m_state.AbortFlag = 0;
        }
    });
    return *outcome;
}

bool Engine::receiveActive() const {
    if (m_session && (m_session->tableAccepted() || m_session->fileOpen()))
        return true;
    return m_link && m_state.ReceiveEnabled && !isSerial(m_state.CommType);
}

TransferId Engine::send(const std::vector<SendFile>& files, SendRefused* why) {
    return beginSend(files, why) ? m_sendId.load() : kNoTransfer;
}

EngineSnapshot Engine::snapshot() const {
    EngineSnapshot s;
    s.linkState = m_state.LinkState;
    s.aborting = m_state.AbortFlag != 0;
    s.responding = m_state.ReceiveEnabled != 0;
    s.canSend = m_status.canSend;
    s.sendId = m_sendId;
    s.receiveId = m_receiveId;
    s.progress = progress();
    return s;
}

TransferProgress Engine::progress() const {
    TransferProgress p;
    p.fileIndex = m_state.TransferIndex;
    p.fileCount = m_state.TransferFileCount;
    p.filesDone = m_state.FilesDone;
    p.blocksDone = m_state.BlocksDone;
    p.fileBlocks = m_state.FileBlocks;
    p.blockSize = m_state.BlockSize;
    p.fileSize = m_state.CurrentFileSize;
    p.bytesDone = m_state.BytesDone;
    p.totalBytes = m_state.TransferTotalBytes;
    return p;
}

} // namespace zapfer
