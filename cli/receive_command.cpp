#include "receive_command.h"
#include "link_error_text.h"

#include "conflict_names.h"
#include "default_destination.h"
#include "event_queue.h"
#include "pairing_store.h"
#include "progress_bar.h"
#include "received_names.h"
#include "refusal_throttle.h"
#include "signal_watcher.h"
#include "transfer_history.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace zapfer::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTick = 200ms;
constexpr auto kCancelGrace = 10s;

void printError(const std::string& text) {
    std::fprintf(stderr, "zapfer-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

class ReceiveSession {
public:
    // `context`: the link and, on a serial link, the device.
    ReceiveSession(EventQueue& queue, Engine& engine, TransferHistory& history, bool serial,
                   recording::TransferContext context)
        : m_queue(queue), m_engine(engine), m_bar(stderr), m_serial(serial),
          m_context(std::move(context)), m_history(history) {}

    // Until interrupted.
    void run();

private:
    void begin();
    void finish();
    void cancelAndFinish();
    void watchPort();
    void recordRefusal(const RefusedReceive& refusal);
    // Every kTick: the progress bar, the serial port, an end not announced.
    void tick();
    // The next event, waited for at most kTick; tick() runs whenever its
    // time has come since `lastTick`, whether an event came or not.
    std::optional<CliEvent> nextEvent(Clock::time_point& lastTick);

    EventQueue& m_queue;
    Engine& m_engine;
    ProgressBar m_bar;
    bool m_inTransfer = false;
    TransferId m_transfer = kNoTransfer; // the receive under way
    int m_idleTicks = 0;
    bool m_serial;
    bool m_portLost = false;
    recording::TransferContext m_context;
    recording::RefusalThrottle m_refusals;
    TransferHistory& m_history;
};

void ReceiveSession::tick() {
    if (m_serial)
        watchPort();
    if (!m_inTransfer) {
        m_history.sayFinished();
        return;
    }
    m_bar.update(m_engine.snapshot().progress);
    // A transfer whose end was not announced (the link dropped): once the
    // engine has been idle for a while, take the outcome anyway.
    const bool idle = m_engine.snapshot().linkState == LinkState::Listening;
    m_idleTicks = idle ? m_idleTicks + 1 : 0;
    if (m_idleTicks >= 3)
        finish();
}

std::optional<CliEvent> ReceiveSession::nextEvent(Clock::time_point& lastTick) {
    auto event = m_queue.wait(kTick);
    // Ticks by the clock, not only when no event comes: a flood of refused
    // peers, each an event, must not hold back the report.
    if (Clock::now() - lastTick >= kTick) {
        lastTick = Clock::now();
        tick();
    }
    return event;
}

void ReceiveSession::run() {
    auto lastTick = Clock::now();
    for (;;) {
        const auto event = nextEvent(lastTick);
        if (!event)
            continue;
        switch (event->kind) {
        case CliEvent::Kind::Interrupted:
            if (m_inTransfer)
                cancelAndFinish();
            return;
        case CliEvent::Kind::IncomingTransfer:
            m_transfer = event->id;
            begin();
            break;
        case CliEvent::Kind::FileStarted:
            m_bar.printLine(stdout, "receiving " + printableName(event->text));
            break;
        case CliEvent::Kind::FileEnded:
            if (event->id == m_transfer)
                m_bar.printLine(stdout,
                                "received " + printableName(event->text) + crcSuffix(event->crc32));
            break;
        case CliEvent::Kind::StatusClosed:
            if (m_inTransfer && event->id == m_transfer)
                finish();
            break;
        case CliEvent::Kind::LinkMessage:
            m_bar.clear();
            printError(event->text);
            break;
        case CliEvent::Kind::Refused:
            m_bar.printLine(stdout, event->text);
            break;
        case CliEvent::Kind::TableRefused:
            if (event->refusal)
                recordRefusal(*event->refusal);
            break;
        case CliEvent::Kind::ConnectingClosed:
            break;
        }
    }
}

void ReceiveSession::begin() {
    if (m_inTransfer)
        return;
    m_inTransfer = true;
    m_idleTicks = 0;
    m_context.startedMs = recording::nowMs();
    m_bar.restart();
    const TransferProgress progress = m_engine.snapshot().progress;
    m_bar.printLine(stdout, "incoming transfer of " + std::to_string(progress.fileCount) + " file" +
                                (progress.fileCount == 1 ? "" : "s") + " (" +
                                formatBytes(progress.totalBytes) + ")");
}

void ReceiveSession::finish() {
    m_inTransfer = false;
    const ReceiveOutcome outcome = m_engine.finishReceive();
    std::string line = std::to_string(outcome.filesDone) + " of " +
                       std::to_string(outcome.fileCount) + " files received successfully";
    if (outcome.aborted)
        line = "transfer interrupted: " + line;
    for (const FileOutcome& file : outcome.files) {
        if (storedUnderOtherName(file))
            m_bar.printLine(stdout, printableName(*receivedFileName(file.nameAsSent)) +
                                        " stored as " + printableName(file.nameAsStored));
    }
    m_bar.printLine(stdout, line);
    // After the report, while the engine already serves the next peer.
    recording::TransferContext context = m_context;
    context.endedMs = recording::nowMs();
    if (!m_serial)
        context.peer = recording::addressText(outcome.peerAddress);
    context.peerName = m_engine.peerName();
    // No files: a serial line's table was refused, and recorded so already.
    if (!outcome.files.empty())
        m_history.record(recording::recordOf(outcome, context));
}

void ReceiveSession::recordRefusal(const RefusedReceive& refusal) {
    recording::TransferContext context = m_context;
    context.startedMs = context.endedMs = recording::nowMs();
    if (!m_serial)
        context.peer = recording::addressText(refusal.peerAddress);
    context.peerName.clear();
    if (m_refusals.admit(refusal.peerAddress, context.endedMs))
        m_history.record(recording::recordOf(refusal, context));
}

// A serial device that went away (an unplugged adapter) is opened again as
// soon as it returns, as the window's once-a-second retry does.
void ReceiveSession::watchPort() {
    if (m_engine.snapshot().canSend) {
        m_portLost = false;
        return;
    }
    if (!m_portLost) {
        m_bar.clear();
        printError(describeLinkError(m_engine.linkError()) + " Waiting for it to return.");
        m_portLost = true;
    }
    if (m_engine.retrySerialPort())
        m_bar.printLine(stdout, "the serial device is back");
}

// Ctrl+C in the middle of a transfer: stop it like the dialog's Cancel, so
// the partial file is removed, then report.
void ReceiveSession::cancelAndFinish() {
    m_engine.cancel();
    const auto deadline = Clock::now() + kCancelGrace;
    auto lastTick = Clock::now();
    // The end comes as its StatusClosed, or, where the link dropped without
    // one, as the idle engine tick() takes the outcome from.
    while (m_inTransfer && Clock::now() < deadline) {
        const auto event = nextEvent(lastTick);
        if (event && event->kind == CliEvent::Kind::StatusClosed && event->id == m_transfer)
            break;
    }
    if (m_inTransfer)
        finish();
}

} // namespace

int runReceive(const CliOptions& options) {
    std::error_code ec;
    // The download folder is made when missing, as the window makes it.
    if (!options.destDir.empty() && options.destDir == defaultDestinationPath())
        defaultDestination();
    const std::filesystem::path dest =
        std::filesystem::absolute(options.destDir.empty() ? "." : options.destDir, ec)
            .lexically_normal();
    if (ec || !std::filesystem::is_directory(dest, ec)) {
        printError("destination '" + options.destDir + "' is not a folder");
        return 2;
    }
    if (::access(dest.c_str(), W_OK | X_OK) != 0) {
        printError("destination '" + dest.string() + "' is not writable");
        return 2;
    }

    EventQueue queue;
    SignalWatcher signals(queue);
    // Opened while the engine starts, before any peer can connect.
    // After the watcher: its threads leave the signals to the watcher.
    TransferHistory history;
    LinkConfig config;
    config.listenPort = options.port;
    config.pairedListenPort = options.pairedPort;
    config.echoPort = options.echoPort;
    Engine engine(queue, config);
    EngineSettings settings;
    settings.destDir = dest.string();
    settings.nameConflict = options.nameConflict;
    settings.acceptFrom = options.acceptFrom;
    settings.pairingCode = options.pairingCode;
    if (!options.serialType)
        settings.pairingKey = storedPairingKey(options);
    if (options.onlyPaired)
        settings.acceptFrom.kind = AcceptFrom::PairedPeers;
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
        engine.start();
        std::printf("listening on %s (%s)\n", serialDeviceFor(type, settings.serialDevices).c_str(),
                    std::string(commTypeName(type)).c_str());
        std::fflush(stdout);
        recording::TransferContext context;
        context.link = recording::linkNameOf(type);
        context.peer = serialDeviceFor(type, settings.serialDevices);
        ReceiveSession(queue, engine, history, true, std::move(context)).run();
        engine.stop();
        return 0;
    }

    engine.selectCommType(CommType::Lan, true);
    engine.start();
    const bool plainWanted = !options.onlyPaired;
    const bool pairedWanted = !options.pairingCode.empty();
    if ((plainWanted && engine.listenPort() == 0) || (pairedWanted && engine.pairedPort() == 0)) {
        while (const auto event = queue.wait(0ms))
            if (event->kind == CliEvent::Kind::LinkMessage)
                printError(event->text);
        printError("cannot listen on TCP port " +
                   std::to_string(plainWanted && engine.listenPort() == 0 ? options.port
                                                                          : options.pairedPort));
        engine.stop();
        return 1;
    }
    if (engine.echoPort() == 0)
        printError("UDP port " + std::to_string(options.echoPort) +
                   " is in use: senders using --lan will not find this receiver, --to still works");
    if (plainWanted)
        std::printf("listening on port %u\n", unsigned(engine.listenPort()));
    if (pairedWanted)
        std::printf("listening for paired peers on port %u\n", unsigned(engine.pairedPort()));
    if (options.acceptFrom.kind == AcceptFrom::ListedAddresses && plainWanted)
        std::printf("accepting files only from %s\n", options.acceptFrom.text().c_str());
    std::fflush(stdout);

    recording::TransferContext context;
    context.link = recording::linkNameOf(CommType::Lan);
    ReceiveSession(queue, engine, history, false, std::move(context)).run();
    engine.stop();
    return 0;
}

} // namespace zapfer::cli
