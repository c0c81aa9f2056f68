#pragma once

// The transfer engine: one object holding the link state shared by the
// window's thread, TransferThread and EchoResponder, and the threads
// themselves. The program owns exactly one; tests may run two in one process,
// a sender against a responder.
//
// Thread contract:
//  - configuration, send and finish calls come from one front-end thread (the
//    GUI thread, or zapfer-cli's main thread);
//  - TransferThread alone reads and writes the data socket, the serial port
//    and the received files; link handles are opened and closed on it, at a
//    point where no read or write is in flight;
//  - EngineEvents are called from TransferThread, except linkMessage, which may
//    also come from the thread calling selectCommType / retrySerialPort.

#include "comm_type.h"
#include "engine_events.h"
#include "protocol.h"
#include "serial_devices.h"
#include "unique_fd.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zapfer {

enum class LinkState : uint32_t {
    Stopped = 0,
    Listening = 1,
    Connecting = 2,
    Connected = 3,
    Unnamed = 4, // nothing sets it; treated like Listening
    Sending = 5,
    Receiving = 6,
};

// Refusal codes carried in PeerError.
enum PeerRefusal : int32_t {
    PeerNoError = 0,
    PeerNoSpace = 1,
    PeerNameConflict = 2,
    PeerCannotCreate = 3,
};

// Ports and addresses of the socket link. The program always uses the
// defaults; tests and zapfer-cli may move them.
struct LinkConfig {
    uint16_t listenPort = 1756; // 0: an ephemeral port, read back with listenPort()
    uint16_t peerPort = 1756;   // TCP port connected to on the peer
    uint16_t echoPort = 1755;   // UDP port EchoResponder answers on; 0: ephemeral
    uint16_t probePort = 1755;  // UDP port LAN probes are sent to
    uint32_t listenAddress = 0; // host byte order; 0 = every local address
    // LAN probe targets (host byte order). Empty: 255.255.255.255 and the
    // broadcast address of every IPv4 interface that is up.
    std::vector<uint32_t> probeTargets;
};

// What the engine takes from the settings.
struct EngineSettings {
    std::string destDir;
    bool overwriteFiles = false;
    uint32_t peerIp = 0; // first octet in the most significant byte
    std::string ownerName = "No Name";
    SerialDevices serialDevices;
};

