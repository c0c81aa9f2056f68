#include "outcome_records.h"

#include <algorithm>
#include <chrono>

namespace zapfer::recording {
namespace {

using history::FileRecord;
using history::TransferOutcome;
using history::TransferRecord;

// A file the transfer never reached counts as what stopped the transfer:
// the refusal of the whole table, or the abort.
history::FileResult fileResultOf(FileResult result, bool tableRefused) {
    switch (result) {
    case FileResult::Sent:
        return history::FileResult::Sent;
    case FileResult::Stored:
        return history::FileResult::Stored;
    case FileResult::Refused:
        return history::FileResult::Refused;
    case FileResult::Failed:
        return history::FileResult::Failed;
    case FileResult::SkippedUnreadable:
        return history::FileResult::SkippedUnreadable;
    case FileResult::Aborted:
        return history::FileResult::Aborted;
    case FileResult::NotReached:
        return tableRefused ? history::FileResult::Refused : history::FileResult::Aborted;
    }
    return history::FileResult::Failed;
}

std::uint64_t nonNegative(int64_t value) {
    return value > 0 ? std::uint64_t(value) : 0;
}

std::string failureText(SendFailure failure) {
    switch (failure) {
    case SendFailure::None:
        return {};
    case SendFailure::OwnAddress:
        return "the address is this computer";
    case SendFailure::BlockNotAcknowledged:
        return "a block was not acknowledged however often it was sent";
    case SendFailure::PairedNotAccepted:
        return "the peer refused the paired connection";
    case SendFailure::PairingMismatch:
        return "the pairing codes differ";
    case SendFailure::PairedNoAnswer:
        return "the peer did not answer on its paired port";
    }
    return {};
}

void fillCommon(TransferRecord& transfer, const TransferContext& context,
                const std::vector<FileRecord>& files) {
    transfer.startedMs = context.startedMs;
    transfer.endedMs = std::max(context.endedMs, context.startedMs);
    transfer.durationMs = transfer.endedMs - transfer.startedMs;
    transfer.link = context.link;
    transfer.peer = context.peer;
    transfer.peerName = context.peerName;
    transfer.bytes = 0;
    for (const FileRecord& file : files)
        transfer.bytes += file.bytesDone;
}

FileRecord fileRecordOf(const FileOutcome& file, bool tableRefused, bool received) {
    FileRecord record;
    record.nameSent = file.nameAsSent;
    if (received && file.result == FileResult::Stored)
        record.nameStored = file.nameAsStored;
    record.size = nonNegative(file.size);
    record.bytesDone = std::min(nonNegative(file.bytesDone), record.size);
    record.result = fileResultOf(file.result, tableRefused);
    // A checksum belongs to a file that was read or stored whole.
    if (record.result == history::FileResult::Sent || record.result == history::FileResult::Stored)
        record.crc32 = file.crc32;
    return record;
}

} // namespace

std::string linkNameOf(CommType type) {
    switch (type) {
    case CommType::Irda:
        return "irda";
    case CommType::Usb:
        return "usb";
    case CommType::Com1:
        return "com1";
    case CommType::Com2:
        return "com2";
    case CommType::RawIr:
        return "rawir";
    case CommType::Lan:
        return "lan";
    case CommType::Wan:
        return "wan";
    }
    return "unknown";
}

std::string addressText(uint32_t address) {
    if (address == 0)
        return {};
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

RecordedTransfer recordOf(const SendOutcome& outcome, const TransferContext& context,
                          const std::vector<SendFile>& listed) {
    RecordedTransfer recorded;
    const bool refused = outcome.peerError != PeerNoError;
    const bool tableRefused = refused && outcome.transferIndex < 0;
    for (const FileOutcome& file : outcome.files)
        recorded.files.push_back(fileRecordOf(file, tableRefused, false));
    if (outcome.files.empty()) {
        for (const SendFile& file : listed) {
            FileOutcome notReached;
            notReached.nameAsSent = file.path;
            notReached.size = file.size;
            recorded.files.push_back(fileRecordOf(notReached, tableRefused, false));
        }
    }
    TransferRecord& transfer = recorded.transfer;
    transfer.direction = history::Direction::Sent;
    fillCommon(transfer, context, recorded.files);
    if (refused) {
        transfer.outcome = TransferOutcome::Refused;
        transfer.refusalCode = outcome.peerError;
    } else if (outcome.failure != SendFailure::None) {
        transfer.outcome = TransferOutcome::Failed;
        transfer.detail = failureText(outcome.failure);
    } else if (outcome.aborted) {
        transfer.outcome = TransferOutcome::Aborted;
    } else {
        transfer.outcome = TransferOutcome::Completed;
    }
    return recorded;
}

RecordedTransfer recordOf(const ReceiveOutcome& outcome, const TransferContext& context) {
    RecordedTransfer recorded;
    for (const FileOutcome& file : outcome.files)
        recorded.files.push_back(fileRecordOf(file, false, true));
    TransferRecord& transfer = recorded.transfer;
    transfer.direction = history::Direction::Received;
    fillCommon(transfer, context, recorded.files);
    transfer.outcome = outcome.aborted ? TransferOutcome::Aborted : TransferOutcome::Completed;
    return recorded;
}

RecordedTransfer recordOf(const RefusedReceive& refusal, const TransferContext& context) {
    RecordedTransfer recorded;
    for (const FileOutcome& file : refusal.files) {
        FileOutcome refused = file;
        refused.result = FileResult::Refused;
        refused.bytesDone = 0;
        recorded.files.push_back(fileRecordOf(refused, true, true));
    }
    TransferRecord& transfer = recorded.transfer;
    transfer.direction = history::Direction::Received;
    fillCommon(transfer, context, recorded.files);
    transfer.outcome = TransferOutcome::Refused;
    transfer.refusalCode = refusal.refusal;
    if (refusal.peerNotAccepted)
        transfer.detail = "files are not taken from this peer";
    return recorded;
}

} // namespace zapfer::recording
