#include "received_file_parts.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>

namespace zapfer {

namespace {
constexpr int64_t kReserveAhead = int64_t(64) << 20;
} // namespace

bool SpaceReservation::reserveFor(int fd, int64_t offset, size_t length) {
    const int64_t end = offset + int64_t(length);
    // Only data that follows on from the reserved part moves the reservation:
    // a block far ahead of it reserves nothing beyond its own bytes.
    if (end <= m_reservedTo || offset > m_reservedTo)
        return true;
    const int64_t ahead = std::max(end, std::min(m_size, end + kReserveAhead));
    int err = ::posix_fallocate(fd, m_reservedTo, ahead - m_reservedTo);
    if (err == ENOSPC && ahead > end) // no room ahead: at least this block's bytes
        err = ::posix_fallocate(fd, m_reservedTo, end - m_reservedTo);
    if (err == ENOSPC || err == EFBIG)
        return false;
    // Other errors: a file system that cannot reserve; the writes will tell.
    m_reservedTo = err == 0 ? ahead : end;
    return true;
}

size_t writeAllAt(int fd, std::span<const iovec> pieces, int64_t offset) {
    // Written from the caller's pieces; a short write, which leaves a piece
    // cut part-way, moves on through a copy in which that piece is cut down
    // to what is left of it.
    std::vector<iovec> left;
    std::span<const iovec> view = pieces;
    size_t done = 0; // pieces written whole
    for (;;) {
        while (done < view.size() && view[done].iov_len == 0)
            ++done;
        if (done == view.size())
            return done;
        const int count = int(std::min<size_t>(view.size() - done, IOV_MAX));
        const ssize_t n = ::pwritev(fd, view.data() + done, count, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done; // the piece under way failed, whatever part of it was written
        offset += n;
        auto rest = size_t(n);
        while (done < view.size() && rest >= view[done].iov_len)
            rest -= view[done++].iov_len;
        if (rest > 0) {
            if (left.empty()) {
                left.assign(view.begin(), view.end());
                view = left;
            }
            left[done].iov_base = static_cast<uint8_t*>(left[done].iov_base) + rest;
            left[done].iov_len -= rest;
        }
    }
}

} // namespace zapfer
