#pragma once

// The values the engine's threads share, and what a send is made of and
// ends with.

#include "comm_type.h"
#include "transfer.h"
#include "transfer_counters.h"

#include <atomic>
#include <cstdint>
#include <string>
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

// Why a send stopped on this side, for the front ends to word.
enum class SendFailure : int32_t {
    None = 0,
    // The address reached this program's own listener: the send would wait
    // for itself for ever.
    OwnAddress = 1,
    // A serial block went unacknowledged through every retry: the line or the
    // peer's idea of the next block is broken beyond repair.
    BlockNotAcknowledged = 2,
    // A paired send: the peer refused a connection to its paired port.
    PairedNotAccepted = 3,
    // A paired send: the TLS handshake failed, the peer's code differs.
    PairingMismatch = 4,
    // A paired send: the peer did not answer at all.
    PairedNoAnswer = 5,
};

struct SendFile {
    std::string path; // absolute local path
    int64_t size = 0;
};

struct SendOutcome {
    TransferId id = kNoTransfer;
    int32_t peerError = 0; // PeerRefusal
    SendFailure failure = SendFailure::None;
    bool aborted = false;       // AbortFlag was set when the send ended
    int32_t transferIndex = -1; // entry in progress when stopped; -1: table never accepted
    int32_t filesDone = 0;
    int32_t fileCount = 0;
    std::vector<bool> sent; // per entry: the file went through whole
    std::vector<FileOutcome> files;
    // The peer the connection reached (host order): on a LAN send, whoever
    // answered the broadcast. 0 on a serial link, or when none was reached.
    uint32_t peerAddress = 0;
};

// The fields shared between the threads, under their usual names.
struct EngineState : TransferCounters {
    std::atomic<::zapfer::LinkState> LinkState{::zapfer::LinkState::Stopped};
    std::atomic<int32_t> ReceiveEnabled{1};
    std::atomic<int32_t> AbortFlag{0};
    std::atomic<int32_t> PeerError{0};
    std::atomic<::zapfer::SendFailure> SendFailure{::zapfer::SendFailure::None};
    std::atomic<::zapfer::CommType> CommType{::zapfer::CommType::Lan};
    std::atomic<int32_t> BlockSize{32768};
    std::atomic<int32_t> KeepAliveRetries{10};
};

} // namespace zapfer
