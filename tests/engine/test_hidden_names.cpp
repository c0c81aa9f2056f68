// A peer never gets a hidden file (a shell profile, say) into the destination:
// leading dots of a received name become "_", and everything that names the
// file, from the conflict check to the reported name, uses the stored name,
// on either link.

#include "serial_harness.h"

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
class HiddenNamesOnLink : public ::testing::TestWithParam<WireLink> {};

// A peer ready to offer a table: a new connection, or the line set up.
WirePeer connect(LinkResponder& responder) {
    WirePeer peer = responder.peer();
    if (responder.link() == WireLink::Serial)
        peer.dial("Caller");
    return peer;
}

// Sends `data` as the one file of a table naming `wireName`; the table reply.
uint8_t offerFile(WirePeer& peer, const std::string& wireName, const std::vector<uint8_t>& data) {
    peer.sendTable({{wireName, int32_t(data.size())}});
    return peer.readCommand();
}

void sendOpenedFile(WirePeer& peer, WireLink link, const std::vector<uint8_t>& data) {
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), link == WireLink::Socket ? CMD_ACCEPTED : CMD_OK);
    peer.sendBlock(0, data);
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    if (link == WireLink::Socket) {
        ASSERT_EQ(peer.read(4).size(), 4u); // the block's index
    }
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

// The receive dialog has ended and the responder listens again.
bool receiveEnded(LinkResponder& responder) {
    return responder.events().waitUntil([&] {
        return responder.events().statusClosed > 0 &&
               responder.engine().state().LinkState == LinkState::Listening;
    });
}
} // namespace

TEST_P(HiddenNamesOnLink, ADotFileIsStoredVisibleAndReportedAsStored) {
    TempDir dest;
    LinkResponder responder(GetParam(), dest.path());
    const std::vector<uint8_t> data = {'e', 'c', 'h', 'o', ' ', 'p', 'w', 'n', 'e', 'd', '\n'};
    WirePeer peer = connect(responder);
    ASSERT_EQ(offerFile(peer, "C:\\Users\\bob\\.bash_profile", data), CMD_OK);
    sendOpenedFile(peer, GetParam(), data);
    ASSERT_TRUE(receiveEnded(responder));
    responder.engine().finishReceive();

    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    EXPECT_FALSE(fs::exists(dest / ".bash_profile"));
    EXPECT_EQ(readFile(dest / "_bash_profile"), data);
    std::lock_guard lock(responder.events().mutex);
    EXPECT_EQ(responder.events().files, std::vector<std::string>{"_bash_profile"});
}

TEST_P(HiddenNamesOnLink, TheStoredNameIsWhatConflictsAndWhatIsReplaced) {
    TempDir dest;
    const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
    const std::vector<uint8_t> theirs = {'t', 'h', 'e', 'i', 'r', 's'};
    writeFile(dest / "_bash_profile", mine);
    {
        SCOPED_TRACE("overwrite off: the existing _bash_profile refuses the table");
        LinkResponder responder(GetParam(), dest.path());
        WirePeer peer = connect(responder);
        EXPECT_EQ(offerFile(peer, ".bash_profile", theirs), CMD_NAME_CONFLICT);
        if (GetParam() == WireLink::Serial) {
            EXPECT_TRUE(peer.abortUntilAcknowledged()); // the sender's end of a refusal
        }
        peer.close();
        ASSERT_TRUE(responder.events().waitUntil(
            [&] { return responder.engine().state().LinkState == LinkState::Listening; }));
        EXPECT_EQ(readFile(dest / "_bash_profile"), mine);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    }
    {
        SCOPED_TRACE("overwrite on: _bash_profile is replaced, no hidden file appears");
        LinkResponder responder(GetParam(), dest.path(), /*overwrite=*/true);
        WirePeer peer = connect(responder);
        ASSERT_EQ(offerFile(peer, ".bash_profile", theirs), CMD_OK);
        sendOpenedFile(peer, GetParam(), theirs);
        ASSERT_TRUE(receiveEnded(responder));
        responder.engine().finishReceive();
        EXPECT_EQ(readFile(dest / "_bash_profile"), theirs);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"_bash_profile"});
    }
}

INSTANTIATE_TEST_SUITE_P(Links, HiddenNamesOnLink,
                         ::testing::Values(WireLink::Socket, WireLink::Serial), wireLinkName);
