#include "signal_watcher.h"

#include <pthread.h>
#include <signal.h>

namespace zapfer::cli {
namespace {
// Sent to our own watcher thread only, to end it.
constexpr int kStopSignal = SIGUSR1;

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Closing the terminal: stop as cleanly as for SIGTERM, never leaving a
    // partial file behind.
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kStopSignal);
    return set;
}
} // namespace

SignalWatcher::SignalWatcher(EventQueue& queue) {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_thread = std::thread([&queue] {
        const sigset_t watched = watchedSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&watched, &signal) != 0 || signal == kStopSignal)
                return;
            queue.post({CliEvent::Kind::Interrupted, {}});
        }
    });
}

SignalWatcher::~SignalWatcher() {
    pthread_kill(m_thread.native_handle(), kStopSignal);
    m_thread.join();
}

} // namespace zapfer::cli
