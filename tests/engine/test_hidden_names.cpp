// A peer never gets a hidden file (a shell profile, say) into the destination:
// leading dots of a received name become "_", and everything that names the
// file, from the conflict check to the reported name, uses the stored name.

#include "engine_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

TEST(HiddenNames, LeadingDotsBecomeUnderscores) {
    EXPECT_EQ(storedReceivedName(".bash_profile"), "_bash_profile");
    EXPECT_EQ(storedReceivedName("..x"), "__x");
    EXPECT_EQ(storedReceivedName("...config.d"), "___config.d");
    EXPECT_EQ(storedReceivedName("..."), "___");
    EXPECT_EQ(storedReceivedName("report.txt"), "report.txt");
    EXPECT_EQ(storedReceivedName("a.b."), "a.b.") << "only the leading dots";
    EXPECT_EQ(storedReceivedName("_already"), "_already");
}

namespace {
// Sends `data` as the one file of a table naming `wireName`; the table reply.
uint8_t offerFile(WirePeer& peer, const std::string& wireName, const std::vector<uint8_t>& data) {
    peer.sendTable({{wireName, int32_t(data.size())}});
    return peer.readCommand();
}

void sendOpenedFile(WirePeer& peer, const std::vector<uint8_t>& data) {
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, data);
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    ASSERT_EQ(peer.read(4).size(), 4u);
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

bool backToListening(Responder& responder) {
    return responder.events.waitUntil(
        [&] { return responder.engine.state().LinkState == LinkState::Listening; });
}
} // namespace

TEST(HiddenNames, ADotFileIsStoredVisibleAndReportedAsStored) {
    TempDir dest;
    Responder responder(dest.path());
    const std::vector<uint8_t> data = {'e', 'c', 'h', 'o', ' ', 'p', 'w', 'n', 'e', 'd', '\n'};
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    ASSERT_EQ(offerFile(peer, "C:\\Users\\bob\\.bash_profile", data), CMD_OK);
    sendOpenedFile(peer, data);
    ASSERT_TRUE(backToListening(responder));
    responder.engine.finishReceive();

    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    EXPECT_FALSE(fs::exists(dest / ".bash_profile"));
    EXPECT_EQ(readFile(dest / "_bash_profile"), data);
    std::lock_guard lock(responder.events.mutex);
    EXPECT_EQ(responder.events.files, std::vector<std::string>{"_bash_profile"});
}

TEST(HiddenNames, TheStoredNameIsWhatConflictsAndWhatIsReplaced) {
    TempDir dest;
    const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
    const std::vector<uint8_t> theirs = {'t', 'h', 'e', 'i', 'r', 's'};
    writeFile(dest / "_bash_profile", mine);
    {
        SCOPED_TRACE("overwrite off: the existing _bash_profile refuses the table");
        Responder responder(dest.path());
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        EXPECT_EQ(offerFile(peer, ".bash_profile", theirs), CMD_NAME_CONFLICT);
        peer.close();
        ASSERT_TRUE(backToListening(responder));
        EXPECT_EQ(readFile(dest / "_bash_profile"), mine);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    }
    {
        SCOPED_TRACE("overwrite on: _bash_profile is replaced, no hidden file appears");
        Responder responder(dest.path(), /*overwrite=*/true);
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        ASSERT_EQ(offerFile(peer, ".bash_profile", theirs), CMD_OK);
        sendOpenedFile(peer, theirs);
        ASSERT_TRUE(backToListening(responder));
        responder.engine.finishReceive();
        EXPECT_EQ(readFile(dest / "_bash_profile"), theirs);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    }
}
