// A received file is committed by the descriptor it was written through:
// whatever another process puts in place of its temporary name meanwhile
// never reaches the final name.

#include "engine_harness.h"
#include "protocol.h"
#include "received_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <limits>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {

// Runs `script` in a shell of its own, with $1 set to `path`.
int runOtherProcess(const std::string& script, const fs::path& path) {
    const std::string command = "sh -c '" + script + "' sh '" + path.string() + "'";
    return std::system(command.c_str());
}

std::unique_ptr<ReceivedFile> written(const Folder& folder, const std::string& name, bool named,
                                      const std::vector<uint8_t>& data) {
    auto file = named ? ReceivedFile::createNamed(folder.fd.get(), name, int64_t(data.size()), 1)
                      : ReceivedFile::create(folder.fd.get(), name, int64_t(data.size()), 1);
    if (file) {
        EXPECT_TRUE(file->storeBlock(0, 0, data.data(), data.size()));
    }
    return file;
}

const std::vector<uint8_t> kData = {'r', 'e', 'a', 'l'};
const std::vector<uint8_t> kTheirs = {'t', 'h', 'e', 'i', 'r', 's'};

} // namespace

TEST(ReceivedFile, AnUnnamedFileShowsNoNameUntilItIsCommitted) {
    Folder folder;
    writeFile(folder / "old.txt", {'o', 'l', 'd'});
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replacing" : "a new name");
        const std::string name = replace ? "old.txt" : "new.txt";
        const std::vector<std::string> before = listNames(folder.root.path());
        auto file = written(folder, name, false, kData);
        ASSERT_TRUE(file);
        if (!file->tempName().empty())
            GTEST_SKIP() << "this file system makes no unnamed files";
        EXPECT_EQ(listNames(folder.root.path()), before);
        EXPECT_TRUE(file->commit(replace));
        EXPECT_EQ(readFile(folder / name), kData);
    }
    EXPECT_EQ(listNames(folder.root.path()), (std::vector<std::string>{"new.txt", "old.txt"}));
    // Without replacing, an existing name stays as it is and the file is dropped.
    auto again = written(folder, "new.txt", false, kTheirs);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->commit(false));
    EXPECT_EQ(readFile(folder / "new.txt"), kData);
    EXPECT_EQ(listNames(folder.root.path()), (std::vector<std::string>{"new.txt", "old.txt"}));
}

TEST(ReceivedFile, ATemporaryNameSwappedByAnotherProcessIsNeverCommitted) {
    Folder folder;
    writeFile(folder / "outside.txt", {'o', 'u', 't'});
    const std::vector<std::pair<std::string, std::string>> swaps = {
        {"their own file", "mv -f \"$1\" \"$1.moved\" && printf theirs > \"$1\""},
        {"a link to another file", "mv -f \"$1\" \"$1.moved\" && ln -s ../outside.txt \"$1\""},
    };
    for (const bool replace : {false, true}) {
        for (const auto& [what, script] : swaps) {
            SCOPED_TRACE(what + (replace ? ", replacing" : ""));
            auto file = written(folder, "final.txt", true, kData);
            ASSERT_TRUE(file);
            ASSERT_FALSE(file->tempName().empty());
            const fs::path temp = folder / file->tempName();
            ASSERT_EQ(runOtherProcess(script, temp), 0);
            EXPECT_FALSE(file->commit(replace));
            EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "final.txt")));
            // What the other process put there is not ours to remove.
            EXPECT_TRUE(fs::exists(fs::symlink_status(temp)));
            fs::remove(temp);
            fs::remove(temp.string() + ".moved");
        }
    }
    EXPECT_EQ(readFile(folder / "outside.txt"), (std::vector<uint8_t>{'o', 'u', 't'}));
    EXPECT_EQ(listNames(folder.root.path()), std::vector<std::string>{"outside.txt"});
}

TEST(ReceivedFile, ANamedTemporaryLeftAloneIsCommittedAndIncompleteOnesRemoved) {
    Folder folder;
    auto file = written(folder, "done.txt", true, kData);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->commit(false));
    EXPECT_EQ(readFile(folder / "done.txt"), kData);
    for (const bool named : {false, true}) {
        auto partial = named ? ReceivedFile::createNamed(folder.fd.get(), "part.txt", 70000, 3)
                             : ReceivedFile::create(folder.fd.get(), "part.txt", 70000, 3);
        ASSERT_TRUE(partial);
        ASSERT_TRUE(partial->storeBlock(0, 0, kData.data(), kData.size()));
        EXPECT_FALSE(partial->commit(true));
    }
    EXPECT_EQ(listNames(folder.root.path()), std::vector<std::string>{"done.txt"});
}

// A peer may announce the largest file and send little of it, in any order:
// the book kept follows the blocks stored.
TEST(ReceivedFile, TheLargestAnnouncedFileCountsOnlyTheBlocksStored) {
    StoredBlocks stored(std::numeric_limits<int32_t>::max());
    EXPECT_EQ(stored.total(), size_t(std::numeric_limits<int32_t>::max()));
    stored.mark(7);
    stored.mark(7);
    stored.mark(0);
    EXPECT_EQ(stored.count(), 2u);
    EXPECT_FALSE(stored.complete());

    StoredBlocks three(3);
    for (const size_t k : {2, 0, 2}) {
        three.mark(k);
        EXPECT_FALSE(three.complete());
    }
    three.mark(1);
    EXPECT_TRUE(three.complete());
    EXPECT_EQ(three.count(), 3u);
    EXPECT_TRUE(StoredBlocks(0).complete());
    EXPECT_EQ(StoredBlocks(-5).total(), 0u);

    // A file of the largest size in blocks of 64 bytes, a few stored far
    // apart: it is not complete, so it is never committed.
    Folder folder;
    const int32_t blocks = FileBlocks(Dialect::Stream, kMaxFileSize, 64);
    auto file = ReceivedFile::create(folder.fd.get(), "huge.bin", kMaxFileSize, blocks);
    ASSERT_TRUE(file);
    const std::vector<uint8_t> block(64, 0x5a);
    EXPECT_TRUE(file->storeBlock(1000, 1000 * 64, block.data(), block.size()));
    EXPECT_TRUE(file->storeBlock(0, 0, block.data(), block.size()));
    EXPECT_FALSE(file->storeBlock(blocks, int64_t(blocks) * 64, block.data(), block.size()));
    EXPECT_EQ(file->blocksStored(), 2u);
    EXPECT_FALSE(file->complete());
    EXPECT_FALSE(file->commit(false));
    EXPECT_FALSE(fs::exists(folder / "huge.bin"));
}
