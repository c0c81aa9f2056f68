// A peer whose table was accepted and that then trickles its commands, one
// byte every 1.9 s (each within the silence limit), is dropped once a message
// outlasts its total time, and the next proper sender gets through.

#include "engine_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Trickles `bytes` into `peer` on a thread of its own until the responder
// closes the connection or the bytes run out.
class Trickler {
public:
    Trickler(WirePeer& peer, Bytes bytes)
        : m_thread([this, &peer, bytes] {
              for (size_t i = 0; i < bytes.size() && !dropped; ++i) {
                  peer.send({bytes[i]});
                  dropped = peer.closedByPeer(1900);
              }
          }) {}
    ~Trickler() { finish(); }
    // Waits for the trickling to end; true when the responder dropped it.
    bool finish() {
        if (m_thread.joinable())
            m_thread.join();
        return dropped;
    }

private:
    std::atomic<bool> dropped{false};
    std::thread m_thread;
};

Bytes repeated(const Bytes& message, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), message.begin(), message.end());
    return out;
}

} // namespace

TEST(TricklingPeer, TrickledCommandsAfterAnAcceptedTableDoNotHoldTheResponder) {
    // Pings, and the opens and closes of a long table of empty files: each
    // would count as progress once whole, so only the message's own time
    // limit stops them.
    const Bytes openClose = [] {
        Bytes bytes = openMessage(0);
        const Bytes close = frameBytes(CMD_CLOSE_FILE);
        bytes.insert(bytes.end(), close.begin(), close.end());
        return bytes;
    }();
    for (const Bytes& trickled : {repeated(frameBytes(CMD_PING), 3), repeated(openClose, 2)}) {
        TempDir root;
        fs::create_directory(root / "dest");
        Responder responder(root / "dest");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        std::vector<EntryBytes> entries;
        for (int i = 0; i < 100; ++i)
            entries.push_back(textEntry("slow" + std::to_string(i), 0));
        peer.send(tableMessage(entries));
        ASSERT_EQ(peer.readCommand(), CMD_OK);

        const auto started = Clock::now();
        SendOutcome outcome;
        {
            Trickler trickler(peer, trickled);
            Sender next(responder.engine.listenPort());
            writeFile(root / "next.txt", {'n', 'e', 'x', 't'});
            outcome = next.send({root / "next.txt"});
            EXPECT_TRUE(trickler.finish());
        }
        // About 2 s for the trickled message, then the queued sender's own
        // resending: far below the 30 s a peer without progress is allowed.
        EXPECT_LT(Clock::now() - started, 15s);
        EXPECT_EQ(outcome.filesDone, 1);
        EXPECT_TRUE(responder.events.waitUntil(
            [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
        responder.engine.finishReceive();
        EXPECT_EQ(listNames(root / "dest"), std::vector<std::string>{"next.txt"});
    }
}
