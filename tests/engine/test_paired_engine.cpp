// The paired link inside the engine: which ports are listened on, a paired
// send between two engines, the failures a sender is told, the receiving
// side's notices, and an engine that keeps serving while a peer's handshake
// hangs.

#include "engine_harness.h"
#include "handshake_limiter.h"
#include "tls_test_support.h"

#include <gtest/gtest.h>

#include <future>

namespace zapfer::test {
namespace {

using namespace std::chrono_literals;
using tls_test::connectTo;
using tls_test::kCode;
using tls_test::kOtherCode;

class PairedEvents : public RecordingEvents {
public:
    void pairingFailed(uint32_t address) override {
        {
            std::lock_guard lock(mutex);
            failedFrom.push_back(address);
        }
        changed.notify_all();
    }
    size_t failures() {
        std::lock_guard lock(mutex);
        return failedFrom.size();
    }
    std::vector<uint32_t> failedFrom;
};

LinkConfig localConfig(uint16_t pairedPeerPort = 1) {
    LinkConfig config;
    config.listenPort = 0;
    config.pairedListenPort = 0;
    config.echoPort = 0;
    config.listenAddress = loopback();
    config.peerPort = 1;
    config.pairedPeerPort = pairedPeerPort;
    return config;
}

// An engine on 127.0.0.1 with `code` (empty: none), receiving into `dest`.
struct PairedEngine {
    PairedEngine(const std::string& code, const std::filesystem::path& dest,
                 AcceptFrom accept = AcceptFrom::Anyone, uint16_t pairedPeerPort = 1)
        : engine(events, localConfig(pairedPeerPort)) {
        EngineSettings settings;
        settings.destDir = dest.string();
        settings.peerIp = loopback();
        settings.pairingCode = code;
        settings.acceptFrom.kind = accept;
        engine.setSettings(settings);
        engine.selectCommType(CommType::Wan, true);
        engine.start();
    }
    ~PairedEngine() { engine.stop(); }
    PairedEvents events;
    Engine engine;
    SendHandshake handshake{engine};
};

uint16_t unusedPort() {
    tls_test::Listener listener;
    return listener.port(); // closed again when the listener goes
}

// --- the limiter ------------------------------------------------------------

struct FakeClock {
    HandshakeLimiter::Clock::time_point now{std::chrono::hours(1)};
    HandshakeLimiter::Now function() {
        return [this] { return now; };
    }
};

TEST(HandshakeLimiter, FiveFailuresWithinAMinuteBlockTheAddressForTheNextMinute) {
    FakeClock clock;
    HandshakeLimiter limiter(clock.function());
    const uint32_t address = 0xC6120007;
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(limiter.noteFailure(address)) << i;
        clock.now += 10s;
    }
    EXPECT_FALSE(limiter.blocked(address));
    EXPECT_TRUE(limiter.noteFailure(address)); // the fifth, 40 s after the first
    EXPECT_TRUE(limiter.blocked(address));
    EXPECT_FALSE(limiter.blocked(address + 1)) << "another address pays nothing";
    clock.now += 59s;
    EXPECT_TRUE(limiter.blocked(address));
    clock.now += 1s;
    EXPECT_FALSE(limiter.blocked(address));
    // The failures that caused the block are spent: one more does not block again.
    EXPECT_FALSE(limiter.noteFailure(address));
    EXPECT_FALSE(limiter.blocked(address));
}

TEST(HandshakeLimiter, FailuresSpreadOverMoreThanAMinuteNeverBlock) {
    FakeClock clock;
    HandshakeLimiter limiter(clock.function());
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(limiter.noteFailure(7)) << i;
        EXPECT_FALSE(limiter.blocked(7)) << i;
        clock.now += 16s; // the fifth failure back is always over a minute old
    }
}

TEST(HandshakeLimiter, ManyAddressesFillNoMoreThanItsTableAndBlockedOnesStay) {
    FakeClock clock;
    HandshakeLimiter limiter(clock.function(), 5, 60s, 60s, 16);
    for (int i = 0; i < 5; ++i)
        limiter.noteFailure(1);
    ASSERT_TRUE(limiter.blocked(1));
    clock.now += 1s;
    for (uint32_t address = 100; address < 1100; ++address)
        limiter.noteFailure(address);
    EXPECT_LE(limiter.size(), 16u);
    EXPECT_TRUE(limiter.blocked(1)) << "the blocked address was the latest to act";
}

// --- listeners --------------------------------------------------------------

