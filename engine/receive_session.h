#pragma once

// The receiving side of the protocol as a state machine: it is fed the bytes
// that arrive from the peer, which its MessageParser cuts into messages, serves
// every complete message (file table, open, block, close, abort, the link
// set-up and the name exchange) and writes its replies to a sink. It owns the
// accepted table and the file being received.
// It has no socket, thread or clock of its own: the driver passes the time in
// and calls tick() when deadline() has come, so that a message left half-sent
// is given up as the link's read time-outs would.

#include "block_run.h"
#include "conflict_names.h"
#include "engine_events.h"
#include "link.h"
#include "message_parser.h"
#include "receive_ledger.h"
#include "received_file.h"
#include "reply_sink.h"
#include "transfer.h"
#include "transfer_counters.h"
#include "unique_fd.h"
#include "whole_file_crc.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zapfer {

// What the session takes from the settings when a table arrives.
struct ReceivePolicy {
    std::string destDir;
    NameConflict nameConflict = NameConflict::Refuse;
    std::string ownerName = "No Name";
    // Whether files are taken from the peer of this link at all (the accept
    // list). A table from a peer refused here is answered CMD_CANNOT_CREATE,
    // before anything touches the destination, and the link is dropped.
    bool peerAccepted = true;
};

// A table the session refused: because of who sent it, or because the
// destination cannot take it.
struct RefusedTable {
    int32_t fileCount = 0;
    int64_t totalBytes = 0;
    int32_t refusal = 0;          // PeerRefusal, the code the sender hears
    bool peerNotAccepted = false; // refused for who sent it
    // Its entries as far as they were read, each Refused: a name that made
    // the table unsafe is the last.
    std::vector<FileOutcome> files;
};

// How a receive ended, with each file of its table.
struct ReceiveOutcome {
    TransferId id = kNoTransfer;
    bool aborted = false;
    int32_t filesDone = 0;
    int32_t fileCount = 0;
    std::vector<FileOutcome> files;
    uint32_t peerAddress = 0; // host order; 0 on a serial link
};

// What the session tells the engine.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual ReceivePolicy policy() = 0;
    // A table arrived that the user should see (the receive dialog opens).
    virtual void incoming() = 0;
    virtual void fileStarted(const std::string& storedName) = 0;
    // The file under way was closed: kept whole or dropped.
    virtual void fileEnded(const FileOutcome& file) { (void)file; }
    virtual void closeStatus() = 0;
    virtual void sound(Sound sound) = 0;
    // The transfer must stop: the peer aborted, or a file could not be
    // created or written.
    virtual void abortTransfer() = 0;
    // The last file of the table was closed.
    virtual void transferComplete() = 0;
    // A serial initiator asks for a new link.
    virtual void linkRequested() = 0;
    // The receive ended (complete, aborted or cut): the outcome.
    virtual void receiveEnded(const ReceiveOutcome& outcome) = 0;
    // The peer sent its name block.
    virtual void peerNamed(const std::string& name) { (void)name; }
    // A table was refused (a peer that files are not taken from, a name
    // conflict, no space, a name that cannot be created): nothing was
    // written, and the table is no part of the receive.
    virtual void tableRefused(const RefusedTable& table) { (void)table; }
};

class ReceiveSession : private MessageHandler {
public:
    ReceiveSession(const LinkTraits& traits, TransferCounters& counters, SessionObserver& observer,
                   ReplySink& sink);
    ~ReceiveSession() override;
    ReceiveSession(const ReceiveSession&) = delete;
    ReceiveSession& operator=(const ReceiveSession&) = delete;

    // Bytes from the peer, arrived at `nowMs`.
    void feed(std::span<const uint8_t> bytes, int64_t nowMs);
    // Time has passed with no bytes: a message incomplete past its limit is
    // given up.
    void tick(int64_t nowMs);
    // Where the message under way stands: its deadlines, the last command.
    const MessageParser& parser() const { return m_parser; }
    // nowMs of the last file table.
    int64_t lastTableMs() const { return m_lastTableMs; }
    // nowMs of the last step of the transfer itself: a table accepted, a file
    // opened or closed, a block not stored before. Pings and repeats are not
    // progress.
    int64_t lastProgressMs() const { return m_lastProgressMs; }

    bool tableAccepted() const { return m_tableAccepted; }
    bool fileOpen() const { return m_file != nullptr; }
    bool announced() const { return m_announced; }
    // The peer said CMD_ABORT: it needs no abort of ours.
    bool peerAborted() const { return m_peerAborted; }
    // A stream message stalled past its time: the connection must end (the
    // observer was told to abort); nothing more is read from it.
    bool linkEnded() const { return m_linkEnded; }
    // A peer that files are not taken from sent a table: it was refused, and
    // the connection is to be closed without a further word.
    bool peerRefused() const { return m_peerRefused; }

    // Ends the receive under way: a partial file is deleted, the folder
    // synced, the outcome reported. `aborted`: it did not end by itself.
    void end(bool aborted);
    // The local side stopped a serial receive: the sender's next open, block
    // or close is answered CMD_ABORT until a new link or table starts.
    void stopByUser();

private:
    // The messages, as the parser hands them over.
    bool reading() const override { return !m_linkEnded && !m_peerRefused; }
    void command(uint8_t code) override;
    void table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) override;
    void open(uint8_t index) override;
    std::optional<size_t> blockHeader(int32_t index, uint32_t crc) override;
    void blockData(std::span<const uint8_t> data, bool arrived) override;
    void name(std::string name) override;
    void unfinished(Unfinished message) override;
    void inputServed() override { storeRun(); }

    // Writes the blocks gathered from this read, then acknowledges those
    // stored; a block the disk failed ends the transfer.
    void storeRun();
    void blockStored(int32_t k, uint32_t crc, size_t length, bool newlyStored);
    void storeFailed();

    // Serving (receive_serving.cpp).
    uint8_t checkTable(std::span<const uint8_t> entries);
    void refuseTable(uint8_t answer);
    void serveClose();
    void serveAbort();
    void serveConnect();
    void sendCode(uint8_t code);
    void sendNameBlock();

    LinkTraits m_traits;
    TransferCounters& m_counters;
    SessionObserver& m_observer;
    ReplySink& m_sink;
    MessageParser m_parser;

    int64_t m_nowMs = 0; // of the bytes being served
    int64_t m_lastTableMs = 0;
    int64_t m_lastProgressMs = 0;
    bool m_linkEnded = false;
    bool m_peerRefused = false;
    struct AwaitedBlock {
        int32_t index = 0;
        uint32_t crc = 0;
        bool expected = false; // its data is stored, not just read
    } m_block;

    // The receive.
    ReceivePolicy m_policy;
    ReceiveLedger m_ledger;
    UniqueFd m_destDir;
    std::unique_ptr<ReceivedFile> m_file;
    // On a stream: good blocks of the file under way, not yet written.
    BlockRun m_run;
    // On a stream: the disk failed the file under way; nothing more of it is
    // stored or acknowledged.
    bool m_diskFailed = false;
    WholeFileCrc m_fileCrc;  // of the blocks m_file has stored
    int64_t m_fileBytes = 0; // stored of the file under way
    bool m_tableAccepted = false;
    bool m_announced = false;
    bool m_peerAborted = false;
    bool m_stopped = false; // stopByUser, until a new link or table
};

} // namespace zapfer
