#pragma once

// The sending side over any link: the file table, then per file an open, its
// blocks and a close, and the abort exchange when the send stops early. Only
// the block pump differs with the link: pipelined go-back-N on a stream, paced
// stop-and-wait on a serial line.

#include "engine_state.h"
#include "link.h"
#include "waker.h"
#include "whole_file_crc.h"

#include <atomic>
#include <span>
#include <vector>

namespace zapfer {

class EngineEvents;

class Sender {
public:
    Sender(TransferId id, Link& link, EngineState& state, EngineEvents& events, Waker& waker,
           const std::atomic<bool>& stopping);

    // Sends `files`, whose table entries are `table`. Returns how it went;
    // the caller announces the end.
    SendOutcome run(const std::vector<SendFile>& files, std::span<const uint8_t> table);

private:
    bool tableExchange(std::span<const uint8_t> table);
    void sendFile(int index, const SendFile& file);
    // An unreadable file `index` must still be opened and closed on the peer.
    bool announceUnreadable(int index) const;
    bool openOnPeer(int index);
    void closeOnPeer(int index, bool sent);
    void abortExchange();
    // Writes a message: at once on a stream, piece by piece on a serial line.
    bool sendMessage(std::span<const uint8_t> bytes, std::initializer_list<size_t> pieces);
    // A refusal in `reply` sets PeerError and AbortFlag; true when it was one.
    bool takeRefusal(uint8_t reply);
    bool aborted() const { return m_state.AbortFlag != 0; }

    TransferId m_id;
    Link& m_link;
    EngineState& m_state;
    EngineEvents& m_events;
    Waker& m_waker;
    const std::atomic<bool>& m_stopping;
    const LinkTraits& m_traits;
    std::vector<bool> m_sent;
    std::vector<FileOutcome> m_files;
    std::vector<uint8_t> m_buffer;
};

// Every block of the open file `fd` of `size` bytes, until all are
// acknowledged (true) or the send stops (false). Each block read goes into
// `fileCrc` by its index.
bool pumpPipelined(Link& link, EngineState& state, Waker& waker, int fd, int64_t size,
                   std::vector<uint8_t>& buffer, WholeFileCrc& fileCrc);
bool pumpPaced(Link& link, EngineState& state, Waker& waker, int fd, int64_t size,
               std::vector<uint8_t>& buffer, WholeFileCrc& fileCrc);

} // namespace zapfer
