#pragma once

// The transfer engine: the link state shared by the front end's thread,
// TransferThread and EchoResponder, and the threads themselves. The program
// owns exactly one; tests may run two in one process, a sender against a
// responder.
//
// Thread contract:
//  - configuration, send and finish calls come from one front-end thread (the
//    GUI thread, or zapfer-cli's main thread);
//  - TransferThread alone reads and writes the links and the received files;
//    links are opened and closed on it, at a point where no read or write is
//    in flight;
//  - EngineEvents are called from TransferThread, except linkMessage, which may
//    also come from the thread calling selectCommType / retrySerialPort.

#include "accept_list.h"
#include "conflict_names.h"
#include "engine_events.h"
#include "engine_state.h"
#include "link.h"
#include "link_status.h"
#include "receive_session.h"
#include "sendable.h"
#include "serial_devices.h"
#include "socket_endpoint.h"
#include "task_queue.h"
#include "transfer_records.h"
#include "waker.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zapfer {

// What the engine takes from the settings.
struct EngineSettings {
    std::string destDir;
    NameConflict nameConflict = NameConflict::Refuse;
    AcceptList acceptFrom; // socket peers; a serial link is always accepted
    uint32_t peerIp = 0;   // first octet in the most significant byte
    std::string ownerName = "No Name";
    SerialDevices serialDevices;
};

// One reading of the progress fields, for the status dialog.
struct TransferProgress {
    int32_t fileIndex = -1;
    int32_t fileCount = 0;
    int32_t filesDone = 0;
    int32_t blocksDone = 0;
    int32_t fileBlocks = 0;
    int32_t blockSize = 0;
    int64_t fileSize = 0;
    int64_t bytesDone = 0;
    int64_t totalBytes = 0;
};

// What the front end reads to decide and to show, taken at one moment.
struct EngineSnapshot {
    LinkState linkState = LinkState::Stopped;
    bool aborting = false;  // AbortFlag: the transfer under way is stopping
    bool responding = true; // ReceiveEnabled: this machine serves peers
    bool canSend = false;
    TransferId sendId = kNoTransfer;
    TransferId receiveId = kNoTransfer;
    TransferProgress progress;

    // The link of send `id` is up and its sender may run.
    bool linkUpFor(TransferId id) const {
        return id == sendId && !aborting && linkState == LinkState::Connected;
    }
    // The engine serves peers again: no send of this machine is under way.
    bool idle() const { return responding && linkState == LinkState::Listening; }
};

class SerialLink;

class Engine : private SessionObserver, private ReplySink {
public:
    explicit Engine(EngineEvents& events, LinkConfig config = {});
    ~Engine() override;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    EngineState& state() { return m_state; }
    const EngineState& state() const { return m_state; }

    // --- configuration (front-end thread) ---
    // Destination, overwrite preference, peer address, owner name, devices;
    // used from the next transfer on.
    void setSettings(const EngineSettings& settings);
    EngineSettings settings() const;

    // Makes `type` current: closes the previous type's link and opens the new
    // one (listener and broadcast socket, or the serial port). A failure is
    // reported through linkMessage when `reportFailure` is set. Returns true
    // when the link can send (the serial port opened; always for LAN and WAN;
    // never for IRDA). Waits for TransferThread to reach a safe point.
    bool selectCommType(CommType type, bool reportFailure);
    // The once-a-second retry while a serial port cannot be opened; quiet.
    // Returns true when the port is (now) open.
    bool retrySerialPort();
    bool canSend() const { return m_status.canSend; }
    // Why the serial port last failed to open or was lost, naming the device
    // and the cause; empty while it is open.
    std::string lastLinkError() const { return m_status.lastError(); }
    // The TCP port actually listened on; 0 when the listener is closed.
    uint16_t listenPort() const { return m_status.listenPort; }
    uint16_t echoPort() const { return m_status.echoPort; }
    // The name the peer of the current serial link gave; empty when none.
    std::string peerName() const { return m_status.peerName(); }

