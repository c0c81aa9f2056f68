#pragma once

// The progress of the transfer under way, written by TransferThread (the
// sender or the receive session) and read by the front end for its dialog.

#include <atomic>
#include <cstdint>

namespace zapfer {

struct TransferCounters {
    std::atomic<int32_t> TransferFileCount{0};
    std::atomic<int32_t> TransferIndex{-1};
    std::atomic<int32_t> BlocksDone{0};
    std::atomic<int32_t> FileBlocks{0};
    std::atomic<int32_t> FilesDone{0};
    std::atomic<int64_t> BytesDone{0};
    std::atomic<int64_t> TransferTotalBytes{0};
    std::atomic<int64_t> CurrentFileSize{0}; // size of entry TransferIndex

    // A new transfer of `files` entries and `totalBytes` starts.
    void restart(int32_t files, int64_t totalBytes) {
        TransferFileCount = files;
        TransferTotalBytes = totalBytes;
        TransferIndex = -1;
        BlocksDone = 0;
        FileBlocks = 0;
        FilesDone = 0;
        BytesDone = 0;
    }
};

} // namespace zapfer
