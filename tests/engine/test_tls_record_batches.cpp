// Batches of records sealed and opened on two threads: the bytes on the
// wire are those one thread makes, the data comes out in order, and every
// record that is not plain data (a KeyUpdate, padding, a forged record, the
// close) stops the batch, to be dealt with on its own as before.

#include "tls_record_ends.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace zapfer {
namespace {

using Opened = TlsRecords::Opened;

using test::clientSecretByte;
using test::sealText;
using Ends = test::RecordEnds;

std::string sample(size_t n, int seed) {
    std::string text(n, '\0');
    for (size_t i = 0; i < n; ++i)
        text[i] = char('a' + (i * 7 + size_t(seed)) % 26);
    return text;
}

void append(std::vector<uint8_t>& wire, const std::vector<uint8_t>& more) {
    wire.insert(wire.end(), more.begin(), more.end());
}

struct Opening {
    std::string text;
    size_t batched = 0; // bytes given by batches
    int error = 0;
    bool ended = false;
};

// Opens `wire` as the link does: a batch where one can be had, else one
// record; the reader's buffer has room for `room` bytes each time.
Opening openAsTheLinkDoes(TlsRecords& end, const std::vector<uint8_t>& wire,
                          size_t room = 256 * 1024) {
    Opening result;
    std::vector<uint8_t> buffer(room);
    size_t at = 0;
    for (int round = 0; round < 10'000 && at < wire.size(); ++round) {
        const std::span<const uint8_t> input = std::span(wire).subspan(at);
        const TlsRecords::Batch batch = end.openBatch(input, buffer.data(), room);
        if (batch.consumed > 0) {
            at += batch.consumed;
            result.batched += batch.given;
            result.text.append(reinterpret_cast<const char*>(buffer.data()), batch.given);
            continue;
        }
        const auto opened = end.open(input, buffer.data(), room);
        at += opened.consumed;
        if (opened.kind == Opened::Failed) {
            result.error = opened.error;
            break;
        }
        if (opened.kind == Opened::Incomplete)
            break;
        result.ended = result.ended || opened.kind == Opened::End;
        result.text.append(reinterpret_cast<const char*>(buffer.data()), opened.given);
    }
    return result;
}

// A record sealed by hand under the client's first key: `inner` (the data,
// its type and any padding) as the record numbered `sequence`.
std::vector<uint8_t> handSealed(uint64_t sequence, const std::vector<uint8_t>& inner) {
    uint8_t secret[kTrafficSecretSize];
    for (size_t i = 0; i < sizeof secret; ++i)
        secret[i] = clientSecretByte(i);
    uint8_t key[kRecordKeySize];
    uint8_t iv[kRecordIvSize];
    EXPECT_TRUE(hkdfExpandLabel(secret, "key", key));
    EXPECT_TRUE(hkdfExpandLabel(secret, "iv", iv));
    for (size_t i = 0; i < 8; ++i)
        iv[kRecordIvSize - 1 - i] ^= uint8_t(sequence >> (8 * i));
    const size_t body = inner.size() + kRecordTagSize;
    std::vector<uint8_t> record = {0x17, 0x03, 0x03, uint8_t(body >> 8), uint8_t(body & 0xFF)};
    record.resize(kRecordHeaderSize + body);
    EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
    int length = 0;
    const bool sealed =
        EVP_EncryptInit_ex2(cipher, EVP_aes_128_gcm(), key, iv, nullptr) == 1 &&
        EVP_EncryptUpdate(cipher, nullptr, &length, record.data(), int(kRecordHeaderSize)) == 1 &&
        EVP_EncryptUpdate(cipher, record.data() + kRecordHeaderSize, &length, inner.data(),
                          int(inner.size())) == 1 &&
        EVP_EncryptFinal_ex(cipher, record.data() + kRecordHeaderSize + inner.size(), &length) ==
            1 &&
        EVP_CIPHER_CTX_ctrl(cipher, EVP_CTRL_GCM_GET_TAG, int(kRecordTagSize),
                            record.data() + kRecordHeaderSize + inner.size()) == 1;
    EVP_CIPHER_CTX_free(cipher);
    EXPECT_TRUE(sealed);
    return record;
}

TEST(TlsRecordBatches, TwoThreadsSealByteForByteWhatOneThreadSeals) {
    Ends alone(false);
    Ends helped(true);
    ASSERT_TRUE(alone.started && helped.started);
    // Blocks as the sender has them: a short header piece, then the data.
    const std::string data = sample(40 * 32768, 1);
    const uint8_t header[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<iovec> pieces;
    size_t n = 0;
    for (size_t at = 0; at < data.size(); at += 32768) {
        pieces.push_back({const_cast<uint8_t*>(header), sizeof header});
        pieces.push_back({const_cast<char*>(data.data()) + at, 32768});
        n += sizeof header + 32768;
    }
    std::string sent;
    for (const iovec& piece : pieces)
        sent.append(static_cast<const char*>(piece.iov_base), piece.iov_len);
    // Batches of many sizes, one after another, so that the sequence numbers
    // run on: more records than are shared, a single record, exactly 4 and
    // 64, a partial record last.
    std::vector<uint8_t> all;
    for (const size_t take : {n, size_t(100), size_t(4 * 16384), size_t(64 * 16384), n - 5}) {
        std::vector<uint8_t> one(TlsRecords::sealedSize(take));
        std::vector<uint8_t> two(one.size());
        ASSERT_EQ(alone.client.seal(pieces, take, one.data()), one.size());
        ASSERT_EQ(helped.client.seal(pieces, take, two.data()), two.size());
        EXPECT_TRUE(one == two) << "a batch of " << take << " bytes";
        append(all, two);
    }
    // The peer (without a helper) opens them all, in order.
    const Opening opened = openAsTheLinkDoes(alone.server, all);
    EXPECT_EQ(opened.error, 0);
    EXPECT_EQ(opened.text.size(), n + 100 + 4 * 16384 + 64 * 16384 + n - 5);
    EXPECT_TRUE(opened.text.substr(0, n) == sent);
    if (RecordHelper::worthwhile()) {
        // The helper thread takes records when it is awake in time: asked
        // often enough, it is at least once.
        for (int round = 0; round < 500 && helped.helper.helped() == 0; ++round) {
            std::vector<uint8_t> more(TlsRecords::sealedSize(64 * 16384));
            ASSERT_EQ(helped.client.seal(pieces, 64 * 16384, more.data()), more.size());
        }
        EXPECT_GT(helped.helper.helped(), 0u);
    }
}

TEST(TlsRecordBatches, ABatchOpensInOrderAndOnlyWhatFitsTheReader) {
    Ends ends(true);
    ASSERT_TRUE(ends.started);
    const std::string text = sample(1'000'000, 2);
    const std::vector<uint8_t> wire = sealText(ends.client, text);
    // 100 000 bytes of room: six full records per batch, the rest one at a
    // time through the layer's own buffer.
    const Opening opened = openAsTheLinkDoes(ends.server, wire, 100'000);
    EXPECT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.text == text);
    EXPECT_GT(opened.batched, text.size() / 2);
    // A reader with little room gets no batch at all.
    Ends small(true);
    ASSERT_TRUE(small.started);
    const std::vector<uint8_t> again = sealText(small.client, text.substr(0, 200'000));
    const auto batch =
        small.server.openBatch(again, std::vector<uint8_t>(3 * 16384).data(), 3 * 16384);
    EXPECT_EQ(batch.consumed, 0u);
    EXPECT_EQ(openAsTheLinkDoes(small.server, again, 3 * 16384).text, text.substr(0, 200'000));
}

TEST(TlsRecordBatches, AKeyUpdateInsideABatchIsHonouredAndTheRecordsAfterItOpen) {
    Ends ends(true);
    ASSERT_TRUE(ends.started);
    const std::string before = sample(5 * 16384, 3);
    const std::string after = sample(6 * 16384 + 10, 4);
    std::vector<uint8_t> wire = sealText(ends.client, before);
    std::vector<uint8_t> update(TlsRecords::sealedSize(TlsRecords::kKeyUpdateSize));
    ASSERT_EQ(ends.client.sealKeyUpdate(update.data()), update.size());
    append(wire, update);
    append(wire, sealText(ends.client, after));
    const Opening opened = openAsTheLinkDoes(ends.server, wire);
    EXPECT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.text == before + after);
    EXPECT_FALSE(ends.server.owesKeyUpdate());
}

TEST(TlsRecordBatches, APaddedRecordInsideABatchIsOpenedOnItsOwn) {
    Ends ends(true);
    ASSERT_TRUE(ends.started);
    std::string expected;
    std::vector<uint8_t> wire;
    for (uint64_t sequence = 0; sequence < 10; ++sequence) {
        const std::string data = sample(sequence == 3 ? 500 : 16384, int(sequence));
        expected += data;
        std::vector<uint8_t> inner(data.begin(), data.end());
        inner.push_back(uint8_t(RecordType::ApplicationData));
        if (sequence == 3 || sequence == 7)
            inner.resize(inner.size() + 40, 0); // padding after the type
        append(wire, handSealed(sequence, inner));
    }
    const Opening opened = openAsTheLinkDoes(ends.server, wire);
    EXPECT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.text == expected);
    EXPECT_GT(opened.batched, 0u);
}

TEST(TlsRecordBatches, AForgedRecordStopsTheBatchAndNothingOfItOrAfterItIsGiven) {
    for (const size_t forged : {size_t(0), size_t(3), size_t(7), size_t(11)}) {
        Ends ends(true);
        ASSERT_TRUE(ends.started);
        const std::string text = sample(12 * 16384, 5);
        std::vector<uint8_t> wire = sealText(ends.client, text);
        wire[forged * (16384 + 22) + 100] ^= 0x40;
        const Opening opened = openAsTheLinkDoes(ends.server, wire);
        EXPECT_EQ(opened.error, EPROTO) << "record " << forged;
        EXPECT_TRUE(opened.text == text.substr(0, forged * 16384)) << "record " << forged;
    }
}

TEST(TlsRecordBatches, TheCloseNotifyAfterABatchEndsTheStreamAfterItsData) {
    Ends ends(true);
    ASSERT_TRUE(ends.started);
    const std::string text = sample(6 * 16384 + 77, 6);
    std::vector<uint8_t> wire = sealText(ends.client, text);
    append(wire, sealText(ends.client, std::string("\x01\x00", 2), RecordType::Alert));
    const Opening opened = openAsTheLinkDoes(ends.server, wire);
    EXPECT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.ended);
    EXPECT_TRUE(opened.text == text);
}

TEST(RecordHelper, EveryRecordIsDoneOnceWhicheverThreadTakesIt) {
    RecordHelper helper;
    std::vector<int> done(200, 0);
    size_t onHelper = 0;
    size_t total = 0;
    for (int round = 0; round < 300; ++round) {
        const size_t count = size_t(round % 200);
        std::vector<int> seen(count, 0);
        std::vector<uint8_t> byHelper(count, 0);
        auto job = [&](size_t i, bool helperThread) {
            ++seen[i];
            byHelper[i] = helperThread ? 1 : 0;
        };
        helper.share(count, job);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(seen[i], 1) << "round " << round << ", record " << i;
            onHelper += byHelper[i];
        }
        total += count;
    }
    EXPECT_EQ(helper.helped(), onHelper);
    EXPECT_LE(onHelper, total);
    if (!RecordHelper::worthwhile()) {
        EXPECT_EQ(onHelper, 0u);
    }
}

TEST(RecordHelper, AHelperNeverUsedOrLeftIdleEndsWithItsOwner) {
    { RecordHelper unused; }
    RecordHelper idle;
    int runs = 0;
    auto job = [&](size_t, bool) { ++runs; };
    idle.share(0, job);
    idle.share(1, job);
    EXPECT_EQ(runs, 1);
}

} // namespace
} // namespace zapfer
