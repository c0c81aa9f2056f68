// A file of the send list that cannot be read when its turn comes (gone, a
// FIFO or a folder put in its place) leaves nothing on the peer, whatever its
// size and wherever it stands in the list; the files around it arrive.

#include "engine_harness.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {

struct Scene {
    Scene() : responder((fs::create_directory(root / "dest"), root / "dest")) {}

    // A readable file of the list.
    SendFile readable(const std::string& name, const std::vector<uint8_t>& content) {
        writeFile(root / name, content);
        return {(root / name).string(), int64_t(content.size())};
    }
    // Entries that the list holds with `size` but that cannot be read: the
    // file deleted, a FIFO, a folder.
    std::vector<SendFile> unreadable(const std::string& prefix, int64_t size) {
        const fs::path fifo = root / (prefix + "-fifo");
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        fs::create_directory(root / (prefix + "-folder"));
        return {{(root / (prefix + "-gone")).string(), size},
                {fifo.string(), size},
                {(root / (prefix + "-folder")).string(), size}};
    }
    SendOutcome send(const std::vector<SendFile>& files) {
        Sender sender(responder.engine.listenPort());
        const SendOutcome outcome = runSend(sender.handshake, sender.events, files);
        EXPECT_TRUE(responder.events.waitUntil(
            [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
        responder.engine.finishReceive();
        return outcome;
    }

    TempDir root;
    Responder responder;
};

std::vector<FileResult> resultsOf(const SendOutcome& outcome) {
    std::vector<FileResult> results;
    for (const FileOutcome& file : outcome.files)
        results.push_back(file.result);
    return results;
}

constexpr auto kSent = FileResult::Sent;
constexpr auto kSkipped = FileResult::SkippedUnreadable;

} // namespace

TEST(UnreadableFiles, EmptyOrNotTheyLeaveNothingOnThePeerAndTheOthersArrive) {
    Scene scene;
    std::vector<SendFile> files{scene.readable("first.txt", {'1'})};
    for (const SendFile& file : scene.unreadable("empty", 0))
        files.push_back(file);
    for (const SendFile& file : scene.unreadable("sized", 10))
        files.push_back(file);
    files.push_back(scene.readable("last.txt", {'2', '2'}));

    const SendOutcome outcome = scene.send(files);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.fileCount, 8);
    EXPECT_EQ(resultsOf(outcome), (std::vector<FileResult>{kSent, kSkipped, kSkipped, kSkipped,
                                                           kSkipped, kSkipped, kSkipped, kSent}));
    EXPECT_EQ(listNames(scene.root / "dest"), (std::vector<std::string>{"first.txt", "last.txt"}));
    EXPECT_EQ(readFile(scene.root / "dest" / "last.txt"), (std::vector<uint8_t>{'2', '2'}));
}

TEST(UnreadableFiles, AnUnreadableEmptyLastFileLeavesNothingAndTheReceiverIsFreeAgain) {
    Scene scene;
    for (const SendFile& last : scene.unreadable("last", 0)) {
        SCOPED_TRACE(last.path);
        const std::string name = fs::path(last.path).filename().string();
        const SendOutcome outcome = scene.send({scene.readable("before-" + name, {'b'}), last});
        EXPECT_EQ(outcome.filesDone, 1);
        EXPECT_FALSE(outcome.aborted);
        EXPECT_EQ(resultsOf(outcome), (std::vector<FileResult>{kSent, kSkipped}));
    }
    {
        SCOPED_TRACE("the only file of the list");
        const SendOutcome outcome = scene.send({{(scene.root / "alone").string(), 0}});
        EXPECT_EQ(outcome.filesDone, 0);
        EXPECT_EQ(resultsOf(outcome), std::vector<FileResult>{kSkipped});
    }
    EXPECT_EQ(
        listNames(scene.root / "dest"),
        (std::vector<std::string>{"before-last-fifo", "before-last-folder", "before-last-gone"}));
    // The receiver still takes a proper empty file.
    const SendOutcome outcome = scene.send({scene.readable("empty.txt", {})});
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_TRUE(fs::is_regular_file(scene.root / "dest" / "empty.txt"));
    EXPECT_EQ(fs::file_size(scene.root / "dest" / "empty.txt"), 0u);
}
