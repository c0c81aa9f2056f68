#include "record_helper.h"

#include <system_error>

namespace zapfer {

bool RecordHelper::worthwhile() {
    static const bool more = std::thread::hardware_concurrency() > 1;
    return more;
}

RecordHelper::~RecordHelper() {
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_posted.notify_one();
    m_thread.join();
}

void RecordHelper::run(size_t count, void* context, Call call) {
    bool shared = worthwhile();
    if (shared && !m_thread.joinable()) {
        try {
            m_thread = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            shared = false; // no thread to be had: this one does it all
        }
    }
    if (!shared) {
        for (size_t i = 0; i < count; ++i)
            call(context, i, false);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_context = context;
        m_call = call;
        m_count = count;
        m_next.store(0, std::memory_order_relaxed);
        ++m_job;
        m_open = true;
    }
    m_posted.notify_one();
    work(count, context, call, false);
    // Every record is taken; the helper may still be busy with its last.
    std::unique_lock lock(m_mutex);
    m_open = false;
    m_left.wait(lock, [this] { return !m_inside; });
}

size_t RecordHelper::work(size_t count, void* context, Call call, bool onHelper) {
    size_t done = 0;
    for (size_t i = m_next.fetch_add(1, std::memory_order_relaxed); i < count;
         i = m_next.fetch_add(1, std::memory_order_relaxed), ++done)
        call(context, i, onHelper);
    return done;
}

void RecordHelper::serve() {
    uint64_t served = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_posted.wait(lock, [&] { return m_stop || (m_open && m_job != served); });
        if (m_stop)
            return;
        served = m_job;
        m_inside = true;
        const Call call = m_call;
        void* const context = m_context;
        const size_t count = m_count;
        lock.unlock();
        const size_t done = work(count, context, call, true);
        lock.lock();
        m_inside = false;
        m_helped.fetch_add(done, std::memory_order_relaxed);
        m_left.notify_one();
    }
}

} // namespace zapfer
