#pragma once

// Sockets of the tests' own on 127.0.0.1: a listener that takes connections
// and never answers unless the test does, a UDP socket to probe from.

#include "unique_fd.h"

#include <netinet/in.h>

#include <cstdint>

namespace zapfer::test {

// 127.0.0.1:`port`, `port` in host order.
sockaddr_in loopbackAddress(uint16_t port);

struct LoopbackSocket {
    UniqueFd fd;       // empty when the socket could not be made, bound or listened on
    uint16_t port = 0; // the port it was bound to
};

// A socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound to 127.0.0.1:`port`,
// an ephemeral port for 0; a stream socket listens with room for `backlog`.
LoopbackSocket bindLoopback(int type, uint16_t port = 0, int backlog = 4);

} // namespace zapfer::test
