// Sealing, and opening in batches: the records of one call are independent
// of each other (each has its own sequence number in its nonce), so a batch
// is shared with the helper thread, half each, when there is one.

#include "tls_records.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zapfer {

namespace {
constexpr size_t kContentType = 1;
// Fewer records are done by one thread: waking the helper would cost about
// what it saves.
constexpr size_t kSharedRecords = 4;
// Opened at once at most: more than any reader's buffer holds.
constexpr size_t kMaxBatchRecords = 64;

// Where the next byte of a run of pieces is.
struct PieceCursor {
    std::span<const iovec> pieces;
    size_t piece = 0;
    size_t offset = 0; // into pieces[piece]

    // The next at most `n` bytes that lie together; empty once the pieces
    // ran out.
    std::span<const uint8_t> take(size_t n) {
        while (piece < pieces.size() && offset == pieces[piece].iov_len) {
            ++piece;
            offset = 0;
        }
        if (piece == pieces.size())
            return {};
        const size_t part = std::min(n, pieces[piece].iov_len - offset);
        const auto* bytes = static_cast<const uint8_t*>(pieces[piece].iov_base) + offset;
        offset += part;
        return {bytes, part};
    }
    bool skip(size_t n) {
        for (size_t left = n; left > 0;) {
            const size_t part = take(left).size();
            if (part == 0)
                return false;
            left -= part;
        }
        return true;
    }
};

void writeHeader(uint8_t* out, size_t bodyLength) {
    out[0] = uint8_t(RecordType::ApplicationData); // the outer type of every sealed record
    out[1] = 0x03;
    out[2] = 0x03;
    out[3] = uint8_t(bodyLength >> 8);
    out[4] = uint8_t(bodyLength & 0xFF);
}

// Seals the next `n` <= kMaxRecordPlain bytes at `from` as the record
// numbered `sequence`, with `cipher`, into `out`; false on failure.
bool sealRecord(const TrafficKey& key, EVP_CIPHER_CTX* cipher, uint64_t sequence, PieceCursor from,
                size_t n, uint8_t* out, uint8_t innerType) {
    writeHeader(out, n + kContentType + kRecordTagSize);
    int length = 0;
    if (!key.beginRecordAt(cipher, sequence) ||
        EVP_EncryptUpdate(cipher, nullptr, &length, out, int(kRecordHeaderSize)) != 1)
        return false;
    uint8_t* sealed = out + kRecordHeaderSize;
    for (size_t left = n; left > 0;) {
        const std::span<const uint8_t> part = from.take(left);
        if (part.empty())
            return false; // fewer bytes than promised
        if (EVP_EncryptUpdate(cipher, sealed, &length, part.data(), int(part.size())) != 1)
            return false;
        sealed += length;
        left -= part.size();
    }
    if (EVP_EncryptUpdate(cipher, sealed, &length, &innerType, kContentType) != 1)
        return false;
    sealed += length;
    if (EVP_EncryptFinal_ex(cipher, sealed, &length) != 1)
        return false;
    sealed += length;
    return EVP_CIPHER_CTX_ctrl(cipher, EVP_CTRL_GCM_GET_TAG, int(kRecordTagSize), sealed) == 1;
}

// Opens the record of `body` bytes after its header at `record` with
// `cipher`: its data (all but the last byte) goes to `dest`. The last byte,
// the inner type when there is no padding; 0 when the tag did not verify.
uint8_t openRecord(const TrafficKey& key, EVP_CIPHER_CTX* cipher, uint64_t sequence,
                   const uint8_t* record, size_t body, uint8_t* dest) {
    const size_t sealedLength = body - kRecordTagSize;
    const uint8_t* sealed = record + kRecordHeaderSize;
    uint8_t tag[kRecordTagSize];
    std::memcpy(tag, sealed + sealedLength, sizeof tag);
    uint8_t last = 0;
    uint8_t none[16];
    int length = 0;
    const bool opened =
        key.beginRecordAt(cipher, sequence) &&
        EVP_DecryptUpdate(cipher, nullptr, &length, record, int(kRecordHeaderSize)) == 1 &&
        EVP_DecryptUpdate(cipher, dest, &length, sealed, int(sealedLength - 1)) == 1 &&
        EVP_DecryptUpdate(cipher, &last, &length, sealed + sealedLength - 1, 1) == 1 &&
        EVP_CIPHER_CTX_ctrl(cipher, EVP_CTRL_GCM_SET_TAG, int(sizeof tag), tag) == 1 &&
        EVP_DecryptFinal_ex(cipher, none, &length) == 1;
    return opened ? last : 0;
}

struct Sealed {
    size_t at = 0;   // the record's start in the input
    size_t body = 0; // its length after the header
    size_t to = 0;   // where its data goes in the reader's buffer
};
} // namespace

