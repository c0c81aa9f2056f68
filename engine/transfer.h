#pragma once

// A transfer as the front ends see it: its id, and how each of its files
// ended. Every event of the engine names the transfer it belongs to, so a
// late event of an earlier transfer is recognised and ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zapfer {

using TransferId = uint64_t; // 0: no transfer
inline constexpr TransferId kNoTransfer = 0;

enum class FileResult {
    NotReached,        // the transfer stopped before this file
    Sent,              // the peer kept it at its close
    Stored,            // received whole and renamed onto its name
    Refused,           // the peer could not create it
    Failed,            // the peer did not answer for it, or could not keep it
    SkippedUnreadable, // it could not be read when its turn came
    Aborted,           // the transfer stopped during this file
};

struct FileOutcome {
    std::string nameAsSent;   // the local path sent, or the name as the peer sent it
    std::string nameAsStored; // received files: the name created in the destination
    int64_t size = 0;
    int64_t bytesDone = 0;
    FileResult result = FileResult::NotReached;
    // The CRC-32 of the whole file, combined from its blocks' CRCs in index
    // order; set when every byte of it was read (sent) or stored (received).
    std::optional<uint32_t> crc32;
};

} // namespace zapfer
