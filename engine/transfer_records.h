#pragma once

// The send the front end has prepared, and how the last send and receive
// ended, handed between the front end and TransferThread.

#include "engine_state.h"
#include "protocol.h"
#include "session_observer.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace zapfer {

// Written by the front end while the thread is idle, read by the sender
// after LinkState became Sending.
struct PendingSend {
    std::vector<uint8_t> table; // the entries, 256 bytes each
    std::vector<SendFile> files;
};

struct Outcomes {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> senderActive{false}; // from startSending to the sender's end
    SendOutcome lastSend;
    bool lastSendFresh = false; // lastSend is of the send not yet finished
    ReceiveOutcome lastReceive;
};

} // namespace zapfer
