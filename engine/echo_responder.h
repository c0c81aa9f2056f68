#pragma once

// EchoResponder: answers the 4-byte UDP probes with which a LAN sender looks
// for a peer, while a LAN or WAN type is selected and no send is connecting.

#include "engine_core.h"
#include "unique_fd.h"

#include <thread>

namespace zapfer {

class EchoResponder {
public:
    explicit EchoResponder(EngineCore& core);

    // Binds the echo port (its number goes to the link status) and starts
    // answering. A port already taken leaves this machine able to send and
    // receive, only not to be found.
    void start();
    void stop();

private:
    void main(int socket);

    EngineCore& m_core;
    UniqueFd m_stopFd; // eventfd: signalled once at stop, never drained
    std::thread m_thread;
};

} // namespace zapfer
