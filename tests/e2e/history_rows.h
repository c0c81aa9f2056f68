#pragma once

// Reading what zapfer-cli processes recorded, each in its own data home.

#include "history_store.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace zapfer::testing {

namespace history = zapfer::history;

// The command prefix giving a process `dataHome` as its XDG_DATA_HOME.
inline std::vector<std::string> withData(const std::string& dataHome) {
    return {"env", "XDG_DATA_HOME=" + dataHome};
}

inline std::string historyPath(const std::string& dataHome) {
    return dataHome + "/Quorvel/Zapfer/history.sqlite";
}

inline uint32_t zlibCrc(const std::string& bytes) {
    return uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

struct Recorded {
    history::StoredTransfer transfer;
    std::vector<history::FileRecord> files;
};

// Newest first.
inline std::vector<Recorded> readHistory(const std::string& dataHome) {
    std::vector<Recorded> all;
    auto store = history::HistoryStore::open(historyPath(dataHome));
    EXPECT_TRUE(store.ok()) << store.error().text;
    if (!store)
        return all;
    auto transfers = store.value().recentTransfers(-1);
    EXPECT_TRUE(transfers.ok());
    if (!transfers)
        return all;
    for (const auto& t : transfers.value()) {
        auto files = store.value().filesOf(t.id);
        EXPECT_TRUE(files.ok());
        all.push_back({t, files ? files.value() : std::vector<history::FileRecord>{}});
    }
    return all;
}

} // namespace zapfer::testing
