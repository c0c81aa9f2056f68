#include "engine_harness.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

TEST(SocketTransfer, FilesOfBoundarySizesArriveIdentical) {
    TempDir source, dest;
    std::vector<fs::path> files;
    std::vector<std::vector<uint8_t>> contents;
    const size_t sizes[] = {0, 1, 32767, 32768, 32769, 1 << 20};
    for (size_t i = 0; i < std::size(sizes); ++i) {
        contents.push_back(randomBytes(sizes[i], uint32_t(i + 1)));
        files.push_back(source / ("file" + std::to_string(i) + ".bin"));
        writeFile(files.back(), contents.back());
    }
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    const SendOutcome outcome = sender.send(files);
    EXPECT_EQ(outcome.peerError, 0);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, int(files.size()));
    ASSERT_TRUE(responder.events.waitUntil([&] { return responder.events.statusClosed > 0; }));
    const ReceiveOutcome received = responder.engine.finishReceive();
    EXPECT_EQ(received.filesDone, int(files.size()));
    EXPECT_FALSE(received.aborted);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(readFile(dest / files[i].filename().string()), contents[i]) << files[i];
    EXPECT_EQ(listNames(dest.path()).size(), files.size()) << "no temporary file left";
    EXPECT_EQ(responder.engine.state().LinkState, LinkState::Listening);
    EXPECT_EQ(responder.engine.state().ReceiveEnabled, 1);
    EXPECT_EQ(sender.engine.state().LinkState, LinkState::Listening);
}
