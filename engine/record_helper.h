#pragma once

// A second thread for one paired link's records. The records of a batch
// are sealed or opened by the caller and by this thread at once: each record
// has its own sequence number, so they do not depend on each other. They are
// handed out one at a time, so that a helper slow to wake (the other core is
// busy) costs the caller nothing but the wake-up: the caller does the rest
// itself. On a machine with one core no thread is started.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zapfer {

class RecordHelper {
public:
    RecordHelper() = default;
    ~RecordHelper();
    RecordHelper(const RecordHelper&) = delete;
    RecordHelper& operator=(const RecordHelper&) = delete;

    // Whether this machine has a second core for it.
    static bool worthwhile();
    // Runs job(i, onHelper) for every i < count, on both threads (onHelper
    // tells which), and returns once all are done. The job throws nothing.
    template <typename Job> void share(size_t count, Job& job) {
        run(count, &job, [](void* context, size_t i, bool onHelper) {
            (*static_cast<Job*>(context))(i, onHelper);
        });
    }
    // Records handed to the helper thread so far, for tests.
    uint64_t helped() const { return m_helped.load(std::memory_order_relaxed); }

private:
    using Call = void (*)(void*, size_t, bool);
    void run(size_t count, void* context, Call call);
    // Does the job's records not taken yet; the count done.
    size_t work(size_t count, void* context, Call call, bool onHelper);
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::condition_variable m_left;
    void* m_context = nullptr;
    Call m_call = nullptr;
    size_t m_count = 0;
    uint64_t m_job = 0;  // the number of the job posted last
    bool m_open = false; // the job may still be joined
    bool m_inside = false;
    bool m_stop = false;
    std::atomic<size_t> m_next{0};
    std::atomic<uint64_t> m_helped{0};
    // Started at the first batch, so that a link that never moves much
    // never has one.
    std::thread m_thread;
};

} // namespace zapfer
