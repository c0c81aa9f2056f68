#pragma once

// The receiving side of the protocol as a state machine: it is fed the bytes
// that arrive from the peer, which its MessageParser cuts into messages, serves
// every complete message (file table, open, block, close, abort, the link
// set-up and the name exchange) and writes its replies to a sink. It owns the
// accepted table and the file being received.
// It has no socket, thread or clock of its own: the driver passes the time in
// and calls tick() when deadline() has come, so that a message left half-sent
// is given up as the link's read time-outs would.

#include "incoming_file.h"
#include "incoming_table.h"
#include "link.h"
#include "message_parser.h"
#include "message_responder.h"
#include "receive_context.h"
#include "reply_sink.h"
#include "session_observer.h"
#include "transfer_counters.h"

#include <cstdint>
#include <span>

namespace zapfer {

class ReceiveSession {
public:
    ReceiveSession(const LinkTraits& traits, TransferCounters& counters, SessionObserver& observer,
                   ReplySink& sink);
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
    int64_t lastTableMs() const { return m_context.lastTableMs; }
    // nowMs of the last step of the transfer itself: a table accepted, a file
    // opened or closed, a block not stored before. Pings and repeats are not
    // progress.
    int64_t lastProgressMs() const { return m_context.lastProgressMs; }

    bool tableAccepted() const { return m_table.accepted(); }
    bool fileOpen() const { return m_file.isOpen(); }
    // The peer said CMD_ABORT: it needs no abort of ours.
    bool peerAborted() const { return m_responder.peerAborted(); }
    // A stream message stalled past its time: the connection must end (the
    // observer was told to abort); nothing more is read from it.
    bool linkEnded() const { return m_responder.linkEnded(); }
    // A peer that files are not taken from sent a table: it was refused, and
    // the connection is to be closed without a further word.
    bool peerRefused() const { return m_table.peerRefused(); }

    // Ends the receive under way: a partial file is deleted, the folder
    // synced, the outcome reported. `aborted`: it did not end by itself.
    void end(bool aborted) { m_responder.end(aborted); }
    // The local side stopped a serial receive: the sender's next open, block
    // or close is answered CMD_ABORT until a new link or table starts.
    void stopByUser() { m_responder.stopByUser(); }

private:
    ReceiveContext m_context;
    // The table before the file: a file not yet committed is removed, by its
    // folder, before the folder is closed.
    IncomingTable m_table;
    IncomingFile m_file;
    MessageResponder m_responder;
    MessageParser m_parser;
};

} // namespace zapfer
