#pragma once

// What the front end may ask about the link at any time, written by the
// engine's threads.

#include "link_error.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace zapfer {

class LinkStatus {
public:
    std::atomic<bool> canSend{false};
    std::atomic<uint16_t> listenPort{0};
    std::atomic<uint16_t> pairedPort{0}; // the paired link's; 0 when not listened on
    std::atomic<uint16_t> echoPort{0};

    // Why the serial port last failed to open or was lost; no fault while
    // it is open.
    LinkError error() const {
        std::lock_guard lock(m_mutex);
        return m_error;
    }
    void setError(LinkError error) {
        std::lock_guard lock(m_mutex);
        m_error = std::move(error);
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
    LinkError m_error;
    std::string m_peerName;
};

} // namespace zapfer
