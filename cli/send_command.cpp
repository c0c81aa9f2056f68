#include "send_command.h"
#include "link_error_text.h"

#include "event_queue.h"
#include "pairing_store.h"
#include "progress_bar.h"
#include "received_names.h"
#include "send_handshake.h"
#include "send_list.h"
#include "signal_watcher.h"
#include "transfer_history.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace zapfer::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTick = 200ms;      // progress refresh
constexpr auto kCancelGrace = 10s; // how long a cancelled sender may take to stop

const char* refusalText(int32_t peerError) {
    switch (peerError) {
    case PeerNoSpace:
        return "The recipient's machine does not have enough storage space to receive all of "
               "the selected files.";
    case PeerNameConflict:
        return "One or more file names conflict with existing files on the recipient's machine.";
    case PeerCannotCreate:
        return "The receiver is unable to create the destination file; the send operation has "
               "been aborted.";
    default:
        return nullptr;
    }
}

std::string describe(const SendRefused& why) {
    switch (why.reason) {
    case SendRefused::Reason::NoFiles:
        return "there are no files to send";
    case SendRefused::Reason::TooManyFiles:
        return "at most 100 files can be sent at once";
    case SendRefused::Reason::LinkClosed:
        return "the link is not open";
    case SendRefused::Reason::Busy:
        return "a transfer is in progress";
    case SendRefused::Reason::File:
        return describeRefusal(why.file, why.path);
    }
    return {};
}

// Why the link to the receiver did not come up.
std::string connectFailureText(SendFailure failure) {
    switch (failure) {
    case SendFailure::OwnAddress:
        return "That address is this computer: it cannot receive from itself";
    case SendFailure::PairedNotAccepted:
        return "The peer does not accept paired transfers";
    case SendFailure::PairingMismatch:
        return "The peer has a different pairing code";
    case SendFailure::PairedNoAnswer:
        return "The peer did not answer";
    default:
        return "the connection to the receiver failed";
    }
}

void printError(const std::string& text) {
    std::fprintf(stderr, "zapfer-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

// IPv4 address of `text`, host byte order with the first octet on top.
std::optional<uint32_t> resolvePeer(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) == 1)
        return ntohl(address.s_addr);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    const uint32_t result =
        ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return result;
}

class SendSession {
public:
    SendSession(const CliOptions& options, EventQueue& queue, Engine& engine,
                TransferHistory& history, recording::TransferContext context)
        : m_options(options), m_queue(queue), m_engine(engine), m_handshake(engine), m_bar(stderr),
          m_context(std::move(context)), m_history(history) {}

    int run(const std::vector<SendFile>& files);

private:
    enum class Ending { Done, Interrupted, Stalled };
    bool connect();
    bool paired() const {
        return !m_options.serialType && !m_options.pairingCode.empty() && !m_options.plain;
    }
    Ending transfer();
    int report(const SendOutcome& outcome, Ending ending);
    void printLinkMessage(const CliEvent& event);
    // After the send's report: a slow or failing history delays nothing the user waits on.
    void recordSend(const std::vector<SendFile>& files);

    const CliOptions& m_options;
    EventQueue& m_queue;
    Engine& m_engine;
    SendHandshake m_handshake;
    ProgressBar m_bar;
    recording::TransferContext m_context;
    TransferHistory& m_history;
};

int SendSession::run(const std::vector<SendFile>& files) {
    SendRefused why;
    if (m_handshake.begin(files, &why) == kNoTransfer) {
        printError("cannot send: " + describe(why));
        return 1;
    }
    if (m_options.serialType)
        std::printf("calling the receiver on %s\n",
                    serialDeviceFor(*m_options.serialType, serialDevicesOf(m_options)).c_str());
    else if (m_options.lan)
        std::printf("looking for a receiver on the local network%s\n",
                    paired() ? " (paired link)" : "");
    else
        std::printf("connecting to %s port %u%s\n", m_options.toAddress.c_str(),
                    unsigned(paired() ? m_options.pairedPort : m_options.port),
                    paired() ? " (paired link)" : "");
    std::fflush(stdout);
    m_context.startedMs = recording::nowMs();
    if (!connect()) {
        recordSend(files);
        return 1;
    }

    int64_t total = 0;
    for (const auto& file : files)
        total += file.size;
    std::printf("connected; sending %zu file%s (%s)\n", files.size(), files.size() == 1 ? "" : "s",
                formatBytes(total).c_str());
    std::fflush(stdout);
    m_bar.restart();
    const Ending ending = transfer();
    m_bar.clear();
    const int status = report(m_handshake.statusClosed(false), ending);
    recordSend(files);
    return status;
}

