// The parts of receiving that the user chooses: the name Keep both gives a
// file whose name exists, the stored choice read back beside the older
// "Preferences" bit, and the accept list as typed, as matched, and as a refused peer meets it.

#include "accept_list.h"
#include "conflict_names.h"
#include "engine_harness.h"
#include "received_file.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <fcntl.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {

const std::vector<uint8_t> kData = {'n', 'e', 'w'};

// A whole file for `name`, kept beside whatever exists; the name it got.
std::string keptBeside(const Folder& folder, const std::string& name, bool named) {
    auto file = named ? ReceivedFile::createNamed(folder.fd.get(), name, 3, 1)
                      : ReceivedFile::create(folder.fd.get(), name, 3, 1);
    if (!file || !file->storeBlock(0, 0, kData.data(), kData.size()) || !file->commitKeepingBoth())
        return {};
    return file->name();
}

} // namespace

TEST(NumberedName, TheNumberGoesBeforeTheExtensionAndALeadingDotStays) {
    EXPECT_EQ(numberedName("report.pdf", 2), "report (2).pdf");
    EXPECT_EQ(numberedName("notes", 3), "notes (3)");
    EXPECT_EQ(numberedName(".profile", 2), ".profile (2)");
    EXPECT_EQ(numberedName(".config.json", 2), ".config (2).json");
    EXPECT_EQ(numberedName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(numberedName("ends.", 2), "ends. (2)");
    EXPECT_EQ(numberedName("x", 1000), "x (1000)");
}

TEST(NumberedName, ALongNameIsShortenedToFitOnACharacterBoundary) {
    // 2-byte characters, so a cut in the middle of one would show.
    std::string stem;
    for (int i = 0; i < 126; ++i)
        stem += "\xC3\xA9"; // é
    const std::string numbered = numberedName(stem + ".txt", 12345);
    EXPECT_LE(numbered.size(), 255u);
    EXPECT_TRUE(numbered.ends_with(" (12345).txt")) << numbered;
    const std::string kept =
        numbered.substr(0, numbered.size() - std::string(" (12345).txt").size());
    EXPECT_EQ(kept.size() % 2, 0u) << "a character was cut";
    EXPECT_EQ(stem.compare(0, kept.size(), kept), 0);

    // An extension too long to keep: the whole name is shortened instead.
    const std::string longExtension = "a." + std::string(250, 'e');
    const std::string shortened = numberedName(longExtension, 7);
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_TRUE(shortened.ends_with(" (7)")) << shortened;
}

TEST(KeepBoth, TakesTheFirstFreeNumberAndNeverReplaces) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary file" : "unnamed file");
        Folder folder;
        writeFile(folder / "a.txt", {'1'});
        writeFile(folder / "a (2).txt", {'2'});
        writeFile(folder / "a (4).txt", {'4'});
        EXPECT_EQ(keptBeside(folder, "a.txt", named), "a (3).txt");
        EXPECT_EQ(keptBeside(folder, "a.txt", named), "a (5).txt");
        EXPECT_EQ(keptBeside(folder, "free.txt", named), "free.txt");
        EXPECT_EQ(readFile(folder / "a.txt"), std::vector<uint8_t>{'1'});
        EXPECT_EQ(readFile(folder / "a (2).txt"), std::vector<uint8_t>{'2'});
        EXPECT_EQ(readFile(folder / "a (3).txt"), kData);
        // A dangling link takes its name too: nothing is written through it.
        ASSERT_EQ(::symlinkat("nowhere", folder.fd.get(), ".profile"), 0);
        EXPECT_EQ(keptBeside(folder, ".profile", named), ".profile (2)");
        EXPECT_FALSE(fs::exists(folder / "nowhere"));
    }
}

TEST(KeepBoth, NamesNumberedPast999StillFindAFreeName) {
    Folder folder;
    writeFile(folder / "many.log", {'0'});
    for (uint32_t n = 2; n <= 1001; ++n)
        writeFile(folder / numberedName("many.log", n), {'x'});
    EXPECT_EQ(keptBeside(folder, "many.log", false), "many (1002).log");
    EXPECT_EQ(readFile(folder / "many (1002).log"), kData);
    EXPECT_EQ(listNames(folder.root.path()).size(), 1002u);
}

TEST(StoredNameConflict, FollowsBit4WhereAnOlderProgramChangedIt) {
    const std::optional<uint32_t> none;
    // A file written before the choice existed: bit 4 alone.
    EXPECT_EQ(storedNameConflict(none, 14u), NameConflict::Refuse);
    EXPECT_EQ(storedNameConflict(none, 14u | 16u), NameConflict::Replace);
    EXPECT_EQ(storedNameConflict(none, none), NameConflict::Refuse);
    // Both in step, as this program writes them.
    EXPECT_EQ(storedNameConflict(0u, 14u), NameConflict::Refuse);
    EXPECT_EQ(storedNameConflict(1u, 14u | 16u), NameConflict::Replace);
    EXPECT_EQ(storedNameConflict(2u, 14u), NameConflict::KeepBoth);
    EXPECT_EQ(storedNameConflict(2u, none), NameConflict::KeepBoth);
    // An older program turned overwriting on, or off, since.
    EXPECT_EQ(storedNameConflict(2u, 14u | 16u), NameConflict::Replace);
    EXPECT_EQ(storedNameConflict(0u, 16u), NameConflict::Replace);
    EXPECT_EQ(storedNameConflict(1u, 14u), NameConflict::Refuse);
    // A number no choice has counts as absent.
    EXPECT_EQ(storedNameConflict(3u, 14u | 16u), NameConflict::Replace);
    EXPECT_EQ(storedNameConflict(~0u, 14u), NameConflict::Refuse);
}

