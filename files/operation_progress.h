#pragma once

#include <QString>

#include <atomic>
#include <cstdint>

namespace zapfer {

// How a file operation reports its work and learns of a cancel. The
// operation calls it from the thread it runs on.
class OperationProgress {
public:
    virtual ~OperationProgress() = default;
    virtual bool cancelled() const = 0;
    // Units are the operation's own (items for a deletion, bytes and items
    // for a move or copy).
    virtual void addTotal(int64_t units) = 0;
    virtual void addDone(int64_t units) = 0;
};

// The progress of an operation on a worker thread, read and cancelled by
// the GUI thread. Every member is safe to call from either thread.
class SharedProgress final : public OperationProgress {
public:
    void cancel() noexcept { m_cancelled.store(true); }
    bool cancelled() const noexcept override { return m_cancelled.load(); }
    void addTotal(int64_t units) noexcept override { m_total.fetch_add(units); }
    void addDone(int64_t units) noexcept override { m_done.fetch_add(units); }
    int64_t total() const noexcept { return m_total.load(); }
    int64_t done() const noexcept { return m_done.load(); }

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<int64_t> m_total{0};
    std::atomic<int64_t> m_done{0};
};

// The outcome of one command on a selection of items.
struct OperationResult {
    int requested = 0;      // items selected
    int succeeded = 0;      // items fully done
    int failed = 0;         // items tried that failed (left in place, or partly deleted)
    bool cancelled = false; // the rest were left untouched after a cancel

    // Whether the command's single failure message is due.
    bool anyFailed() const { return failed > 0; }
};

// A message box's text and caption, taken from the string table.
struct UserMessage {
    QString text;
    QString caption;
};

} // namespace zapfer
