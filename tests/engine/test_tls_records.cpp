// The paired link's record layer on its own: two ends keyed from the same
// traffic secrets, as a client and a server are after a handshake, trading
// records in memory. What each end accepts decides what a peer, or a man
// in the middle, can make the link hand out.

#include "tls_record_ends.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace zapfer {
namespace {

using Opened = TlsRecords::Opened;

using test::sealText;
using Ends = test::RecordEnds;

// Opens every record of `wire` into a large buffer; the data, or the first
// failure's errno in `error` (0 for the close_notify).
std::string openAll(TlsRecords& end, const std::vector<uint8_t>& wire, int& error,
                    bool* ended = nullptr) {
    std::string text;
    std::vector<uint8_t> buffer(64 * 1024);
    size_t at = 0;
    error = 0;
    for (int record = 0; record < 1000 && at < wire.size(); ++record) {
        const auto opened = end.open(std::span(wire).subspan(at), buffer.data(), buffer.size());
        at += opened.consumed;
        if (opened.kind == Opened::Failed) {
            error = opened.error;
            break;
        }
        if (opened.kind == Opened::End && ended != nullptr)
            *ended = true;
        if (opened.kind == Opened::Incomplete)
            break;
        text.append(reinterpret_cast<const char*>(buffer.data()), opened.given);
    }
    return text;
}

TEST(TlsRecords, PiecesBecomeFullRecordsThatOpenInOrderAndTooSmallBuffersKeepTheRest) {
    Ends ends;
    ASSERT_TRUE(ends.started);
    std::string text(40'000, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char('a' + i % 23);
    // A short header piece, then data across record boundaries, an empty piece.
    std::vector<iovec> pieces = {{text.data(), 12},
                                 {nullptr, 0},
                                 {text.data() + 12, 30'000},
                                 {text.data() + 30'012, text.size() - 30'012}};
    std::vector<uint8_t> wire(TlsRecords::sealedSize(text.size()));
    ASSERT_EQ(ends.client.seal(pieces, text.size(), wire.data()), wire.size());
    ASSERT_EQ(wire.size(), text.size() + 3 * 22); // three records, two of them full
    EXPECT_EQ(wire[3] << 8 | wire[4], 16384 + 17);

    // The reader's buffer takes 1000 bytes at a time: the rest of a record
    // waits in the layer, and the next record is opened only after it.
    std::string got;
    uint8_t buffer[1000];
    size_t at = 0;
    for (int round = 0; round < 1000 && got.size() < text.size(); ++round) {
        size_t n = ends.server.takeLeftover(buffer, sizeof buffer);
        if (n == 0) {
            const auto opened =
                ends.server.open(std::span(wire).subspan(at), buffer, sizeof buffer);
            ASSERT_EQ(opened.kind, Opened::Data);
            at += opened.consumed;
            n = opened.given;
        }
        got.append(reinterpret_cast<const char*>(buffer), n);
    }
    EXPECT_EQ(at, wire.size());
    EXPECT_FALSE(ends.server.hasLeftover());
    EXPECT_TRUE(got == text);
}

TEST(TlsRecords, ARecordIsOpenedOnceInItsPlaceAndOnlyByThePeer) {
    Ends ends;
    ASSERT_TRUE(ends.started);
    const std::vector<uint8_t> first = sealText(ends.client, "first");
    const std::vector<uint8_t> second = sealText(ends.client, "second");
    int error = 0;
    // Out of order: the sequence numbers in the nonces do not match.
    EXPECT_EQ(openAll(ends.server, second, error), "");
    EXPECT_EQ(error, EPROTO);

    Ends fresh;
    EXPECT_EQ(openAll(fresh.server, first, error), "first");
    EXPECT_EQ(openAll(fresh.server, second, error), "second");
    // A replay of an earlier record.
    EXPECT_EQ(openAll(fresh.server, first, error), "");
    EXPECT_EQ(error, EPROTO);

    // A record reflected back to the end that sealed it.
    Ends reflected;
    EXPECT_EQ(openAll(reflected.client, sealText(reflected.client, "mine"), error), "");
    EXPECT_EQ(error, EPROTO);
}

TEST(TlsRecords, EveryAlteredByteOfARecordIsCaughtBeforeAnyOfItIsGiven) {
    const std::string text = "a record worth protecting";
    const size_t length = Ends().client.sealedSize(text.size());
    for (size_t flip = 0; flip < length; ++flip) {
        Ends ends;
        std::vector<uint8_t> wire = sealText(ends.client, text);
        wire[flip] ^= 0x01;
        std::vector<uint8_t> buffer(256, 0);
        const auto opened = ends.server.open(wire, buffer.data(), buffer.size());
        // A changed length leaves the record incomplete or too short; any
        // other change fails it.
        EXPECT_NE(opened.kind, Opened::Data) << "byte " << flip;
        EXPECT_EQ(opened.given, 0u) << "byte " << flip;
        EXPECT_FALSE(ends.server.hasLeftover());
    }
}

TEST(TlsRecords, OversizedShortAndUnsealedRecordsFailAtTheirHeader) {
    Ends ends;
    ASSERT_TRUE(ends.started);
    uint8_t buffer[64];
    // Over the limit: it fails as soon as its header is there.
    const uint8_t oversized[] = {0x17, 0x03, 0x03, 0x41, 0x01};
    EXPECT_TRUE(TlsRecords::wholeRecord(oversized));
    auto opened = ends.server.open(oversized, buffer, sizeof buffer);
    EXPECT_EQ(opened.kind, Opened::Failed);
    EXPECT_EQ(opened.error, EMSGSIZE);
    // At the limit it is waited for.
    const uint8_t atLimit[] = {0x17, 0x03, 0x03, 0x41, 0x00};
    EXPECT_FALSE(TlsRecords::wholeRecord(atLimit));
    EXPECT_EQ(ends.server.open(atLimit, buffer, sizeof buffer).kind, Opened::Incomplete);
    // Too short to hold a tag and a type.
    std::vector<uint8_t> tiny = {0x17, 0x03, 0x03, 0x00, 0x10};
    tiny.resize(5 + 0x10);
    EXPECT_EQ(ends.server.open(tiny, buffer, sizeof buffer).error, EPROTO);
    // A plaintext alert or handshake record after the handshake.
    for (const uint8_t type : {21, 22, 20}) {
        const uint8_t clear[] = {type, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28};
        EXPECT_EQ(ends.server.open(clear, buffer, sizeof buffer).error, EPROTO) << int(type);
    }
}

TEST(TlsRecords, KeyUpdatesTicketsAndAlertsAfterTheHandshake) {
    Ends ends;
    ASSERT_TRUE(ends.started);
    int error = 0;
    // The server renews its keys and asks the client to: data goes on both
    // ways under the new keys.
    std::vector<uint8_t> wire =
        sealText(ends.server, std::string("\x18\0\0\1\1", 5), RecordType::Handshake);
    EXPECT_EQ(openAll(ends.client, wire, error), "");
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(ends.client.owesKeyUpdate());
    std::vector<uint8_t> answer(TlsRecords::sealedSize(TlsRecords::kKeyUpdateSize));
    ASSERT_EQ(ends.client.sealKeyUpdate(answer.data()), answer.size());
    EXPECT_FALSE(ends.client.owesKeyUpdate());
    EXPECT_EQ(openAll(ends.server, answer, error), "");
    EXPECT_EQ(error, 0);
    EXPECT_EQ(openAll(ends.server, sealText(ends.client, "client, new key"), error),
              "client, new key");
    // The server's KeyUpdate was sealed by hand here, so its write key did
    // not move on: the client's read key did, and no longer opens it.
    EXPECT_EQ(openAll(ends.client, sealText(ends.server, "server, old key"), error), "");
    EXPECT_EQ(error, EPROTO);

    // A ticket is skipped by a client, refused by a server.
    Ends tickets;
    const std::string ticket("\x04\0\0\x02\xAA\xBB", 6);
    EXPECT_EQ(
        openAll(tickets.client, sealText(tickets.server, ticket, RecordType::Handshake), error),
        "");
    EXPECT_EQ(error, 0);
    EXPECT_EQ(openAll(tickets.client, sealText(tickets.server, "after the ticket"), error),
              "after the ticket");
    EXPECT_EQ(
        openAll(tickets.server, sealText(tickets.client, ticket, RecordType::Handshake), error),
        "");
    EXPECT_EQ(error, EPROTO);

    // A KeyUpdate must end its record; other messages are refused.
    for (const std::string& messages :
         {std::string("\x18\0\0\1\0\x04\0\0\0", 9), std::string("\x18\0\0\1\2", 5),
          std::string("\x0d\0\0\0", 4), std::string("\x18\0\0", 3)}) {
        Ends other;
        EXPECT_EQ(
            openAll(other.client, sealText(other.server, messages, RecordType::Handshake), error),
            "");
        EXPECT_EQ(error, EPROTO);
    }

    // close_notify is the end; another alert fails the link.
    Ends alerts;
    bool ended = false;
    EXPECT_EQ(openAll(alerts.client,
                      sealText(alerts.server, std::string("\1\0", 2), RecordType::Alert), error,
                      &ended),
              "");
    EXPECT_TRUE(ended);
    EXPECT_EQ(error, 0);
    Ends fatal;
    EXPECT_EQ(openAll(fatal.client, sealText(fatal.server, "\x02\x28", RecordType::Alert), error),
              "");
    EXPECT_EQ(error, ECONNRESET);
}

TEST(TlsRecords, NoKeysWithoutBothSecretsAndTheSecretsAreWipedOnStart) {
    TlsRecords records;
    records.secrets().client.fill(7);
    records.secrets().haveClient = true;
    EXPECT_FALSE(records.start(TlsRole::Client));
    EXPECT_FALSE(records.started());
    Ends ends;
    ASSERT_TRUE(ends.started);
    EXPECT_TRUE(ends.client.started());
    const std::array<uint8_t, kTrafficSecretSize> zero{};
    EXPECT_EQ(ends.client.secrets().client, zero);
    EXPECT_EQ(ends.client.secrets().server, zero);
}

} // namespace
} // namespace zapfer