TEST(PairedEngine, ThePairedPortIsListenedOnOnlyWithACodeAndThePlainOneNotForPairedOnly) {
    TempDir dest;
    {
        PairedEngine none("", dest.path());
        EXPECT_NE(none.engine.listenPort(), 0);
        EXPECT_EQ(none.engine.pairedPort(), 0);
    }
    {
        PairedEngine both(kCode, dest.path());
        EXPECT_NE(both.engine.listenPort(), 0);
        EXPECT_NE(both.engine.pairedPort(), 0);
        EXPECT_NE(both.engine.listenPort(), both.engine.pairedPort());
    }
    {
        PairedEngine only(kCode, dest.path(), AcceptFrom::PairedPeers);
        EXPECT_EQ(only.engine.listenPort(), 0);
        EXPECT_NE(only.engine.pairedPort(), 0);
    }
}

TEST(PairedEngine, ACodeSetWhileRunningOpensThePairedPortAndClearingItClosesIt) {
    TempDir dest;
    PairedEngine receiver("", dest.path());
    EngineSettings settings = receiver.engine.settings();
    settings.pairingCode = kCode;
    receiver.engine.setSettings(settings);
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.engine.pairedPort() != 0; }));
    settings.pairingCode.clear();
    receiver.engine.setSettings(settings);
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.engine.pairedPort() == 0; }));
    EXPECT_NE(receiver.engine.listenPort(), 0);
}

// --- sending ----------------------------------------------------------------

SendOutcome pairedSend(PairedEngine& sender, const std::vector<std::filesystem::path>& files) {
    return runSend(sender.handshake, sender.events, sendFiles(files), 60s);
}

