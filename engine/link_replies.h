#pragma once

// Where the receive session's replies go: the link that is up, at once or,
// while one read of a stream is served, held and then sent together.

#include "link.h"
#include "reply_sink.h"
#include "waker.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zapfer {

class LinkReplies : public ReplySink {
public:
    // `link` is the holder of the link that is up (or of none): replies go
    // to whatever it holds when they leave.
    LinkReplies(const std::unique_ptr<Link>& link, Waker& waker) : m_link(link), m_waker(waker) {}
    LinkReplies(const LinkReplies&) = delete;
    LinkReplies& operator=(const LinkReplies&) = delete;

    // The replies made from now on are held and then leave together in one
    // write: the same bytes in the same order, without a system call per
    // block.
    void hold() { m_holding = true; }
    void sendHeld();
    // Forgets the replies held, as the link they were for is gone.
    void clear();

    void reply(std::span<const uint8_t> bytes) override;
    void discardInput() override;
    void pace(int ms) override;

private:
    const std::unique_ptr<Link>& m_link;
    Waker& m_waker;
    bool m_holding = false;
    std::vector<uint8_t> m_held;
};

} // namespace zapfer
