#include "engine.h"

#include "received_file.h"
#include "serial_port.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zapfer {

namespace {
bool isSocketType(CommType type) {
    return linkKindOf(type) == LinkKind::Socket;
}
} // namespace

Engine::Engine(EngineEvents& events, LinkConfig config)
    : m_events(events), m_config(std::move(config)),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Probe numbers start at random, so two machines' probes differ.
    m_probeNonce = std::random_device{}();
}

Engine::~Engine() {
    stop();
    closeLinkHandles();
}

void Engine::setSettings(const EngineSettings& settings) {
    std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

EngineSettings Engine::settings() const {
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

// --- tasks run on TransferThread --------------------------------------------

void Engine::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd.get(), &one, sizeof one);
}

void Engine::moveLinkState(LinkState to) {
    LinkState current = m_state.LinkState;
    while (current != LinkState::Stopped && !m_state.LinkState.compare_exchange_weak(current, to)) {
    }
}

void Engine::setAbort() {
    m_state.AbortFlag = 1;
    wake();
}

void Engine::runOnTransferThread(const std::function<void()>& task) {
    std::unique_lock lock(m_taskMutex);
    if (!m_running || std::this_thread::get_id() == m_transferThread.get_id()) {
        lock.unlock();
        task();
        return;
    }
    const uint64_t ticket = ++m_tasksQueued;
    m_tasks.push_back(task);
    m_tasksPending = true;
    wake();
    // TransferThread reaches a safe point within one exchange; the bound only
    // guards against a thread that is gone.
    m_taskDone.wait_for(lock, std::chrono::seconds(30),
                        [&] { return m_tasksRun >= ticket || !m_running; });
}

void Engine::runPendingTasks() {
    if (!m_tasksPending)
        return;
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(m_taskMutex);
        tasks.swap(m_tasks);
        m_tasksPending = false;
    }
    for (const auto& task : tasks)
        task();
    {
        std::lock_guard lock(m_taskMutex);
        m_tasksRun += tasks.size();
    }
    m_taskDone.notify_all();
}

// --- link selection -----------------------------------------------------------

bool Engine::selectCommType(CommType type, bool reportFailure) {
    runOnTransferThread([this, type, reportFailure] { applyCommType(type, reportFailure); });
    return m_canSend;
}

bool Engine::retrySerialPort() {
    runOnTransferThread([this] {
        const CommType type = m_state.CommType;
        if (isSerial(type) && !m_serialPort)
            m_canSend = openSerialLink(type, false);
    });
    return m_canSend;
}

void Engine::applyCommType(CommType type, bool reportFailure) {
    if (m_dataSocket || m_currentFile || m_tableAccepted) {
        // A link change in the middle of a receive ends it.
        m_state.AbortFlag = 1;
        endReceive();
    }
    closeLinkHandles();
    m_state.CommType = type;
    m_state.BlockSize = blockSizeFor(type);
    if (type == CommType::Irda) {
        m_canSend = false;
        if (reportFailure)
            m_events.linkMessage("Infrared sockets are not available on this system.",
                                 std::string(commTypeName(type)));
        return;
    }
    if (isSocketType(type)) {
        OpenListener(); // a failed listener still lets this machine send
        m_canSend = true;
        return;
    }
    m_canSend = openSerialLink(type, reportFailure);
}

void Engine::closeLinkHandles() {
    m_listenSocket.reset();
    m_broadcastSocket.reset();
    m_listenPort = 0;
    m_serialPort.reset();
    m_canSend = false;
}

// --- lifetime -----------------------------------------------------------------

void Engine::start() {
    std::lock_guard lock(m_taskMutex);
    if (m_running)
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
            m_echoPort = ntohs(address.sin_port);
        } else {
            echo.reset(); // the port is taken: this machine can still send and receive
        }
    }
    m_running = true;
    m_transferThread = std::thread([this] { transferThreadMain(); });
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
    wake();
    if (m_transferThread.joinable())
        m_transferThread.join();
    if (m_echoThread.joinable())
        m_echoThread.join();
    {
        std::lock_guard lock(m_taskMutex);
        m_running = false;
    }
    runPendingTasks();
    m_taskDone.notify_all();
    if (m_currentFile || m_dataSocket || m_tableAccepted)
        endReceive();
    m_dataSocket.reset();
    m_echoPort = 0;
}

// --- TransferThread -------------------------------------------------------------

void Engine::transferThreadMain() {
    for (;;) {
        runPendingTasks();
        const LinkState link = m_state.LinkState;
        if (link == LinkState::Stopped || m_stopRequested)
            break;
        const CommType type = m_state.CommType;
        if (m_state.ReceiveEnabled) {
            if (isSerial(type)) {
                SerialResponderStep();
            } else if (link == LinkState::Listening || link == LinkState::Unnamed) {
                m_dataSocket.reset(); // a link left over from a cancelled send
                acceptPending();
            } else if ((link == LinkState::Connected || link == LinkState::Receiving) &&
                       m_dataSocket) {
                SocketResponder();
            } else {
                pause(20);
            }
            continue;
        }
        switch (link) {
        case LinkState::Connecting:
            if (isSerial(type))
                SerialDial();
            else
                SocketConnect();
            m_events.closeConnectingDialog();
            pause(20);
            break;
        case LinkState::Connected:
            SerialKeepAlive();
            pause(20);
            break;
        case LinkState::Sending:
            m_inTransfer = true;
            m_sentFiles.assign(m_sendFiles.size(), false);
            if (isSerial(type))
                SerialSender();
            else
                SocketSender();
            m_inTransfer = false;
            moveLinkState(LinkState::Listening);
            m_state.ReceiveEnabled = 1;
            {
                std::lock_guard lock(m_outcomeMutex);
                m_senderActive = false;
            }
            m_outcomeChanged.notify_all();
            break;
        default:
            pause(20);
            break;
        }
    }
    runPendingTasks();
}

