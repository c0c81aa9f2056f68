#include "loopback_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace zapfer::test {

sockaddr_in loopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

LoopbackSocket bindLoopback(int type, uint16_t port, int backlog) {
    LoopbackSocket bound{UniqueFd(::socket(AF_INET, type | SOCK_CLOEXEC, 0)), 0};
    sockaddr_in address = loopbackAddress(port);
    socklen_t length = sizeof address;
    if (::bind(bound.fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(bound.fd.get(), backlog) != 0) ||
        ::getsockname(bound.fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    bound.port = ntohs(address.sin_port);
    return bound;
}

} // namespace zapfer::test
