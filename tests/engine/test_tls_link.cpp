// Two paired links over 127.0.0.1, and a paired link facing peers that are
// not: plain ones, silent ones, forged records. The engine's sender and
// receive session run over it unchanged.

#include "engine_events.h"
#include "protocol.h"
#include "receive_session.h"
#include "sender.h"
#include "tls_test_support.h"

#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace zapfer {
namespace {

using namespace tls_test;

std::vector<uint8_t> plainSenderBytes() {
    std::vector<uint8_t> bytes;
    for (const uint8_t code : {CMD_CONNECT, CMD_FILE_TABLE}) {
        const Frame frame = BuildFrame(code);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    bytes.resize(bytes.size() + 5 + 256, 0x41);
    return bytes;
}

TEST(TlsLink, APlainPeerIsRefusedOnEitherSide) {
    const PairingKey key = keyOf(kCode);
    {
        // A plain sender dialling the paired port.
        Connection connection;
        sendRaw(connection.dialled.get(), plainSenderBytes());
        LinkHost host;
        TlsLink server(std::move(connection.accepted), TlsRole::Server, key, 32768, host.context());
        const TlsOutcome outcome = server.handshake(5000);
        EXPECT_EQ(outcome.failure, TlsFailure::NotTls) << outcome.detail;
        EXPECT_FALSE(server.alive());
        EXPECT_EQ(host.abortFlag, 0); // no transfer was under way
    }
    {
        // A plain receiver answering the ClientHello with the plain protocol:
        // a refused table, then an abort.
        Connection connection;
        std::vector<uint8_t> answer;
        for (const uint8_t code : {CMD_BAD_TABLE, CMD_ABORT}) {
            const Frame frame = BuildFrame(code);
            answer.insert(answer.end(), frame.begin(), frame.end());
        }
        std::thread peer([&] {
            pollfd ready{connection.accepted.get(), POLLIN, 0};
            if (::poll(&ready, 1, 5000) == 1)
                sendRaw(connection.accepted.get(), answer);
        });
        LinkHost host;
        TlsLink client(std::move(connection.dialled), TlsRole::Client, key, 32768, host.context());
        const TlsOutcome outcome = client.handshake(5000);
        peer.join();
        EXPECT_EQ(outcome.failure, TlsFailure::NotTls) << outcome.detail;
        EXPECT_FALSE(client.alive());
    }
    {
        // Fewer bytes than a record's header, and the plain peer hangs up.
        Connection connection;
        std::thread peer([&] {
            pollfd ready{connection.accepted.get(), POLLIN, 0};
            if (::poll(&ready, 1, 5000) == 1)
                sendRaw(connection.accepted.get(), BuildFrame(CMD_ABORT));
            connection.accepted.reset();
        });
        LinkHost host;
        TlsLink client(std::move(connection.dialled), TlsRole::Client, key, 32768, host.context());
        const TlsOutcome outcome = client.handshake(5000);
        peer.join();
        EXPECT_EQ(outcome.failure, TlsFailure::PeerClosed) << outcome.detail;
    }
}

TEST(TlsLink, AHandshakeEndsWithinItsLimitOrAtAnAbortOrAtTheClose) {
    const PairingKey key = keyOf(kCode);
    {
        Connection silent;
        LinkHost host;
        TlsLink server(std::move(silent.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(300).failure, TlsFailure::TimedOut);
        EXPECT_FALSE(server.alive());
    }
    {
        // A peer that sends a ClientHello's first bytes and stops.
        Connection truncated;
        const uint8_t start[] = {0x16, 0x03, 0x01, 0x01, 0x00, 0x01};
        sendRaw(truncated.dialled.get(), start);
        LinkHost host;
        TlsLink server(std::move(truncated.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(300).failure, TlsFailure::TimedOut);
    }
    {
        Connection silent;
        LinkHost host;
        TlsLink client(std::move(silent.dialled), TlsRole::Client, key, 32768, host.context());
        std::thread user([&] {
            std::this_thread::sleep_for(100ms);
            host.abortFlag = 1;
            host.waker.wake();
        });
        // The limit is far away: only the abort can end it in time to pass.
        const TlsOutcome outcome = client.handshake(60'000);
        user.join();
        EXPECT_EQ(outcome.failure, TlsFailure::Aborted);
    }
    {
        Connection closed;
        closed.dialled.reset();
        LinkHost host;
        TlsLink server(std::move(closed.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(5000).failure, TlsFailure::PeerClosed);
    }
}

TEST(TlsLink, TwoLinksWithDifferentCodesBothSayWrongCode) {
    PairedLinks links(kOtherCode);
    EXPECT_EQ(links.clientOutcome.failure, TlsFailure::WrongCode) << links.clientOutcome.detail;
    EXPECT_EQ(links.serverOutcome.failure, TlsFailure::WrongCode) << links.serverOutcome.detail;
}

// Sends `total` bytes and receives as many through the non-blocking pieces,
// as the block pump does; false on a failure, a wrong byte or 30 s passing.
bool pumpBothWays(TlsLink& link, size_t total, uint8_t sendSeed, uint8_t receiveSeed) {
    std::vector<uint8_t> out(total);
    for (size_t i = 0; i < total; ++i)
        out[i] = patternByte(i, sendSeed);
    std::vector<uint8_t> in(64 * 1024);
    size_t sent = 0;
    size_t received = 0;
    const auto deadline = Clock::now() + 30s;
    while ((sent < total || received < total) && Clock::now() < deadline) {
        link.waitReady(sent < total, 100);
        const ssize_t got = link.receiveSome(in.data(), in.size());
        if (got == 0 || (got < 0 && errno != EAGAIN))
            return false;
        for (ssize_t i = 0; i < got; ++i, ++received)
            if (received >= total || in[size_t(i)] != patternByte(received, receiveSeed))
                return false;
        if (sent < total) {
            const ssize_t n =
                link.sendSome(out.data() + sent, std::min<size_t>(total - sent, 40'000));
            if (n < 0 && errno != EAGAIN)
                return false;
            if (n > 0)
                sent += size_t(n);
        }
    }
    // The last bytes taken may still wait in the link for the kernel, as the
    // block pump's replies would move them on; here a send of nothing does.
    return sent == total && received == total && link.sendAll({});
}

TEST(TlsLink, TwoLinksMoveMegabytesBothWaysAtOnceThenSeeTheClose) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok()) << links.clientOutcome.detail;
    ASSERT_TRUE(links.serverOutcome.ok()) << links.serverOutcome.detail;
    EXPECT_EQ(links.client->traits().dialect, Dialect::Stream);
    EXPECT_EQ(links.client->traits().blockSize, 32768);

    // Both sides write before they read, so the kernel's buffers fill and the
    // links must hold encrypted bytes back without losing or reordering any.
    constexpr size_t kTotal = 16 * 1024 * 1024;
    auto serverSide =
        std::async(std::launch::async, [&] { return pumpBothWays(*links.server, kTotal, 7, 3); });
    EXPECT_TRUE(pumpBothWays(*links.client, kTotal, 3, 7));
    EXPECT_TRUE(serverSide.get());

    // A command frame through the protocol's own helpers.
    ASSERT_TRUE(sendCommand(*links.client, CMD_PING));
    EXPECT_EQ(receiveCommand(*links.server, 2000), CMD_PING);

    // The server goes: its close_notify ends the client's reads.
    links.server.reset();
    uint8_t byte = 0;
    EXPECT_FALSE(links.client->receiveExact(&byte, 1, 2000));
    EXPECT_FALSE(links.client->alive());
    EXPECT_EQ(links.clientHost.abortFlag, 1); // the transfer on it is over
}

// An application data record of the right shape whose tag cannot verify.
std::vector<uint8_t> forgedRecord() {
    std::vector<uint8_t> forged = {0x17, 0x03, 0x03, 0x00, 0x40};
    forged.resize(forged.size() + 0x40, 0x5A);
    return forged;
}

TEST(TlsLink, AForgedRecordEndsTheLinkAndNothingOfItIsRead) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    const std::string before = "genuine bytes\n";
    ASSERT_TRUE(sendText(*links.server, before));
    EXPECT_EQ(receiveText(*links.client, before.size()), before);

    sendRaw(links.serverSocketCopy.get(), forgedRecord());
    uint8_t buffer[64];
    EXPECT_TRUE(links.client->waitReady(false, 2000));
    errno = 0;
    EXPECT_EQ(links.client->receiveSome(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EPROTO);
    EXPECT_FALSE(links.client->alive());
    EXPECT_EQ(links.clientHost.abortFlag, 1);
}

TEST(TlsLink, GenuineBytesBeforeAForgedRecordAreReadThenTheFailureIsReported) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    const std::string before = "genuine bytes\n";
    ASSERT_TRUE(sendText(*links.server, before));
    sendRaw(links.serverSocketCopy.get(), forgedRecord());
    // Both records wait at the client before it reads: the genuine one is
    // its text, the content type and a 16-byte tag after a 5-byte header.
    const int queued = int(5 + before.size() + 1 + 16 + forgedRecord().size());
    int waiting = 0;
    for (int i = 0; i < 500 && waiting < queued; ++i) {
        ::ioctl(links.clientSocketCopy.get(), FIONREAD, &waiting);
        if (waiting < queued)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(waiting, queued);

    std::string text(256, '\0');
    ASSERT_TRUE(links.client->waitReady(false, 2000));
    const ssize_t got = links.client->receiveSome(reinterpret_cast<uint8_t*>(text.data()), 256);
    ASSERT_EQ(got, ssize_t(before.size()));
    EXPECT_EQ(text.substr(0, before.size()), before);
    EXPECT_TRUE(links.client->alive());
    // The failure kept from that read is ready at once, without waiting on the socket.
    EXPECT_TRUE(links.client->waitReady(false, 0));
    errno = 0;
    EXPECT_EQ(links.client->receiveSome(reinterpret_cast<uint8_t*>(text.data()), 256), -1);
    EXPECT_EQ(errno, EPROTO);
    EXPECT_FALSE(links.client->alive());
}

// The receiving engine's part, cut down: the session fed from the link, its
// replies written back to it.
class SessionDriver : public SessionObserver, public ReplySink {
public:
    SessionDriver(TlsLink& link, EngineState& state, std::string folder)
        : m_link(link), m_folder(std::move(folder)), m_session(link.traits(), state, *this, *this) {
    }

    // Serves the peer until its table is complete or the link ends, at most 60 s.
    ReceiveOutcome serve() {
        std::vector<uint8_t> buffer(256 * 1024);
        const auto deadline = Clock::now() + 60s;
        while (!m_complete && m_link.alive() && Clock::now() < deadline) {
            if (m_link.waitReady(false, 100)) {
                const ssize_t got = m_link.receiveSome(buffer.data(), buffer.size());
                if (got > 0)
                    m_session.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), nowMs());
            }
            m_session.tick(nowMs());
        }
        m_session.end(!m_complete);
        return m_outcome;
    }

    ReceivePolicy policy() override { return {m_folder, NameConflict::Refuse, "Paired"}; }
    void incoming() override {}
    void fileStarted(const std::string&) override {}
    void closeStatus() override {}
    void sound(Sound) override {}
    void abortTransfer() override {}
    void transferComplete() override { m_complete = true; }
    void linkRequested() override {}
    void receiveEnded(const ReceiveOutcome& outcome) override { m_outcome = outcome; }
    void reply(std::span<const uint8_t> bytes) override { m_link.sendAll(bytes); }

private:
    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
            .count();
    }

    TlsLink& m_link;
    std::string m_folder;
    ReceiveSession m_session;
    bool m_complete = false;
    ReceiveOutcome m_outcome;
};

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TlsLink, TheEnginesSenderAndReceiveSessionRunOverItUnchanged) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/zapfer-tls-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    fs::create_directory(root / "from");
    fs::create_directory(root / "to");
    std::vector<SendFile> files;
    std::vector<uint8_t> table;
    for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
             {"empty.bin", 0}, {"small.txt", 1000}, {"several blocks.bin", 3 * 1024 * 1024 + 5}}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = char(patternByte(i, uint8_t(name.size())));
        std::ofstream(root / "from" / name, std::ios::binary) << data;
        files.push_back({(root / "from" / name).string(), int64_t(size)});
        EntryBytes entry{};
        ASSERT_EQ(EncodeTransferEntry(files.back().path, files.back().size, entry),
                  EntryError::None);
        table.insert(table.end(), entry.begin(), entry.end());
    }

    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    auto received = std::async(std::launch::async, [&] {
        SessionDriver driver(*links.server, links.serverHost.state, (root / "to").string());
        return driver.serve();
    });
    NullEngineEvents events;
    const std::atomic<bool> stopping{false};
    Sender sender(1, *links.client, links.clientHost.state, events, links.clientHost.waker,
                  stopping);
    const SendOutcome sent = sender.run(files, table);
    const ReceiveOutcome outcome = received.get();

    EXPECT_FALSE(sent.aborted);
    EXPECT_EQ(sent.filesDone, 3);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 3);
    for (const SendFile& file : files) {
        const fs::path stored = root / "to" / fs::path(file.path).filename();
        EXPECT_TRUE(fs::exists(stored)) << stored;
        EXPECT_TRUE(contentsOf(stored) == contentsOf(file.path)) << stored;
    }
    fs::remove_all(root);
}

} // namespace
} // namespace zapfer