bool Engine::waitFor(int fd, short events, int timeoutMs) {
    pollfd fds[2] = {{m_wakeFd.get(), POLLIN, 0}, {fd, events, 0}};
    const int count = fd >= 0 ? 2 : 1;
    int result;
    do {
        result = ::poll(fds, nfds_t(count), timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result > 0 && (fds[0].revents & POLLIN)) {
        uint64_t value;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd.get(), &value, sizeof value);
    }
    return result > 0 && count == 2 && fds[1].revents != 0;
}

// --- sending ----------------------------------------------------------------------

bool Engine::beginSend(const std::vector<SendFile>& files, std::string* whyNot) {
    auto refuse = [whyNot](std::string reason) {
        if (whyNot)
            *whyNot = std::move(reason);
        return false;
    };
    if (files.empty())
        return refuse("There are no files to send.");
    if (files.size() > size_t(kMaxEntries))
        return refuse("At most 100 files can be sent at once.");
    if (!m_canSend)
        return refuse("The communications link is not open.");
    if (m_inTransfer || m_senderActive || m_state.ReceiveEnabled == 0 ||
        m_state.LinkState != LinkState::Listening)
        return refuse("A transfer is in progress.");

    int64_t total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        EntryBytes entry;
        switch (EncodeTransferEntry(files[i].path, files[i].size, entry)) {
        case EntryError::None:
            break;
        case EntryError::NameTooLong:
            return refuse("The name of " + files[i].path + " is longer than 125 characters.");
        case EntryError::SizeOutOfRange:
            return refuse(files[i].path + " is 2 GB or larger and cannot be sent.");
        case EntryError::EmptyName:
            return refuse(files[i].path + " is not a file.");
        }
        std::copy(entry.begin(), entry.end(), m_sendTable.begin() + long(i * kEntrySize));
        total += files[i].size;
    }
    m_sendFiles = files;

    LinkState expected = LinkState::Listening;
    m_state.FilesDone = 0;
    m_state.TransferFileCount = int32_t(files.size());
    m_state.TransferTotalBytes = total;
    m_state.TransferIndex = -1;
    m_state.BytesDone = 0;
    m_state.BlocksDone = 0;
    m_state.FileBlocks = 0;
    m_state.PeerError = 0;
    m_state.AbortFlag = 0;
    if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connecting))
        return refuse("A transfer is in progress.");
    m_state.ReceiveEnabled = 0;
    wake();
    return true;
}

void Engine::startSending() {
    m_senderActive = true;
    LinkState expected = LinkState::Connected;
    if (m_state.AbortFlag ||
        !m_state.LinkState.compare_exchange_strong(expected, LinkState::Sending)) {
        std::lock_guard lock(m_outcomeMutex);
        m_senderActive = false;
        return;
    }
    wake();
}

void Engine::cancel() {
    setAbort();
    moveLinkState(LinkState::Listening);
    m_state.ReceiveEnabled = 1;
}

SendOutcome Engine::finishSend() {
    std::unique_lock lock(m_outcomeMutex);
    const bool ran = m_outcomeChanged.wait_for(lock, std::chrono::seconds(10),
                                               [this] { return !m_senderActive; });
    SendOutcome outcome;
    if (ran && m_lastSend.fileCount > 0 && m_lastSendFresh) {
        outcome = m_lastSend;
    } else {
        outcome.peerError = m_state.PeerError;
        outcome.aborted = true;
        outcome.transferIndex = -1;
        outcome.fileCount = m_state.TransferFileCount;
    }
    m_lastSendFresh = false;
    lock.unlock();

    // Done on TransferThread: it may already serve the next peer, whose
    // state must not be touched.
    runOnTransferThread([this] {
        m_state.ReceiveEnabled = 1;
        if (receiveActive())
            return;
        LinkState link = m_state.LinkState;
        if (link == LinkState::Connecting || link == LinkState::Connected ||
            link == LinkState::Sending)
            moveLinkState(LinkState::Listening);
        m_state.AbortFlag = 0;
    });
    wake();
    return outcome;
}

ReceiveOutcome Engine::finishReceive() {
    auto outcome = std::make_shared<ReceiveOutcome>();
    // Done on TransferThread, between two commands: a late call must neither
    // end nor disturb a receive from the next peer.
    runOnTransferThread([this, outcome] {
        // A receive still open here with AbortFlag set was cancelled by the
        // user (the serial responder keeps a transfer across steps).
        if (m_state.AbortFlag && receiveActive()) {
            if (isSerial(m_state.CommType))
                stopSerialReceive();
            else
                endReceive();
        }
        {
            std::lock_guard lock(m_outcomeMutex);
            *outcome = m_lastReceive;
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
    return m_tableAccepted || m_currentFile ||
           (m_dataSocket && m_state.ReceiveEnabled && !isSerial(m_state.CommType));
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

EntryBytes Engine::sendTableEntry(int index) const {
    EntryBytes entry{};
    if (index >= 0 && index < kMaxEntries)
        std::copy_n(m_sendTable.begin() + long(index) * long(kEntrySize), kEntrySize,
                    entry.begin());
    return entry;
}

} // namespace zapfer