void SendSession::recordSend(const std::vector<SendFile>& files) {
    m_context.endedMs = recording::nowMs();
    m_context.peerName = m_engine.peerName();
    const SendOutcome& outcome = m_handshake.outcome();
    // On the LAN, whoever answered the broadcast.
    if (outcome.peerAddress != 0)
        m_context.peer = recording::addressText(outcome.peerAddress);
    m_history.record(recording::recordOf(outcome, m_context, files));
}

// Waits for the link; false (the reason printed, the engine idle again) when
// it did not come up.
bool SendSession::connect() {
    const auto deadline = Clock::now() + std::chrono::seconds(m_options.timeoutSeconds);
    for (;;) {
        const auto event = m_queue.wait(kTick);
        if (event && event->kind == CliEvent::Kind::LinkMessage) {
            printLinkMessage(*event);
            continue;
        }
        if (event && event->kind == CliEvent::Kind::ConnectingClosed &&
            m_handshake.owns(event->id)) {
            if (m_handshake.connectingClosed(false))
                return true;
            printError(connectFailureText(m_handshake.outcome().failure));
            return false;
        }
        if (event && event->kind == CliEvent::Kind::Interrupted) {
            m_handshake.connectingClosed(true);
            printError("cancelled before a receiver was found");
            return false;
        }
        if (Clock::now() >= deadline) {
            m_handshake.connectingClosed(true);
            if (m_options.serialType)
                printError("no receiver answered on " +
                           serialDeviceFor(*m_options.serialType, serialDevicesOf(m_options)) +
                           " within " + std::to_string(m_options.timeoutSeconds) + " seconds");
            else if (m_options.lan)
                printError("no receiver answered on the local network within " +
                           std::to_string(m_options.timeoutSeconds) + " seconds");
            else if (paired())
                printError(connectFailureText(SendFailure::PairedNoAnswer));
            else
                printError("could not connect to " + m_options.toAddress + " port " +
                           std::to_string(m_options.port) + " within " +
                           std::to_string(m_options.timeoutSeconds) + " seconds");
            return false;
        }
    }
}

SendSession::Ending SendSession::transfer() {
    Ending ending = Ending::Done;
    auto cancelledAt = Clock::time_point::max();
    auto lastMove = Clock::now();
    TransferProgress last = m_engine.snapshot().progress;
    int idleTicks = 0;
    for (;;) {
        const auto event = m_queue.wait(kTick);
        const auto now = Clock::now();
        if (event) {
            switch (event->kind) {
            case CliEvent::Kind::StatusClosed:
                if (m_handshake.owns(event->id))
                    return ending;
                break;
            case CliEvent::Kind::FileStarted:
                if (m_handshake.owns(event->id))
                    m_bar.printLine(stdout, "sending " + printableName(event->text));
                break;
            case CliEvent::Kind::FileEnded:
                if (m_handshake.owns(event->id))
                    m_bar.printLine(stdout,
                                    "sent " + printableName(event->text) + crcSuffix(event->crc32));
                break;
            case CliEvent::Kind::LinkMessage:
                printLinkMessage(*event);
                break;
            case CliEvent::Kind::Interrupted:
                if (ending == Ending::Done) {
                    ending = Ending::Interrupted;
                    cancelledAt = now;
                    m_engine.cancel();
                }
                break;
            default:
                break;
            }
        }
        if (cancelledAt != Clock::time_point::max() && now - cancelledAt > kCancelGrace)
            return ending;

        const EngineSnapshot snapshot = m_engine.snapshot();
        const TransferProgress& progress = snapshot.progress;
        if (progress.bytesDone != last.bytesDone || progress.fileIndex != last.fileIndex ||
            progress.filesDone != last.filesDone)
            lastMove = now;
        last = progress;
        if (!event) {
            m_bar.update(progress);
            // The sender has returned without the closing event: do not wait forever.
            idleTicks = snapshot.idle() ? idleTicks + 1 : 0;
            if (idleTicks >= 3)
                return ending;
        }
        if (ending == Ending::Done &&
            now - lastMove > std::chrono::seconds(m_options.timeoutSeconds)) {
            ending = Ending::Stalled;
            cancelledAt = now;
            m_engine.cancel();
        }
    }
}