TEST(AcceptList, EntriesAreReadExactlyAndMalformedOnesNamed) {
    EXPECT_EQ(parseNetwork("198.18.0.7"), (Ipv4Network{0xC6120007u, 32}));
    EXPECT_EQ(parseNetwork("198.18.0.0/24"), (Ipv4Network{0xC6120000u, 24}));
    EXPECT_EQ(parseNetwork("198.18.0.77/24"), (Ipv4Network{0xC6120000u, 24}));
    EXPECT_EQ(parseNetwork("0.0.0.0/0"), (Ipv4Network{0, 0}));
    for (const char* bad : {"300.1.1.1", "10.0.0.0/40", "1.2.3", "1.2.3.4.5", "010.1.1.1",
                            "1.2.3.4/", "/24", "1..2.3", "a.b.c.d", "1.2.3.4/-1", "", "1.2.3.4/08",
                            " 1.2.3.4", "1.2.3.4 ", "1234.1.1.1"})
        EXPECT_FALSE(parseNetwork(bad)) << '"' << bad << '"';

    const AcceptListParse bad = parseAcceptList("198.18.0.7 10.0.0.0/40 300.1.1.1");
    EXPECT_FALSE(bad.list);
    EXPECT_EQ(bad.badEntry, "10.0.0.0/40");

    const AcceptListParse good = parseAcceptList("  198.18.0.7,198.18.1.9/24\n");
    ASSERT_TRUE(good.list);
    EXPECT_EQ(good.list->kind, AcceptFrom::ListedAddresses);
    EXPECT_EQ(good.list->text(), "198.18.0.7 198.18.1.0/24");
    EXPECT_EQ(parseAcceptList(good.list->text()).list->networks, good.list->networks);

    const AcceptListParse empty = parseAcceptList(" \t");
    ASSERT_TRUE(empty.list);
    EXPECT_EQ(empty.list->kind, AcceptFrom::Anyone);
    EXPECT_EQ(empty.list->text(), "");
}

TEST(AcceptList, ANetworkAdmitsItsAddressesOnly) {
    const AcceptList list = *parseAcceptList("198.18.0.0/30 10.1.2.3").list;
    EXPECT_TRUE(list.admits(0xC6120000u));  // 198.18.0.0
    EXPECT_TRUE(list.admits(0xC6120003u));  // 198.18.0.3
    EXPECT_FALSE(list.admits(0xC6120004u)); // 198.18.0.4
    EXPECT_FALSE(list.admits(0xC6130001u)); // 198.19.0.1
    EXPECT_TRUE(list.admits(0x0A010203u));  // 10.1.2.3
    EXPECT_FALSE(list.admits(0x0A010204u));
    EXPECT_FALSE(list.admits(0x7F000001u));
    EXPECT_TRUE(AcceptList{}.admits(0x7F000001u));
    EXPECT_TRUE(parseAcceptList("0.0.0.0/0").list->admits(0xFFFFFFFFu));
}

// A peer refused for its address has no receive of its own: when it connects
// and goes after a real receive but before the front end took that receive's
// outcome, the outcome taken is still the real one (a flood right after a
// transfer once made zapfer-cli report the refused table instead).
TEST(AcceptList, ARefusedPeerLeavesTheLastReceivesOutcomeInPlace) {
    TempDir source;
    TempDir dest;
    const auto payload = randomBytes(5000, 31);
    writeFile(source / "kept.bin", payload);

    Responder responder(dest.path());
    EngineSettings settings = responder.engine.settings();
    settings.acceptFrom = *parseAcceptList("127.0.0.1").list;
    responder.engine.setSettings(settings);

    Sender sender(responder.engine.listenPort());
    const SendOutcome sent = sender.send({source / "kept.bin"});
    ASSERT_EQ(sent.filesDone, 1);
    RecordingEvents& events = responder.events;
    TransferId received = kNoTransfer;
    ASSERT_TRUE(events.waitUntil([&] {
        received = events.lastReceive;
        return received != kNoTransfer && !events.endedIds.empty() &&
               events.endedIds.back() == received;
    }));

    {
        WirePeer refused = WirePeer::tcp(responder.engine.listenPort(), 0x7F000002u);
        ASSERT_TRUE(refused.connected());
        refused.sendTable({{"flood.bin", 7}});
        EXPECT_EQ(refused.readCommand(), CMD_CANNOT_CREATE);
        // The responder closes a refused connection only after its receive
        // session has ended: from here on its end has been told.
        EXPECT_TRUE(refused.closedByPeer());
    }

    const ReceiveOutcome outcome = responder.engine.finishReceive();
    EXPECT_EQ(outcome.id, received);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(outcome.fileCount, 1);
    EXPECT_EQ(outcome.peerAddress, loopback());
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0].nameAsStored, "kept.bin");
    EXPECT_EQ(outcome.files[0].result, FileResult::Stored);
    EXPECT_TRUE(readFile(dest / "kept.bin") == payload);
    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"kept.bin"});
}
