#pragma once

// The transfer engine as its front ends see it. The program owns exactly
// one; tests may run two in one process, a sender against a responder.
//
// Thread contract:
//  - configuration, send and finish calls come from one front-end thread (the
//    GUI thread, or zapfer-cli's main thread);
//  - TransferThread alone reads and writes the links and the received files;
//    links are opened and closed on it, at a point where no read or write is
//    in flight;
//  - EngineEvents are called from TransferThread, except linkFailed, which
//    may also come from the thread calling selectCommType / retrySerialPort.

#include "echo_responder.h"
#include "engine_core.h"
#include "sendable.h"
#include "transfer_thread.h"

#include <vector>

namespace zapfer {

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

class Engine {
public:
    explicit Engine(EngineEvents& events, LinkConfig config = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    EngineState& state() { return m_core.state; }
    const EngineState& state() const { return m_core.state; }

    // --- configuration (front-end thread) ---
    // Destination, overwrite preference, peer address, owner name, devices;
    // used from the next transfer on.
    void setSettings(const EngineSettings& settings) { m_core.setSettings(settings); }
    EngineSettings settings() const { return m_core.settings(); }

    // Makes `type` current: closes the previous type's link and opens the new
    // one (listener and broadcast socket, or the serial port). A failure is
    // reported through linkFailed when `reportFailure` is set. Returns true
    // when the link can send (the serial port opened; always for LAN and WAN;
    // never for IRDA). Waits for TransferThread to reach a safe point.
    bool selectCommType(CommType type, bool reportFailure);
    // The once-a-second retry while a serial port cannot be opened; quiet.
    // Returns true when the port is (now) open.
    bool retrySerialPort();
    // Why the serial port last failed to open or was lost; no fault while it
    // is open.
    LinkError linkError() const { return m_core.status.error(); }
    // The TCP port actually listened on; 0 when the listener is closed.
    uint16_t listenPort() const { return m_core.status.listenPort; }
    // The TCP port paired links are taken on; 0 when none is (no code set).
    uint16_t pairedPort() const { return m_core.status.pairedPort; }
    uint16_t echoPort() const { return m_core.status.echoPort; }
    // The name the peer of the current serial link gave; empty when none.
    std::string peerName() const { return m_core.status.peerName(); }

    // --- lifetime ---
    // LinkState Listening, then TransferThread and EchoResponder start.
    void start();
    // AbortFlag, Stopped, wake and join both threads, close the links.
    void stop();

    // --- sending (front-end thread) ---
    // Fills the file table and moves to Connecting: the send's id. Refused
    // (kNoTransfer, with the reason as a value) when the list is empty or
    // over 100 files, a file cannot be sent (see checkSendable), or the
    // engine is not idle.
    TransferId send(const std::vector<SendFile>& files, SendRefused* why = nullptr);
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

    // One consistent reading of what the front end may show or decide on.
    EngineSnapshot snapshot() const;

private:
    EngineCore m_core;
    TransferThread m_transfer;
    EchoResponder m_echo;
};

} // namespace zapfer