int SendSession::report(const SendOutcome& outcome, Ending ending) {
    if (const char* refusal = refusalText(outcome.peerError)) {
        std::fprintf(stderr, "%s\n", refusal);
        return 1;
    }
    std::printf("%d of %d files sent successfully\n", outcome.filesDone, outcome.fileCount);
    std::fflush(stdout);
    if (ending == Ending::Interrupted) {
        printError("send cancelled");
        return 1;
    }
    if (ending == Ending::Stalled) {
        printError("the transfer made no progress for " + std::to_string(m_options.timeoutSeconds) +
                   " seconds; gave up");
        return 1;
    }
    if (outcome.failure == SendFailure::BlockNotAcknowledged) {
        printError("the receiver did not acknowledge a block, however often it was sent again; "
                   "the transfer was stopped");
        return 1;
    }
    if (outcome.aborted || outcome.filesDone != outcome.fileCount) {
        printError(outcome.aborted ? "the transfer was interrupted"
                                   : "not every file could be sent");
        return 1;
    }
    return 0;
}

void SendSession::printLinkMessage(const CliEvent& event) {
    m_bar.clear();
    printError(event.text);
}

} // namespace

int runSend(const CliOptions& options) {
    const SendListResult list = gatherSendFiles(options.files);
    if (!list.error.empty()) {
        printError(list.error);
        return 2;
    }
    uint32_t peerIp = 0;
    if (!options.lan && !options.serialType) {
        const auto resolved = resolvePeer(options.toAddress);
        if (!resolved) {
            printError("cannot find the address of '" + options.toAddress + "'");
            return 2;
        }
        peerIp = *resolved;
    }

    EventQueue queue;
    SignalWatcher signals(queue);
    // Before the engine: its write then overlaps the engine's shutdown.
    // After the watcher: its threads leave the signals to the watcher.
    TransferHistory history(list.files.size());
    LinkConfig config;
    // A sending zapfer-cli serves nobody: free ports keep it out of the way of
    // a receiver on the same machine.
    config.listenPort = 0;
    config.echoPort = 0;
    config.peerPort = options.port;
    config.pairedListenPort = 0;
    config.pairedPeerPort = options.pairedPort;
    config.probePort = options.probePort;
    Engine engine(queue, config);
    EngineSettings settings;
    settings.peerIp = peerIp;
    settings.pairingCode = options.pairingCode;
    settings.plainLink = options.plain;
    if (!options.serialType && !options.plain)
        settings.pairingKey = storedPairingKey(options);
    if (options.serialType)
        settings.serialDevices = serialDevicesOf(options);
    engine.setSettings(settings);
    if (options.serialType) {
        const CommType type = *options.serialType;
        if (!engine.selectCommType(type, false)) {
            printError("cannot open the " + std::string(commTypeName(type)) +
                       " link: " + describeLinkError(engine.linkError()));
            return 1;
        }
    } else if (!engine.selectCommType(options.lan ? CommType::Lan : CommType::Wan, true)) {
        while (const auto event = queue.wait(std::chrono::milliseconds(0)))
            if (event->kind == CliEvent::Kind::LinkMessage)
                printError(event->text);
        printError("the network link cannot be opened");
        return 1;
    }
    recording::TransferContext context;
    if (options.serialType) {
        context.link = recording::linkNameOf(*options.serialType);
        context.peer = serialDeviceFor(*options.serialType, serialDevicesOf(options));
    } else {
        // A peer found on the local network is named by the send's outcome.
        context.link = recording::linkNameOf(options.lan ? CommType::Lan : CommType::Wan);
        context.peer = recording::addressText(peerIp);
    }
    engine.start();
    const int status =
        SendSession(options, queue, engine, history, std::move(context)).run(list.files);
    engine.stop();
    return status;
}

} // namespace zapfer::cli
