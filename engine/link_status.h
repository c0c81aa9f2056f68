#pragma once

// What the front end may ask about the link at any time, written by the
// engine's threads.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace zapfer {

class LinkStatus {
public:
    std::atomic<bool> canSend{false};
    std::atomic<uint16_t> listenPort{0};
    std::atomic<uint16_t> echoPort{0};

    std::string lastError() const {
        std::lock_guard lock(m_mutex);
        return m_lastError;
    }
    void setLastError(std::string text) {
        std::lock_guard lock(m_mutex);
        m_lastError = std::move(text);
    }
    std::string peerName() const {
        std::lock_guard lock(m_mutex);
        return m_peerName;
    }
    void setPeerName(std::string name) {
        std::lock_guard lock(m_mutex);
        m_peerName = std::move(name);
    }

private:
    mutable std::mutex m_mutex;
    std::string m_lastError;
    std::string m_peerName;
};

} // namespace zapfer
