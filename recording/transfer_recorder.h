#pragma once

// Writes each transfer into the history for a front end, and tells it of a
// history problem once in the recorder's life (a front end keeps one
// recorder for its whole run). A missing, read-only, locked or damaged
// history never fails a transfer: the write is given up and the transfer
// carries on as if nothing happened.

#include "history_store.h"
#include "outcome_records.h"

#include <cstddef>
#include <optional>
#include <string>

namespace zapfer::recording {

struct HistoryProblem {
    // True when transfers are not being recorded; false for a notice while
    // recording works (a damaged history was moved aside).
    bool failed = true;
    std::string detail; // the store's own words
};

class TransferRecorder {
public:
    // `path` empty: the default history path. ZAPFER_HISTORY=off in the
    // environment turns recording off (benchmarks measure with and without).
    explicit TransferRecorder(std::string path = {}, history::HistoryOptions options = {});

    // Opens the history ahead of the first record(), and parses the write of
    // `expectedFiles` files when that is known (not 0), so that a transfer's
    // end pays only for its own rows: called while the transfer runs. A
    // failure is not told here; record() tries again and tells it.
    void prepare(std::size_t expectedFiles = 0);
    // Records one transfer; the problem to tell the user, the first time
    // there is one, or nothing.
    std::optional<HistoryProblem> record(const RecordedTransfer& transfer);
    bool enabled() const { return m_enabled; }

private:
    std::optional<HistoryProblem> tellOnce(HistoryProblem problem);
    // Opens the store; the failure, if it failed.
    std::optional<HistoryProblem> openStore();

    std::string m_path;
    history::HistoryOptions m_options;
    std::optional<history::HistoryStore> m_store;
    std::optional<HistoryProblem> m_notice; // from the open, told after a write
    bool m_enabled = true;
    bool m_told = false;
};

} // namespace zapfer::recording