TEST(PairedEngine, FilesGoBothWaysBetweenEnginesWithTheSameCodeWhateverTheAddressList) {
    TempDir a;
    TempDir b;
    TempDir source;
    const auto bytes = randomBytes(300'000, 17);
    writeFile(source / "one.bin", bytes);
    // Neither lists 127.0.0.1: the code is the pass.
    PairedEngine first(kCode, a.path(), AcceptFrom::PairedPeers);
    PairedEngine second(kCode, b.path(), AcceptFrom::PairedPeers, first.engine.pairedPort());
    {
        const SendOutcome outcome = pairedSend(second, {source / "one.bin"});
        EXPECT_FALSE(outcome.aborted);
        EXPECT_EQ(outcome.filesDone, 1);
        EXPECT_EQ(readFile(a / "one.bin"), bytes);
    }
    // The way back: a third engine aimed at the second's paired port.
    PairedEngine third(kCode, a.path(), AcceptFrom::Anyone, second.engine.pairedPort());
    const SendOutcome back = pairedSend(third, {a / "one.bin"});
    EXPECT_EQ(back.filesDone, 1);
    EXPECT_EQ(readFile(b / "one.bin"), bytes);
    EXPECT_EQ(first.events.failures() + second.events.failures(), 0u);
}

TEST(PairedEngine, EachFailureOfAPairedSendHasItsReasonAndNothingIsWritten) {
    TempDir dest;
    TempDir source;
    writeFile(source / "f.bin", randomBytes(1000, 3));
    PairedEngine receiver(kCode, dest.path());
    {
        PairedEngine other(kOtherCode, source.path(), AcceptFrom::Anyone,
                           receiver.engine.pairedPort());
        const SendOutcome outcome = pairedSend(other, {source / "f.bin"});
        EXPECT_EQ(outcome.failure, SendFailure::PairingMismatch);
        EXPECT_EQ(outcome.filesDone, 0);
    }
    EXPECT_TRUE(receiver.events.waitUntil([&] { return !receiver.events.failedFrom.empty(); }));
    EXPECT_EQ(receiver.events.failedFrom.front(), loopback());
    {
        PairedEngine refused(kCode, source.path(), AcceptFrom::Anyone, unusedPort());
        EXPECT_EQ(pairedSend(refused, {source / "f.bin"}).failure, SendFailure::PairedNotAccepted);
    }
    {
        // A listener that takes the connection and never says a word.
        tls_test::Listener silent;
        PairedEngine unanswered(kCode, source.path(), AcceptFrom::Anyone, silent.port());
        EXPECT_EQ(pairedSend(unanswered, {source / "f.bin"}).failure, SendFailure::PairedNoAnswer);
    }
    EXPECT_TRUE(listNames(dest.path()).empty());
    EXPECT_EQ(receiver.events.incoming, 0);
}

TEST(PairedEngine, PlainLinkWithACodeGoesToThePlainPortOnlyWhenAsked) {
    TempDir dest;
    TempDir source;
    const auto bytes = randomBytes(5000, 9);
    writeFile(source / "p.bin", bytes);
    Responder plain(dest.path());
    LinkConfig config = localConfig(unusedPort());
    config.peerPort = plain.engine.listenPort();
    PairedEvents events;
    Engine engine(events, config);
    EngineSettings settings;
    settings.peerIp = loopback();
    settings.pairingCode = kCode;
    engine.setSettings(settings);
    engine.selectCommType(CommType::Wan, true);
    engine.start();
    SendHandshake handshake(engine);
    EXPECT_EQ(runSend(handshake, events, sendFiles({source / "p.bin"}), 60s).failure,
              SendFailure::PairedNotAccepted)
        << "never a silent fall-back to the plain port";
    settings.plainLink = true;
    engine.setSettings(settings);
    const SendOutcome outcome = runSend(handshake, events, sendFiles({source / "p.bin"}), 60s);
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(readFile(dest / "p.bin"), bytes);
    engine.stop();
}

// --- receiving --------------------------------------------------------------

TEST(PairedEngine, ASilentPeerInTheHandshakeHoldsNeitherTheFrontEndNorAStop) {
    TempDir dest;
    auto receiver = std::make_unique<PairedEngine>(kCode, dest.path());
    UniqueFd silent = connectTo(receiver->engine.pairedPort());
    ASSERT_TRUE(silent.valid());
    std::this_thread::sleep_for(300ms); // the engine has taken it and waits for a ClientHello
    // A front-end request runs between two steps of the handshake; with the
    // handshake in one piece it would wait for its whole 10 s limit.
    auto request = std::async(
        std::launch::async, [&] { return receiver->engine.selectCommType(CommType::Wan, false); });
    ASSERT_EQ(request.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(request.get());
    UniqueFd another = connectTo(receiver->engine.pairedPort());
    ASSERT_TRUE(another.valid());
    std::this_thread::sleep_for(300ms);
    auto stop = std::async(std::launch::async, [&] { receiver.reset(); });
    EXPECT_EQ(stop.wait_for(5s), std::future_status::ready);
}

TEST(PairedEngine, GarbageAndPlainSendersOnThePairedPortAreNotedAndTheNextPeerIsServed) {
    TempDir dest;
    TempDir source;
    const auto bytes = randomBytes(70'000, 5);
    writeFile(source / "g.bin", bytes);
    PairedEngine receiver(kCode, dest.path());
    const uint16_t port = receiver.engine.pairedPort();
    {
        UniqueFd garbage = connectTo(port);
        const auto noise = randomBytes(4096, 1);
        ASSERT_GT(::send(garbage.get(), noise.data(), noise.size(), MSG_NOSIGNAL), 0);
        EXPECT_TRUE(
            receiver.events.waitUntil([&] { return receiver.events.failedFrom.size() >= 1; }));
    }
    {
        // The first bytes of a ClientHello, then the end of the connection.
        UniqueFd truncated = connectTo(port);
        const uint8_t hello[] = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xfc, 0x03, 0x03};
        ASSERT_GT(::send(truncated.get(), hello, sizeof hello, MSG_NOSIGNAL), 0);
    }
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.events.failedFrom.size() >= 2; }));
    {
        // A sender of the plain link aimed at the paired port.
        Sender plain(port);
        const SendOutcome outcome = plain.send({source / "g.bin"});
        EXPECT_EQ(outcome.filesDone, 0);
    }
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.events.failedFrom.size() >= 3; }));
    EXPECT_TRUE(listNames(dest.path()).empty());

    PairedEngine proper(kCode, source.path(), AcceptFrom::Anyone, port);
    EXPECT_EQ(pairedSend(proper, {source / "g.bin"}).filesDone, 1);
    EXPECT_EQ(readFile(dest / "g.bin"), bytes);
}

TEST(PairedEngine, AnAddressFailingFiveTimesIsNotAnsweredAndNotNotedAgain) {
    TempDir dest;
    TempDir source;
    writeFile(source / "x.bin", randomBytes(100, 2));
    PairedEngine receiver(kCode, dest.path());
    PairedEngine other(kOtherCode, source.path(), AcceptFrom::Anyone, receiver.engine.pairedPort());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pairedSend(other, {source / "x.bin"}).failure, SendFailure::PairingMismatch) << i;
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.events.failedFrom.size() == 5; }));
    // Blocked now: even the right code gets no handshake from this address.
    PairedEngine right(kCode, source.path(), AcceptFrom::Anyone, receiver.engine.pairedPort());
    EXPECT_EQ(pairedSend(right, {source / "x.bin"}).failure, SendFailure::PairedNoAnswer);
    EXPECT_EQ(receiver.events.failures(), 5u);
    EXPECT_TRUE(listNames(dest.path()).empty());
}

} // namespace
} // namespace zapfer::test
