#pragma once

// A real history database for the window's tests, written through the store
// as the front ends write it.

#include "history_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::test {

inline history::FileRecord fileRecord(const std::string& nameSent, history::FileResult result,
                                      std::uint64_t size,
                                      std::optional<std::uint32_t> crc = std::nullopt,
                                      const std::string& nameStored = {}) {
    history::FileRecord file;
    file.nameSent = nameSent;
    file.nameStored = nameStored;
    file.size = size;
    file.bytesDone = history::isFailedResult(result) ? size / 2 : size;
    file.result = result;
    file.crc32 = crc;
    return file;
}

inline history::TransferRecord transferRecord(history::Direction direction,
                                              history::TransferOutcome outcome,
                                              std::int64_t startedMs,
                                              const std::string& peer = "192.168.1.20",
                                              const std::string& peerName = {}) {
    history::TransferRecord t;
    t.startedMs = startedMs;
    t.endedMs = startedMs + 2500;
    t.direction = direction;
    t.link = "lan";
    t.peer = peer;
    t.peerName = peerName;
    t.outcome = outcome;
    t.bytes = 123456;
    t.durationMs = 2500;
    return t;
}

// Records one transfer into the database at `path`; its id, -1 on failure.
inline std::int64_t recordInto(const std::string& path, const history::TransferRecord& transfer,
                               const std::vector<history::FileRecord>& files) {
    auto store = history::HistoryStore::open(path);
    EXPECT_TRUE(store.ok()) << (store.ok() ? std::string() : store.error().text);
    if (!store.ok())
        return -1;
    auto id = store.value().recordTransfer(transfer, files);
    EXPECT_TRUE(id.ok()) << (id.ok() ? std::string() : id.error().text);
    return id.ok() ? id.value() : -1;
}

} // namespace zapfer::test