size_t TlsRecords::seal(std::span<const iovec> pieces, size_t n, uint8_t* out, RecordType type) {
    const size_t records = (n + kMaxRecordPlain - 1) / kMaxRecordPlain;
    if (!m_write.canTake(records))
        return 0;
    const uint64_t first = m_write.sequence();
    PieceCursor from{pieces};
    if (records < kSharedRecords || records > kMaxBatchRecords || m_helper == nullptr) {
        for (size_t i = 0; i < records; ++i) {
            const size_t take = std::min(n - i * kMaxRecordPlain, kMaxRecordPlain);
            if (!sealRecord(m_write, m_write.cipher(), first + i, from, take,
                            out + i * (kMaxRecordPlain + kRecordOverhead), uint8_t(type)) ||
                !from.skip(take))
                return 0;
        }
    } else {
        // Where each record's bytes start, found once.
        std::array<PieceCursor, kMaxBatchRecords> starts;
        for (size_t i = 0; i < records; ++i) {
            starts[i] = from;
            if (!from.skip(std::min(n - i * kMaxRecordPlain, kMaxRecordPlain)))
                return 0;
        }
        std::array<bool, kMaxBatchRecords> sealed{};
        // The helper thread has a cipher of its own.
        auto job = [&](size_t i, bool onHelper) {
            EVP_CIPHER_CTX* cipher = onHelper ? m_write.twin() : m_write.cipher();
            sealed[i] = sealRecord(m_write, cipher, first + i, starts[i],
                                   std::min(n - i * kMaxRecordPlain, kMaxRecordPlain),
                                   out + i * (kMaxRecordPlain + kRecordOverhead), uint8_t(type));
        };
        m_helper->share(records, job);
        if (!std::all_of(sealed.begin(), sealed.begin() + records, [](bool ok) { return ok; }))
            return 0;
    }
    m_write.advance(records);
    return sealedSize(n);
}

TlsRecords::Batch TlsRecords::openBatch(std::span<const uint8_t> input, uint8_t* dest,
                                        size_t room) {
    if (m_helper == nullptr)
        return {};
    if (m_alone > 0) {
        --m_alone; // the caller opens a record on its own instead
        return {};
    }
    std::array<Sealed, kMaxBatchRecords> records;
    size_t count = 0;
    for (size_t at = 0, to = 0;
         count < kMaxBatchRecords && input.size() - at >= kRecordHeaderSize;) {
        const uint8_t* header = input.data() + at;
        const size_t body = size_t(header[3]) << 8 | header[4];
        if (header[0] != uint8_t(RecordType::ApplicationData) || header[1] != 0x03 ||
            header[2] != 0x03 || body > kMaxRecordBody || body <= kContentType + kRecordTagSize)
            break; // open() says what is wrong with it
        const size_t data = body - kContentType - kRecordTagSize;
        if (input.size() - at - kRecordHeaderSize < body || room - to < data)
            break;
        records[count++] = {at, body, to};
        at += kRecordHeaderSize + body;
        to += data;
    }
    if (count < kSharedRecords || !m_read.canTake(count))
        return {};
    const uint64_t first = m_read.sequence();
    // Each record's last byte: its inner type when it carries data alone.
    std::array<uint8_t, kMaxBatchRecords> last{};
    auto job = [&](size_t i, bool onHelper) {
        EVP_CIPHER_CTX* cipher = onHelper ? m_read.twin() : m_read.cipher();
        last[i] = openRecord(m_read, cipher, first + i, input.data() + records[i].at,
                             records[i].body, dest + records[i].to);
    };
    m_helper->share(count, job);
    // The records after one that is not plain data may be under another key
    // (a KeyUpdate) or not genuine: they are left to be opened again.
    Batch batch;
    size_t taken = 0;
    for (; taken < count && last[taken] == uint8_t(RecordType::ApplicationData); ++taken) {
        batch.consumed += kRecordHeaderSize + records[taken].body;
        batch.given += records[taken].body - kContentType - kRecordTagSize;
    }
    m_read.advance(taken);
    // The records opened in vain are opened again one at a time, and a few
    // after them too: a peer that pads or interleaves control records does
    // not make every record cost a batch.
    if (taken < count)
        m_alone = kMaxBatchRecords;
    return batch;
}

} // namespace zapfer
