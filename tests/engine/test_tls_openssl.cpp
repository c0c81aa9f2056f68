// The paired link against OpenSSL's own command line peers, s_server and
// s_client, given only the construction's options: proof that another
// program written against it interoperates.

#include "openssl_peers.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zapfer {
namespace {

using namespace tls_test;

TEST(TlsLink, ClientMovesBytesBothWaysWithOpensslServer) {
    OpensslServer server(kCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    ASSERT_TRUE(outcome.ok()) << outcome.detail << "\n" << server.peer.output;
    EXPECT_TRUE(link.alive());

    // Several records' worth, to the server's output.
    const std::string upstream = textOfLength(100'000, "zapfer");
    ASSERT_TRUE(sendText(link, upstream));
    EXPECT_TRUE(server.peer.waitFor(upstream));
    EXPECT_NE(server.peer.output.find("CIPHER is TLS_AES_128_GCM_SHA256"), std::string::npos);

    const std::string downstream = "s_server speaking to zapfer\n";
    server.peer.write(downstream);
    EXPECT_EQ(receiveText(link, downstream.size()), downstream);
    EXPECT_EQ(host.abortFlag, 0);
}

TEST(TlsLink, ClientWithAnotherCodeIsRefusedByOpensslServer) {
    OpensslServer server(kOtherCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    EXPECT_EQ(outcome.failure, TlsFailure::WrongCode) << outcome.detail;
    EXPECT_FALSE(link.alive());
    EXPECT_TRUE(server.peer.waitFor("binder does not verify")) << server.peer.output;
    uint8_t byte = 0;
    EXPECT_FALSE(link.sendAll(std::span<const uint8_t>(&byte, 1)));
    EXPECT_LT(link.receiveSome(&byte, 1), 0);
}

TEST(TlsLink, ServerMovesBytesBothWaysWithOpensslClientThroughAKeyUpdate) {
    Listener listener;
    OpensslClient client(kCode, listener.port());
    ASSERT_TRUE(client.peer.started());
    LinkHost host;
    TlsLink link(listener.accept(), TlsRole::Server, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    ASSERT_TRUE(outcome.ok()) << outcome.detail << "\n" << client.peer.output;

    const std::string upstream = "s_client speaking to zapfer\n";
    client.peer.write(upstream);
    EXPECT_EQ(receiveText(link, upstream.size()), upstream);
    const std::string downstream = textOfLength(100'000, "zapfer");
    ASSERT_TRUE(sendText(link, downstream));
    EXPECT_TRUE(client.peer.waitFor(downstream));

    // s_client's "K" asks this side to renew its keys as well: the answer is
    // written while reading, and both directions go on under the new keys.
    client.peer.write("K\n");
    ASSERT_TRUE(client.peer.waitFor("KEYUPDATE"));
    const std::string after = "still talking after the key update\n";
    client.peer.write(after);
    EXPECT_EQ(receiveText(link, after.size()), after);
    const size_t seen = client.peer.output.size();
    ASSERT_TRUE(sendText(link, "zapfer answers under new keys\n"));
    EXPECT_TRUE(client.peer.waitFor("zapfer answers under new keys", 10s, seen))
        << client.peer.output;
}

TEST(TlsLink, ServerRefusesOpensslClientWithAnotherCode) {
    Listener listener;
    OpensslClient client(kOtherCode, listener.port());
    ASSERT_TRUE(client.peer.started());
    LinkHost host;
    TlsLink link(listener.accept(), TlsRole::Server, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    EXPECT_EQ(outcome.failure, TlsFailure::WrongCode) << outcome.detail;
    EXPECT_FALSE(link.alive());
    EXPECT_TRUE(client.peer.waitFor("alert illegal parameter")) << client.peer.output;
}

// A TCP connection over 127.0.0.1: the dialling end and the accepted end.

TEST(TlsLink, ClientRefusesAServerThatShowsACertificateInsteadOfTheKey) {
    // A man in the middle without the code has only a certificate to offer.
    char folder[] = "/tmp/zapfer-certificate-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string key = std::string(folder) + "/key.pem";
    const std::string certificate = std::string(folder) + "/certificate.pem";
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                             "-nodes -subj /CN=zapfer-peer -days 1 -keyout " +
                             key + " -out " + certificate + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    OpensslServer server(
        {"-tls1_3", "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-cert", certificate, "-key", key});
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    EXPECT_EQ(outcome.failure, TlsFailure::Refused) << outcome.detail;
    EXPECT_FALSE(link.alive());
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace zapfer
