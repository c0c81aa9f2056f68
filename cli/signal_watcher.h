#pragma once

// Turns SIGINT, SIGTERM and SIGHUP into an Interrupted event. Construct it before any
// other thread starts: the signals are blocked in the constructing thread and
// so in every thread started after it (the engine's included), and one thread
// of ours takes them with sigwait. A signal is then handled as an ordinary
// event, never inside an async handler.

#include "event_queue.h"

#include <thread>

namespace zapfer::cli {

class SignalWatcher {
public:
    explicit SignalWatcher(EventQueue& queue);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    std::thread m_thread;
};

} // namespace zapfer::cli