struct SendFile {
    std::string path; // absolute local path
    int64_t size = 0;
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

struct SendOutcome {
    int32_t peerError = 0;      // PeerRefusal
    bool aborted = false;       // AbortFlag was set when the send ended
    int32_t transferIndex = -1; // entry in progress when stopped; -1: table never accepted
    int32_t filesDone = 0;
    int32_t fileCount = 0;
    std::vector<bool> sent; // per entry: the file went through whole
};

struct ReceiveOutcome {
    bool aborted = false;
    int32_t filesDone = 0;
    int32_t fileCount = 0;
};

// The fields shared between the threads, under their usual names.
struct EngineState {
    std::atomic<::zapfer::LinkState> LinkState{::zapfer::LinkState::Stopped};
    std::atomic<int32_t> ReceiveEnabled{1};
    std::atomic<int32_t> AbortFlag{0};
    std::atomic<int32_t> PeerError{0};
    std::atomic<::zapfer::CommType> CommType{::zapfer::CommType::Lan};
    std::atomic<int32_t> BlockSize{32768};
    std::atomic<int32_t> TransferFileCount{0};
    std::atomic<int32_t> TransferIndex{-1};
    std::atomic<int32_t> BlocksDone{0};
    std::atomic<int32_t> FileBlocks{0};
    std::atomic<int32_t> FilesDone{0};
    std::atomic<int64_t> BytesDone{0};
    std::atomic<int64_t> TransferTotalBytes{0};
    std::atomic<int64_t> CurrentFileSize{0}; // size of entry TransferIndex
    std::atomic<uint32_t> ProbeAddress{0};   // network byte order
    std::atomic<int32_t> KeepAliveRetries{10};
};

class SerialPort;
class ReceivedFile;

class Engine {
public:
    explicit Engine(EngineEvents& events, LinkConfig config = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    EngineState& state() { return m_state; }
    const EngineState& state() const { return m_state; }

    // --- configuration (front-end thread) ---
    // Destination, overwrite preference, peer address, owner name, devices;
    // used from the next transfer on.
    void setSettings(const EngineSettings& settings);
    EngineSettings settings() const;

    // Makes `type` current: closes the previous type's handles and opens the
    // new ones (listener and broadcast socket, or the serial port). A failure
    // is reported through linkMessage when `reportFailure` is set. Returns
    // true when the link can send (the serial port opened; always for LAN and
    // WAN; never for IRDA). Waits for TransferThread to reach a safe point.
    bool selectCommType(CommType type, bool reportFailure);
    // The once-a-second retry while a serial port cannot be opened; quiet.
    // Returns true when the port is (now) open.
    bool retrySerialPort();
    bool canSend() const { return m_canSend.load(); }
    // Why the serial port last failed to open or was lost, naming the device
    // and the cause; empty while it is open.
    std::string lastLinkError() const;
    // The TCP port actually listened on; 0 when the listener is closed.
    uint16_t listenPort() const { return m_listenPort.load(); }
    uint16_t echoPort() const { return m_echoPort.load(); }

    // --- lifetime ---
    // LinkState Listening, then TransferThread and EchoResponder start.
    void start();
    // AbortFlag, Stopped, wake and join both threads, close the link handles.
    void stop();

    // --- sending (front-end thread) ---
    // Fills the file table and moves to Connecting. Refused (false, with a
    // reason) when the list is empty or over 100 files, an entry cannot be
    // encoded, or the engine is not idle.
    bool beginSend(const std::vector<SendFile>& files, std::string* whyNot = nullptr);
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

    // --- for tests ---
    // Bytes of entry i of TransferTable.
    EntryBytes sendTableEntry(int index) const;

private:
    friend class EngineTestAccess;

    // Runs `task` on TransferThread at its next safe point (or here when the
    // thread is not running) and waits for it.
    void runOnTransferThread(const std::function<void()>& task);
    void runPendingTasks();
    void wake();
    void setAbort();
    // Moves LinkState to `to` unless the engine is stopping: a late store must
    // never undo Stopped.
    void moveLinkState(LinkState to);
    // TransferThread: a peer's transfer to this machine is under way.
    bool receiveActive() const;

    void transferThreadMain();
    void echoResponderMain(int socket);
    void applyCommType(CommType type, bool reportFailure);
    void closeLinkHandles();

    // Socket link (socket_link.cpp).
    bool OpenListener();
    void acceptPending();
    void SocketConnect();
    enum class IoMode { Normal, EvenWhenAborting };
    bool SendAll(const void* data, size_t length, IoMode mode = IoMode::Normal);
    bool RecvAll(void* buffer, size_t length, int silenceLimitMs = 2000,
                 IoMode mode = IoMode::Normal);
    bool SendCommand(uint8_t code, IoMode mode = IoMode::Normal);
    uint8_t ReceiveCommand(int silenceLimitMs = 2000, IoMode mode = IoMode::Normal);
    void dropDataSocket();
    // Up to `max` bytes from the data socket, through a read-ahead buffer so
    // that a block costs one or two system calls: > 0 bytes, 0 when the peer
    // closed, -1 with errno (EAGAIN when nothing is waiting).
    ssize_t receiveSome(uint8_t* out, size_t max);
    uint32_t probeForPeer(); // LAN: network-order address of the first answer, or 0
    // Waits for `events` on `fd` (or just for the time, when fd is -1) or for
    // a wake-up; true only when fd became ready.
    bool waitFor(int fd, short events, int timeoutMs);
    void pause(int ms) { waitFor(-1, 0, ms); }

    // Sending (socket_sender.cpp).
    void SocketSender();
    bool socketTableExchange();
    void socketSendFile(int index);
    bool sendBlocks(int fd, int64_t size);
    void finishSender(bool completed);
    // A refusal in `reply` sets PeerError and AbortFlag; true when it was one.
    bool takeRefusal(uint8_t reply);
    void socketAbortExchange();

    // Receiving (socket_responder.cpp, receiver_files.cpp).
    void SocketResponder();
    bool awaitCommand();
    void serveFileTable(LinkKind link);
    void serveOpenFile(LinkKind link);
    void serveSocketBlock();
    void serveCloseFile(LinkKind link);
    void serveAbort(LinkKind link);
    void serveNameRequest(LinkKind link);
    void serveNameFollows(LinkKind link);
    void endReceive();
    uint8_t checkReceivedTable(LinkKind link); // CMD_OK or a refusal
    void sendReply(LinkKind link, uint8_t code);
    bool sendBytes(LinkKind link, const void* data, size_t length);
    bool receiveBytes(LinkKind link, void* data, size_t length);

    // Serial link (serial_link.cpp, serial_sender.cpp, serial_responder.cpp).
    bool openSerialLink(CommType type, bool reportFailure);
    // False when no port is open; a port whose device went away is closed
    // first (the once-a-second retry reopens it).
    bool serialPortReady();
    size_t serialRead(void* buffer, size_t length);
    bool serialWrite(const void* data, size_t length);
    bool serialCommand(uint8_t code);
    uint8_t serialReceiveCommand();
    void SerialDial();
    void SerialKeepAlive();
    void SerialSender();
    bool serialTableExchange();
    void serialSendFile(int index);
    void serialAbortExchange();
    void SerialResponderStep();
    void serveSerialBlock();
    void serveSerialConnect();
    void stopSerialReceive();
    void checkSerialIdle();

    mutable std::mutex m_linkErrorMutex;
    std::string m_lastLinkError;
    // The local side stopped a serial receive: the sender's next block, open
    // or close is answered CMD_ABORT until a new link or table starts.
    bool m_serialReceiveStopped = false;
    int64_t m_serialLastCommandMs = 0; // steady clock of the last valid command

    EngineEvents& m_events;
    const LinkConfig m_config;
    EngineState m_state;

    mutable std::mutex m_settingsMutex;
    EngineSettings m_settings;

    std::atomic<bool> m_canSend{false};
    std::atomic<uint32_t> m_probeNonce{0}; // numbers this engine's LAN probes
    std::atomic<uint32_t> m_ownProbe{0};   // the last one sent, as it reads on the wire
    std::atomic<uint16_t> m_listenPort{0};
    std::atomic<uint16_t> m_echoPort{0};

    // Owned by TransferThread (or the front end before start / after stop).
    UniqueFd m_listenSocket;
    UniqueFd m_broadcastSocket;
    UniqueFd m_dataSocket;
    std::vector<uint8_t> m_readAhead = std::vector<uint8_t>(256 * 1024);
    size_t m_readAheadStart = 0;
    size_t m_readAheadEnd = 0;
    std::unique_ptr<SerialPort> m_serialPort;
    std::unique_ptr<ReceivedFile> m_currentFile;
    UniqueFd m_destDirFd;                     // DestDir of the accepted table
    bool m_tableAccepted = false;             // a table was accepted on this link
    bool m_receiveAnnounced = false;          // incomingTransfer was sent for it
    EngineSettings m_transferSettings;        // settings taken when a table arrives
    std::vector<std::string> m_receivedNames; // safe name of each table entry
    std::vector<std::string> m_namesWritten;  // names this receive has created
    std::array<uint8_t, 65536> m_receiveTable{};
    std::array<uint8_t, 65536 + kBlockHeaderSize> m_ioBuffer{};
    std::array<char, kNameBlockSize> m_peerName{};

    // Written by the front end while the thread is idle, read by the sender
    // after LinkState became Sending.
    std::array<uint8_t, 65536> m_sendTable{};
    std::vector<SendFile> m_sendFiles;
    std::vector<bool> m_sentFiles; // TransferThread, during a send

    // Thread plumbing.
    UniqueFd m_wakeFd; // eventfd: wakes TransferThread's waits; drained by it
    UniqueFd m_stopFd; // eventfd: signalled once at stop, never drained
    std::thread m_transferThread;
    std::thread m_echoThread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_taskMutex;
    std::condition_variable m_taskDone;
    std::vector<std::function<void()>> m_tasks;
    uint64_t m_tasksQueued = 0;
    uint64_t m_tasksRun = 0;
    std::atomic<bool> m_tasksPending{false};
    std::atomic<bool> m_inTransfer{false};   // sender or socket service loop running
    std::atomic<bool> m_senderActive{false}; // from startSending to the sender's end

    std::mutex m_outcomeMutex;
    std::condition_variable m_outcomeChanged;
    SendOutcome m_lastSend;
    bool m_lastSendFresh = false; // m_lastSend is of the send not yet finished
    ReceiveOutcome m_lastReceive;
};

} // namespace zapfer
