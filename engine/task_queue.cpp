#include "task_queue.h"

#include <chrono>

namespace zapfer {

void TaskQueue::run(const std::function<void()>& task) {
    std::unique_lock lock(m_mutex);
    if (!m_attached || std::this_thread::get_id() == m_thread) {
        lock.unlock();
        task();
        return;
    }
    const uint64_t ticket = ++m_queued;
    m_tasks.push_back(task);
    m_pending = true;
    m_waker.wake();
    // TransferThread reaches a safe point within one exchange; the bound only
    // guards against a thread that is gone.
    m_done.wait_for(lock, std::chrono::seconds(30), [&] { return m_run >= ticket || !m_attached; });
}

void TaskQueue::runPending() {
    if (!m_pending)
        return;
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(m_mutex);
        tasks.swap(m_tasks);
        m_pending = false;
    }
    for (const auto& task : tasks)
        task();
    {
        std::lock_guard lock(m_mutex);
        m_run += tasks.size();
    }
    m_done.notify_all();
}

void TaskQueue::attach(std::thread::id thread) {
    std::lock_guard lock(m_mutex);
    m_attached = true;
    m_thread = thread;
}

void TaskQueue::detach() {
    {
        std::lock_guard lock(m_mutex);
        m_attached = false;
    }
    m_done.notify_all();
}

bool TaskQueue::attached() const {
    std::lock_guard lock(m_mutex);
    return m_attached;
}

} // namespace zapfer
