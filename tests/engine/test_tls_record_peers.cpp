// The paired link's own records against OpenSSL's command line peers and a
// man in the middle: key updates either side starts, many records in a row,
// the close, and records altered on the way.

#include "openssl_peers.h"

#include <sys/ioctl.h>

#include <thread>

namespace zapfer {
namespace {

using namespace tls_test;

TEST(TlsRecordPeers, RecordsGoBothWaysAcrossKeyUpdatesTheServerStarts) {
    // -msg: s_server tells of each message it sends, the KeyUpdate too.
    auto options = OpensslServer::withPsk(kCode);
    options.push_back("-msg");
    OpensslServer server(options);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    ASSERT_TRUE(link.handshake(5000).ok()) << server.peer.output;

    // "k": the server renews its own keys; "K": it asks this side to as well.
    for (const std::string command : {"k\n", "K\n", "k\n"}) {
        const size_t seen = server.peer.output.size();
        server.peer.write(command);
        ASSERT_TRUE(server.peer.waitFor("KeyUpdate", 10s, seen)) << server.peer.output;
        const std::string down = "s_server after " + command;
        server.peer.write(down);
        EXPECT_EQ(receiveText(link, down.size()), down);
        const std::string up = "zapfer after " + command;
        ASSERT_TRUE(sendText(link, up));
        EXPECT_TRUE(server.peer.waitFor(up, 10s, seen)) << server.peer.output;
    }
    EXPECT_TRUE(link.alive());
    EXPECT_EQ(server.peer.output.find("ERROR"), std::string::npos) << server.peer.output;
}

TEST(TlsRecordPeers, SequenceNumbersCarryAcrossTensOfThousandsOfRecords) {
    OpensslServer server(kCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    ASSERT_TRUE(link.handshake(5000).ok()) << server.peer.output;
    // Each sendAll is one record: past 65536 records the sequence number
    // fills a third byte of the nonce.
    constexpr int kRecords = 70'000;
    for (int i = 0; i < kRecords; ++i)
        ASSERT_TRUE(sendText(link, i % 10'000 == 0 ? "@" + std::to_string(i) + "\n" : "."))
            << "record " << i;
    ASSERT_TRUE(sendText(link, "\nthe last of many records\n"));
    EXPECT_TRUE(server.peer.waitFor("the last of many records", 20s));
    EXPECT_NE(server.peer.output.find("@60000"), std::string::npos);
    EXPECT_EQ(server.peer.output.find("ERROR"), std::string::npos);
}

TEST(TlsRecordPeers, BatchesSealedAndOpenedOnTwoThreadsAreWhatSServerSendsAndReads) {
    OpensslServer server(kCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    ASSERT_TRUE(link.handshake(5000).ok()) << server.peer.output;
    // Up: calls of 256 KiB, sixteen records each, shared between the threads.
    const std::string up = textOfLength(1'500'000, "up") + "the end of the way up\n";
    ASSERT_TRUE(sendText(link, up));
    ASSERT_TRUE(server.peer.waitFor("the end of the way up", 20s)) << server.peer.output.size();
    EXPECT_NE(server.peer.output.find(up.substr(up.size() - 5000)), std::string::npos);
    // Down: s_server's records of up to 16 KiB arrive faster than they are
    // read, so that the link finds many in one span. (A read of its input
    // that starts with "k\n", "q" and the like is a command to s_server.)
    std::string down;
    for (int line = 0; down.size() < 600'000; ++line)
        down += "down " + std::to_string(line) + " of the paired stream.\n";
    std::thread writer([&] { server.peer.write(down); });
    const std::string got = receiveText(link, down.size());
    writer.join();
    EXPECT_TRUE(got == down) << got.size();
    EXPECT_TRUE(link.alive());
    EXPECT_EQ(server.peer.output.find("ERROR"), std::string::npos);
}

TEST(TlsRecordPeers, TheLinksCloseNotifyIsACleanEndForSServerAndSClient) {
    {
        OpensslServer server(kCode);
        ASSERT_NE(server.port, 0) << server.peer.output;
        LinkHost host;
        auto link = std::make_unique<TlsLink>(connectTo(server.port), TlsRole::Client, keyOf(kCode),
                                              32768, host.context());
        ASSERT_TRUE(link->handshake(5000).ok()) << server.peer.output;
        ASSERT_TRUE(sendText(*link, "goodbye\n"));
        ASSERT_TRUE(server.peer.waitFor("goodbye"));
        link.reset();
        // "DONE" is s_server's word for close_notify; a cut connection is an "ERROR".
        EXPECT_TRUE(server.peer.waitFor("DONE")) << server.peer.output;
        EXPECT_EQ(server.peer.output.find("ERROR"), std::string::npos) << server.peer.output;
    }
    {
        Listener listener;
        OpensslClient client(kCode, listener.port());
        ASSERT_TRUE(client.peer.started());
        LinkHost host;
        auto link = std::make_unique<TlsLink>(listener.accept(), TlsRole::Server, keyOf(kCode),
                                              32768, host.context());
        ASSERT_TRUE(link->handshake(5000).ok()) << client.peer.output;
        ASSERT_TRUE(sendText(*link, "goodbye\n"));
        ASSERT_TRUE(client.peer.waitFor("goodbye"));
        link.reset();
        EXPECT_TRUE(client.peer.waitFor("closed\n")) << client.peer.output;
        EXPECT_EQ(client.peer.output.find("unexpected eof"), std::string::npos)
            << client.peer.output;
    }
}

// Takes the next `n` bytes meant for the client off its socket, as a relay
// on the way would; empty when they do not come within 5 s.
std::vector<uint8_t> intercept(int clientSocket, size_t n) {
    int waiting = 0;
    for (int i = 0; i < 500 && size_t(waiting) < n; ++i) {
        ::ioctl(clientSocket, FIONREAD, &waiting);
        if (size_t(waiting) < n)
            std::this_thread::sleep_for(10ms);
    }
    std::vector<uint8_t> bytes(n);
    if (size_t(waiting) < n || ::recv(clientSocket, bytes.data(), n, MSG_DONTWAIT) != ssize_t(n))
        return {};
    return bytes;
}

TEST(TlsRecordPeers, ARecordAlteredOnTheWayEndsTheLinkWithNothingOfItHandedOut) {
    for (const size_t flip : {size_t(2), size_t(5), size_t(9000), size_t(16384 + 5 + 16)}) {
        PairedLinks links;
        ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
        ASSERT_TRUE(sendText(*links.server, "genuine\n"));
        const std::string text = textOfLength(16384, "altered");
        ASSERT_TRUE(sendText(*links.server, text));
        // The genuine record passes; the full one behind it is changed in
        // one byte (its header, its body, its tag) and sent on.
        const size_t genuine = 5 + 8 + 17;
        std::vector<uint8_t> wire = intercept(links.clientSocketCopy.get(), genuine + 16384 + 22);
        ASSERT_FALSE(wire.empty());
        wire[genuine + flip] ^= 0x20;
        sendRaw(links.serverSocketCopy.get(), wire);

        std::vector<uint8_t> buffer(64 * 1024);
        ASSERT_TRUE(links.client->waitReady(false, 2000));
        ssize_t got = links.client->receiveSome(buffer.data(), buffer.size());
        ASSERT_EQ(got, 8) << "byte " << flip;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), 8), "genuine\n");
        errno = 0;
        got = links.client->receiveSome(buffer.data(), buffer.size());
        EXPECT_EQ(got, -1) << "byte " << flip;
        EXPECT_EQ(errno, EPROTO) << "byte " << flip;
        EXPECT_FALSE(links.client->alive());
        EXPECT_EQ(links.clientHost.abortFlag, 1);
    }
}

TEST(TlsRecordPeers, ARecordOverTheSizeLimitEndsTheLinkAtItsHeader) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    // The largest body allowed is 16384 + 256 bytes; only the header comes.
    const uint8_t header[] = {0x17, 0x03, 0x03, 0x41, 0x01};
    sendRaw(links.serverSocketCopy.get(), header);
    uint8_t buffer[64];
    ssize_t got = -1;
    for (int round = 0; round < 50 && got == -1 && links.client->alive(); ++round) {
        links.client->waitReady(false, 100);
        errno = 0;
        got = links.client->receiveSome(buffer, sizeof buffer);
        if (got == -1 && errno != EAGAIN)
            break;
    }
    EXPECT_EQ(got, -1);
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_FALSE(links.client->alive());
}

} // namespace
} // namespace zapfer
