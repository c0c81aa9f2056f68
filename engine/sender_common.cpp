#include "sender_common.h"

#include "engine_state.h"
#include "protocol.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

UniqueFd openForSending(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return UniqueFd();
    return fd;
}

bool readAt(int fd, uint8_t* buffer, size_t length, int64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, buffer + done, length - done, offset + int64_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

int32_t refusalOf(uint8_t reply) {
    switch (reply) {
    case CMD_NO_SPACE:
        return PeerNoSpace;
    case CMD_NAME_CONFLICT:
        return PeerNameConflict;
    case CMD_CANNOT_CREATE:
        return PeerCannotCreate;
    default:
        return PeerNoError;
    }
}

} // namespace zapfer