    // --- lifetime ---
    // LinkState Listening, then TransferThread and EchoResponder start.
    void start();
    // AbortFlag, Stopped, wake and join both threads, close the links.
    void stop();

    // --- sending (front-end thread) ---
    // Fills the file table and moves to Connecting. Refused (false, with the
    // reason as a value) when the list is empty or over 100 files, a file
    // cannot be sent (see checkSendable), or the engine is not idle.
    bool beginSend(const std::vector<SendFile>& files, SendRefused* why = nullptr);
    // The Connecting dialog closed with AbortFlag clear: the sender runs.
    void startSending();
    // Cancel in the Connecting or the status dialog.
    void cancel();
    // The status dialog of a send has closed: waits for the sender to finish,
    // returns to Listening in the responder role and clears AbortFlag.
    SendOutcome finishSend();
    // The receive dialog has closed: waits for the responder to leave the
    // transfer (deleting a partial file), returns to Listening, clears AbortFlag.
    ReceiveOutcome finishReceive();

    TransferProgress progress() const;

    // --- the transfer API (front-end thread) ---
    // Starts a send of `files` (the Connecting step); its id, or kNoTransfer
    // with the reason when refused (see beginSend).
    TransferId send(const std::vector<SendFile>& files, SendRefused* why = nullptr);
    // One consistent reading of what the front end may show or decide on.
    EngineSnapshot snapshot() const;

private:
    void setAbort();
    // Moves LinkState to `to` unless the engine is stopping: a late store must
    // never undo Stopped.
    void moveLinkState(LinkState to);
    // TransferThread: a peer's transfer to this machine is under way.
    bool receiveActive() const;
    bool keepConnecting() const;

    void transferThreadMain();
    void echoResponderMain(int socket);
    void applyCommType(CommType type, bool reportFailure);
    void closeLinks();
    void runSender();

    // Socket link (socket_driver.cpp).
    void acceptPending();
    void dialSocket();
    void serveSocketPeer();
    // Serial link (serial_driver.cpp).
    bool openSerialLink(CommType type, bool reportFailure);
    SerialLink* serialLink();
    bool serialLinkReady();
    void dialSerial();
    void keepSerialAlive();
    void serveSerialStep();
    void stopSerialReceive();
    void checkSerialIdle();
    // The receive session on the current link, made when it is first needed.
    ReceiveSession& session();
    void endReceive();

    // SessionObserver.
    ReceivePolicy policy() override;
    void incoming() override;
    void fileStarted(const std::string& storedName) override;
    void closeStatus() override;
    void sound(Sound sound) override;
    void abortTransfer() override;
    void transferComplete() override;
    void linkRequested() override;
    void receiveEnded(const ReceiveOutcome& outcome) override;
    void peerNamed(const std::string& name) override;
    void peerRefused(const RefusedTable& table) override;
    // ReplySink.
    void reply(std::span<const uint8_t> bytes) override;
    void discardInput() override;
    void pace(int ms) override;

    EngineEvents& m_events;
    const LinkConfig m_config;
    EngineState m_state;
    LinkStatus m_status;
    Waker m_waker;
    TaskQueue m_tasks;
    SocketEndpoint m_endpoint;

    mutable std::mutex m_settingsMutex;
    EngineSettings m_settings;

    // Owned by TransferThread (or the front end before start / after stop).
    std::unique_ptr<Link> m_link; // the connection or the serial port
    uint32_t m_peerAddress = 0;   // of an accepted connection, host order
    std::unique_ptr<ReceiveSession> m_session;
    PendingSend m_send;

    // Thread plumbing.
    UniqueFd m_stopFd; // eventfd: signalled once at stop, never drained
    std::thread m_transferThread;
    std::thread m_echoThread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_inTransfer{false}; // sender or socket service loop running
    Outcomes m_outcomes;
    std::atomic<TransferId> m_lastId{kNoTransfer};
    std::atomic<TransferId> m_sendId{kNoTransfer};    // the send under way or last
    std::atomic<TransferId> m_receiveId{kNoTransfer}; // the receive under way or last
};

} // namespace zapfer
