#pragma once

// A file being received into the destination folder. Data goes into a file
// with no name (or, where the file system cannot make one, a hidden temporary
// file next to its final name); only a file whose every block was stored is
// synced and linked or renamed onto its final name. Anything else is removed,
// leaving an older file of the same name untouched.
//
// The commit goes by the descriptor that was written, never by a name that
// someone else could have swapped meanwhile: an unnamed file is linked in from
// its descriptor, and a temporary name is renamed only while it is still the
// file written.

#include "destination_folder.h"
#include "received_file_parts.h"
#include "unique_fd.h"

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zapfer {

class ReceivedFile {
    struct Key {
        explicit Key() = default;
    };

public:
    // Creates the temporary file in the folder `dirFd` for `name` (a name
    // already checked safe) of `size` bytes split in `blocks` blocks.
    // Returns null on failure, with errno-style text in `reason`.
    static std::unique_ptr<ReceivedFile> create(int dirFd, const std::string& name, int64_t size,
                                                int32_t blocks, std::string* reason = nullptr);
    // The same with a named temporary file, as on a file system that has no
    // unnamed ones.
    static std::unique_ptr<ReceivedFile> createNamed(int dirFd, const std::string& name,
                                                     int64_t size, int32_t blocks,
                                                     std::string* reason = nullptr);
    ReceivedFile(Key, int dirFd, std::string name, std::string tempName, UniqueFd fd, int64_t size,
                 int32_t blocks);
    ~ReceivedFile(); // removes the temporary file unless it was committed

    ReceivedFile(const ReceivedFile&) = delete;
    ReceivedFile& operator=(const ReceivedFile&) = delete;

    // Stores block k at `offset`, reserving space a bounded amount ahead of
    // the data; false on a write error or a full disk.
    bool storeBlock(int32_t k, int64_t offset, const uint8_t* data, size_t length);
    // Stores the consecutive blocks `first`, `first` + 1, ... held in
    // `blocks`, the first at `offset`, with as few writes as the system
    // allows, reserving space as storeBlock does. Returns how many of them,
    // from the first, were stored whole: fewer than all when the disk failed,
    // and the block after those is the one that failed.
    size_t storeRun(int32_t first, int64_t offset, std::span<const iovec> blocks);
    bool complete() const { return m_blocks.complete(); }
    size_t blocksStored() const { return m_blocks.count(); }
    const std::string& name() const { return m_name; }
    // The temporary name; empty while the file has none.
    const std::string& tempName() const { return m_tempName; }

    // Syncs and links or renames onto the final name. With `replace` false an
    // existing file of that name is never replaced. False when not complete,
    // when the temporary name no longer holds the file written, or when the
    // link or rename failed; the temporary file is then removed.
    bool commit(bool replace);
    // Syncs and stores the file under its name or, where that is taken, the
    // first free numbered name beside it ("name (2).ext"). Never replaces:
    // a name taken meanwhile, by another entry or another program, moves on
    // to the next number. name() is then the name stored under. False as
    // for commit, or when every number up to kMaxKeptCopy is taken.
    bool commitKeepingBoth();
    // Removes the temporary file.
    void discard();

private:
    // Syncs and, for a named temporary file, checks it is still ours;
    // discards the file and returns false otherwise.
    bool readyToCommit();
    // Puts the file under `name` without replacing; errno set on failure.
    bool placeWithoutReplacing(const std::string& name);

    int m_dirFd;
    std::string m_name;
    std::string m_tempName;
    UniqueFd m_fd;
    SpaceReservation m_space;
    StoredBlocks m_blocks;
    bool m_done = false;
};

} // namespace zapfer
