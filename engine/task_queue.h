#pragma once

// Requests of the front end that must run on TransferThread, at a point where
// no read or write of the link is in flight (closing or reopening a link,
// finishing a transfer). The caller waits until its task has run.

#include "waker.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zapfer {

class TaskQueue {
public:
    explicit TaskQueue(Waker& waker) : m_waker(waker) {}

    // Any thread: runs `task` on TransferThread at its next safe point (at
    // once when the thread is not running or is the caller) and waits for it.
    void run(const std::function<void()>& task);
    // TransferThread: runs whatever is queued.
    void runPending();
    bool pending() const { return m_pending; }

    // The thread that runs tasks from now on / no longer runs them.
    void attach(std::thread::id thread);
    void detach();
    bool attached() const;

private:
    Waker& m_waker;
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::vector<std::function<void()>> m_tasks;
    uint64_t m_queued = 0;
    uint64_t m_run = 0;
    std::atomic<bool> m_pending{false};
    bool m_attached = false;
    std::thread::id m_thread;
};

} // namespace zapfer
