#include "received_file.h"

#include "conflict_names.h"
#include "destination_folder.h"
#include "rename_no_replace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

namespace {
std::string randomSuffix() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

// Gives the file behind `fd`, which has no name, the name `name` in the
// folder `dirFd`; false (errno set) when that name exists or the link fails.
bool linkAs(int fd, int dirFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT)
        return false;
    // No /proc: the descriptor itself, where this process may link by it.
    return ::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0;
}

// True while `name` in `dirFd` is the very file behind `fd`.
bool namesFile(int dirFd, const std::string& name, int fd) {
    struct stat written;
    struct stat named;
    return ::fstat(fd, &written) == 0 &&
           ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(named.st_mode) && sameFile(written, named);
}
} // namespace

std::unique_ptr<ReceivedFile> ReceivedFile::create(int dirFd, const std::string& name, int64_t size,
                                                   int32_t blocks, std::string* reason) {
    UniqueFd fd(::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644));
    if (!fd) // a file system without unnamed files
        return createNamed(dirFd, name, size, blocks, reason);
    // Locked only once it is to be given a temporary name (see commit): a
    // file with no name is no leftover to any sweep.
    return std::make_unique<ReceivedFile>(Key{}, dirFd, name, std::string(), std::move(fd), size,
                                          blocks);
}

std::unique_ptr<ReceivedFile> ReceivedFile::createNamed(int dirFd, const std::string& name,
                                                        int64_t size, int32_t blocks,
                                                        std::string* reason) {
    UniqueFd fd;
    std::string tempName;
    for (int attempt = 0; attempt < 8 && !fd; ++attempt) {
        tempName = kTempPrefix + randomSuffix();
        fd.reset(::openat(dirFd, tempName.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd) {
        if (reason)
            *reason = std::strerror(errno);
        return nullptr;
    }
    // The lock tells a receiver starting in this folder that the file is
    // live: only files whose lock nobody holds are leftovers.
    ::flock(fd.get(), LOCK_EX);
    return std::make_unique<ReceivedFile>(Key{}, dirFd, name, std::move(tempName), std::move(fd),
                                          size, blocks);
}

ReceivedFile::ReceivedFile(Key, int dirFd, std::string name, std::string tempName, UniqueFd fd,
                           int64_t size, int32_t blocks)
    : m_dirFd(dirFd), m_name(std::move(name)), m_tempName(std::move(tempName)), m_fd(std::move(fd)),
      m_space(size), m_blocks(blocks) {}

ReceivedFile::~ReceivedFile() {
    discard();
}

bool ReceivedFile::storeBlock(int32_t k, int64_t offset, const uint8_t* data, size_t length) {
    const iovec block{const_cast<uint8_t*>(data), length}; // only written from
    return storeRun(k, offset, std::span<const iovec>(&block, 1)) == 1;
}

size_t ReceivedFile::storeRun(int32_t first, int64_t offset, std::span<const iovec> blocks) {
    if (m_done || first < 0 || size_t(first) >= m_blocks.total() ||
        blocks.size() > m_blocks.total() - size_t(first))
        return 0;
    // Reserved block by block, as the blocks would be one at a time: on a
    // disk that fills up part-way, the blocks before the full one are kept.
    size_t reserved = 0;
    int64_t end = offset;
    while (reserved < blocks.size() &&
           m_space.reserveFor(m_fd.get(), end, blocks[reserved].iov_len))
        end += int64_t(blocks[reserved++].iov_len);
    const size_t stored = writeAllAt(m_fd.get(), blocks.first(reserved), offset);
    for (size_t i = 0; i < stored; ++i)
        m_blocks.mark(size_t(first) + i);
    return stored;
}

bool ReceivedFile::commit(bool replace) {
    if (m_done)
        return false;
    if (!complete() || ::fdatasync(m_fd.get()) != 0) {
        discard();
        return false;
    }
    if (m_tempName.empty()) {
        // A link never replaces an existing name: that is the no-replace case.
        if (!replace) {
            const bool linked = linkAs(m_fd.get(), m_dirFd, m_name);
            m_fd.reset();
            m_done = true;
            return linked;
        }
        // Replacing takes a rename, and a rename takes a name. The lock
        // tells a receiver sweeping this folder meanwhile that the file is
        // live: it is taken before the file has a name to be found by.
        ::flock(m_fd.get(), LOCK_EX);
        for (int attempt = 0; attempt < 8 && m_tempName.empty(); ++attempt) {
            const std::string candidate = kTempPrefix + randomSuffix();
            if (linkAs(m_fd.get(), m_dirFd, candidate))
                m_tempName = candidate;
            else if (errno != EEXIST)
                break;
        }
        if (m_tempName.empty()) {
            discard();
            return false;
        }
    }
    // Someone who can write to the folder may have put another file, or a
    // link, in the temporary name's place: only our own file goes further.
    if (!namesFile(m_dirFd, m_tempName, m_fd.get())) {
        m_tempName.clear(); // not ours to remove
        discard();
        return false;
    }
    int result;
    if (replace) {
        result = ::renameat(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str());
    } else {
        result =
            ::renameat2(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // A file system without RENAME_NOREPLACE: a hard link fails on an
            // existing name just the same.
            result = ::linkat(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str(), 0);
            if (result == 0)
                ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
        }
    }
    if (result != 0) {
        discard();
        return false;
    }
    m_fd.reset();
    m_done = true;
    return true; // the folder itself is synced once, at the end of the transfer
}

bool ReceivedFile::readyToCommit() {
    if (m_done)
        return false;
    if (!complete() || ::fdatasync(m_fd.get()) != 0) {
        discard();
        return false;
    }
    if (!m_tempName.empty() && !namesFile(m_dirFd, m_tempName, m_fd.get())) {
        m_tempName.clear(); // not ours to remove
        discard();
        return false;
    }
    return true;
}

bool ReceivedFile::placeWithoutReplacing(const std::string& name) {
    if (m_tempName.empty())
        return linkAs(m_fd.get(), m_dirFd, name); // a link never replaces an existing name
    // Checked again for every number: the temporary name could have been
    // swapped since the last attempt.
    if (!namesFile(m_dirFd, m_tempName, m_fd.get())) {
        errno = ESTALE;
        return false;
    }
    return renameNoReplace(m_dirFd, m_tempName.c_str(), m_dirFd, name.c_str(), false);
}

bool ReceivedFile::commitKeepingBoth() {
    if (!readyToCommit())
        return false;
    // The existence of a name is never tested first: only the placing itself
    // is atomic, so a name created by anyone a moment earlier is skipped.
    for (uint32_t number = 1; number <= kMaxKeptCopy; ++number) {
        const std::string candidate = number == 1 ? m_name : numberedName(m_name, number);
        if (placeWithoutReplacing(candidate)) {
            m_name = candidate;
            m_fd.reset();
            m_done = true;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    discard();
    return false;
}

void ReceivedFile::discard() {
    if (m_done)
        return;
    // A temporary name is removed only while it still names our file.
    if (!m_tempName.empty() && m_fd && namesFile(m_dirFd, m_tempName, m_fd.get()))
        ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
    m_fd.reset(); // an unnamed file goes with its last descriptor
    m_done = true;
}

} // namespace zapfer
