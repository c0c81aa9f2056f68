#pragma once

// What the history keeps of a send or a receive, made from the engine's
// outcome and what the front end knows about the link and the peer.

#include "comm_type.h"
#include "engine_events.h"
#include "engine_state.h"
#include "history_records.h"
#include "receive_session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zapfer::recording {

struct TransferContext {
    std::string link;           // linkNameOf() of the type used
    std::string peer;           // IPv4 address, or the serial device
    std::string peerName;       // empty when unknown
    std::int64_t startedMs = 0; // UTC, milliseconds since the epoch
    std::int64_t endedMs = 0;
};

struct RecordedTransfer {
    history::TransferRecord transfer;
    std::vector<history::FileRecord> files;
};

// "lan", "wan", "usb", "com1", "com2", "rawir", "irda": stable, as stored.
std::string linkNameOf(CommType type);
// An address as "a.b.c.d" from host byte order; empty for 0 (none).
std::string addressText(uint32_t address);
// Now, in the history's unit.
std::int64_t nowMs();

// `listed`: the files the send was begun with, recorded as not reached when
// the send stopped before its sender ran (the link never came up).
RecordedTransfer recordOf(const SendOutcome& outcome, const TransferContext& context,
                          const std::vector<SendFile>& listed = {});
RecordedTransfer recordOf(const ReceiveOutcome& outcome, const TransferContext& context);
// A table this machine refused: a received transfer, refused with the code
// its sender heard, each file refused.
RecordedTransfer recordOf(const RefusedReceive& refusal, const TransferContext& context);

} // namespace zapfer::recording
