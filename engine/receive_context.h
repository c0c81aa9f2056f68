#pragma once

// What every part of a receive session works with: the link's traits, the
// counters the front end reads, the engine's observer, the sink the replies
// go to, and the session's times. The session has no clock of its own: the
// time of the bytes being served is the one its driver passed in.

#include "link.h"
#include "protocol.h"
#include "reply_sink.h"
#include "session_observer.h"
#include "transfer_counters.h"

#include <cstdint>

namespace zapfer {

struct ReceiveContext {
    LinkTraits traits;
    TransferCounters& counters;
    SessionObserver& observer;
    ReplySink& sink;

    int64_t nowMs = 0; // of the bytes being served
    int64_t lastTableMs = 0;
    // The last step of the transfer itself: a table accepted, a file opened
    // or closed, a block not stored before. Pings and repeats are not
    // progress.
    int64_t lastProgressMs = 0;

    bool stream() const { return traits.dialect == Dialect::Stream; }
    void progressed() { lastProgressMs = nowMs; }
    void sendCode(uint8_t code) const {
        const Frame frame = BuildFrame(code);
        sink.reply(frame);
    }
};

} // namespace zapfer
