#pragma once

// What the history keeps of a transfer and of each of its files. Plain data:
// the front ends fill these from the engine's outcomes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zapfer::history {

enum class Direction { Sent, Received };

enum class TransferOutcome { Completed, Refused, Aborted, Failed };

enum class FileResult { Stored, Sent, Refused, Failed, SkippedUnreadable, Aborted };

struct TransferRecord {
    std::int64_t startedMs = 0; // UTC, milliseconds since the epoch
    std::int64_t endedMs = 0;
    Direction direction = Direction::Sent;
    std::string link;     // "lan", "usb", "com1", "com2", "rawir", ...
    std::string peer;     // address or serial device
    std::string peerName; // empty when unknown
    TransferOutcome outcome = TransferOutcome::Completed;
    std::optional<int> refusalCode; // the peer's code when it refused
    std::string detail;             // why it failed, for the user; may be empty
    std::uint64_t bytes = 0;        // file bytes moved
    std::int64_t durationMs = 0;
};

struct FileRecord {
    std::string nameSent;
    std::string nameStored; // empty when nothing was stored
    std::uint64_t size = 0;
    std::uint64_t bytesDone = 0;
    FileResult result = FileResult::Failed;
    std::optional<std::uint32_t> crc32; // of the whole file, when it was all read or stored
};

// A transfer as read back, with the id its files are asked by.
struct StoredTransfer {
    std::int64_t id = 0;
    TransferRecord record;
    int fileCount = 0;
    int failedFileCount = 0; // files neither sent nor stored
};

// True for the files "send again" takes back: those that did not reach the peer.
bool isFailedResult(FileResult result);

// Stable names, as stored in the database and shown by zapfer-cli.
std::string_view toText(Direction direction);
std::string_view toText(TransferOutcome outcome);
std::string_view toText(FileResult result);
std::optional<Direction> directionFromText(std::string_view text);
std::optional<TransferOutcome> outcomeFromText(std::string_view text);
std::optional<FileResult> fileResultFromText(std::string_view text);

} // namespace zapfer::history
