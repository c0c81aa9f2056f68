#include "link_replies.h"

namespace zapfer {

void LinkReplies::reply(std::span<const uint8_t> bytes) {
    if (m_holding) {
        m_held.insert(m_held.end(), bytes.begin(), bytes.end());
        return;
    }
    if (m_link)
        m_link->sendAll(bytes, IoMode::EvenWhenAborting);
}

void LinkReplies::sendHeld() {
    m_holding = false;
    if (m_link && !m_held.empty())
        m_link->sendAll(m_held, IoMode::EvenWhenAborting);
    m_held.clear();
}

void LinkReplies::clear() {
    m_held.clear();
    m_holding = false;
}

void LinkReplies::discardInput() {
    // Replies already made answer what came before the purge: they still go.
    if (m_holding && m_link && !m_held.empty()) {
        m_link->sendAll(m_held, IoMode::EvenWhenAborting);
        m_held.clear();
    }
    if (m_link)
        m_link->drainInput();
}

void LinkReplies::pace(int ms) {
    m_waker.pause(ms);
}

} // namespace zapfer
