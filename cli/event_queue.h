#pragma once

// Hands the engine's events, and interrupting signals, to zapfer-cli's main
// thread. The engine calls in from its own threads; the main thread takes the
// events one at a time with wait().

#include "engine_events.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace zapfer::cli {

struct CliEvent {
    enum class Kind {
        IncomingTransfer,
        ConnectingClosed,
        StatusClosed,
        FileStarted,
        FileEnded, // completed: sent or stored whole
        LinkMessage,
        Interrupted,
        Refused,      // a table from a peer not in the accept list, a failed paired handshake
        TableRefused, // any refused table, for the history
    };
    Kind kind;
    std::string text; // the file name, the link message, or what was refused
    TransferId id = kNoTransfer;
    std::optional<uint32_t> crc32{};         // FileEnded: of the whole file
    std::optional<RefusedReceive> refusal{}; // TableRefused
};

class EventQueue : public EngineEvents {
public:
    // From any thread.
    void post(CliEvent event);
    // The next event, or nothing when none came within `timeout`.
    std::optional<CliEvent> wait(std::chrono::milliseconds timeout);

    // EngineEvents: quick and non-blocking, as the engine requires.
    void receiveStarted(TransferId id) override;
    void connectingEnded(TransferId id) override;
    void transferEnded(TransferId id) override;
    void fileStarting(TransferId id, const std::string& namePart) override;
    void fileEnded(TransferId id, const FileOutcome& file) override;
    void receiveRefused(uint32_t peerAddress, int32_t fileCount, int64_t totalBytes) override;
    void tableRefused(const RefusedReceive& refusal) override;
    void pairingFailed(uint32_t peerAddress) override;
    void playSound(Sound) override {}
    void linkFailed(const LinkError& error) override;

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<CliEvent> m_events;
};

} // namespace zapfer::cli
