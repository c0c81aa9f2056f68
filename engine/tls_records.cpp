#include "tls_records.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zapfer {

namespace {
constexpr uint8_t kContentType = 1; // the inner type byte after the data
// The decrypted body of the largest record, inner type and padding included.
constexpr size_t kMaxInnerPlain = kMaxRecordBody - kRecordTagSize;

constexpr uint8_t kNewSessionTicket = 4;
constexpr uint8_t kKeyUpdate = 24;
constexpr uint8_t kCloseNotify = 0;

TlsRecords::OpenResult failed(int error, size_t consumed = 0) {
    TlsRecords::OpenResult result;
    result.kind = TlsRecords::Opened::Failed;
    result.error = error;
    result.consumed = consumed;
    return result;
}
} // namespace

TlsRecords::TlsRecords() : m_left(std::make_unique_for_overwrite<uint8_t[]>(kMaxInnerPlain)) {}

bool TlsRecords::start(TlsRole role) {
    m_role = role;
    const bool client = role == TlsRole::Client;
    const bool keyed = m_secrets.haveClient && m_secrets.haveServer &&
                       m_write.set(client ? m_secrets.client : m_secrets.server) &&
                       m_read.set(client ? m_secrets.server : m_secrets.client);
    m_secrets.wipe();
    return keyed;
}

size_t TlsRecords::sealedSize(size_t plain) {
    const size_t records = (plain + kMaxRecordPlain - 1) / kMaxRecordPlain;
    return plain + records * kRecordOverhead;
}

bool TlsRecords::wholeRecord(std::span<const uint8_t> input) {
    if (input.size() < kRecordHeaderSize)
        return false;
    const size_t body = size_t(input[3]) << 8 | input[4];
    // An oversized record is "whole" as soon as its header is: reading it
    // fails at once.
    return body > kMaxRecordBody || input.size() >= kRecordHeaderSize + body;
}

TlsRecords::OpenResult TlsRecords::open(std::span<const uint8_t> input, uint8_t* dest,
                                        size_t room) {
    if (input.size() < kRecordHeaderSize)
        return {};
    const size_t body = size_t(input[3]) << 8 | input[4];
    // After the handshake every record is sealed and says so on the outside.
    if (input[0] != uint8_t(RecordType::ApplicationData) || input[1] != 0x03 || input[2] != 0x03)
        return failed(EPROTO);
    if (body > kMaxRecordBody)
        return failed(EMSGSIZE); // record_overflow
    if (body < kContentType + kRecordTagSize)
        return failed(EPROTO);
    if (input.size() < kRecordHeaderSize + body)
        return {};
    const size_t sealedLength = body - kRecordTagSize;
    // A record that fits goes straight to the reader. Its bytes there count
    // only once the tag verified.
    uint8_t* plain = sealedLength <= room ? dest : m_left.get();
    EVP_CIPHER_CTX* cipher = m_read.cipher();
    const uint8_t* sealed = input.data() + kRecordHeaderSize;
    int length = 0;
    uint8_t tag[kRecordTagSize];
    std::memcpy(tag, sealed + sealedLength, sizeof tag);
    if (!m_read.beginRecord() ||
        EVP_DecryptUpdate(cipher, nullptr, &length, input.data(), int(kRecordHeaderSize)) != 1 ||
        EVP_DecryptUpdate(cipher, plain, &length, sealed, int(sealedLength)) != 1 ||
        EVP_CIPHER_CTX_ctrl(cipher, EVP_CTRL_GCM_SET_TAG, int(sizeof tag), tag) != 1 ||
        EVP_DecryptFinal_ex(cipher, plain + length, &length) != 1)
        return failed(EPROTO); // bad_record_mac: forged, or cut out of another stream
    // The inner type is the last byte that is not padding.
    size_t end = sealedLength;
    while (end > 0 && plain[end - 1] == 0)
        --end;
    if (end == 0)
        return failed(EPROTO);
    const uint8_t innerType = plain[end - 1];
    const size_t plainLength = end - 1;
    if (plainLength > kMaxRecordPlain)
        return failed(EMSGSIZE);

    OpenResult result;
    result.consumed = kRecordHeaderSize + body;
    switch (RecordType(innerType)) {
    case RecordType::ApplicationData:
        result.kind = plainLength > 0 ? Opened::Data : Opened::Control;
        if (plain == dest) {
            result.given = plainLength;
        } else {
            result.given = std::min(room, plainLength);
            std::memcpy(dest, plain, result.given);
            m_leftStart = result.given;
            m_leftEnd = plainLength;
        }
        return result;
    case RecordType::Handshake:
        if (!takeHandshakeMessages(plain, plainLength))
            return failed(EPROTO, result.consumed);
        result.kind = Opened::Control;
        return result;
    case RecordType::Alert:
        // close_notify ends the stream; every other alert ends the link.
        if (plainLength == 2 && plain[1] == kCloseNotify) {
            result.kind = Opened::End;
            return result;
        }
        return failed(ECONNRESET, result.consumed);
    }
    return failed(EPROTO, result.consumed);
}

bool TlsRecords::takeHandshakeMessages(const uint8_t* bytes, size_t n) {
    // A message split across records is not expected from any peer here:
    // both kinds are a few bytes long.
    for (size_t at = 0; at < n;) {
        if (n - at < 4)
            return false;
        const uint8_t type = bytes[at];
        const size_t length =
            size_t(bytes[at + 1]) << 16 | size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (n - at - 4 < length)
            return false;
        const uint8_t* message = bytes + at + 4;
        at += 4 + length;
        if (type == kNewSessionTicket && m_role == TlsRole::Client)
            continue; // no resumption here: the ticket is of no use
        // A KeyUpdate changes the keys at the end of its record, so it must
        // be the record's last message.
        if (type != kKeyUpdate || length != 1 || message[0] > 1 || at != n)
            return false;
        if (!m_read.update())
            return false;
        if (message[0] == 1)
            m_owesKeyUpdate = true;
    }
    return true;
}

size_t TlsRecords::takeLeftover(uint8_t* dest, size_t room) {
    const size_t take = std::min(room, m_leftEnd - m_leftStart);
    if (take > 0)
        std::memcpy(dest, m_left.get() + m_leftStart, take);
    m_leftStart += take;
    if (m_leftStart == m_leftEnd)
        m_leftStart = m_leftEnd = 0;
    return take;
}

size_t TlsRecords::sealKeyUpdate(uint8_t* out) {
    // KeyUpdate, update_not_requested: the peer asked, or it is our answer.
    const uint8_t message[kKeyUpdateSize] = {kKeyUpdate, 0, 0, 1, 0};
    const iovec piece{const_cast<uint8_t*>(message), sizeof message};
    const size_t made = seal({&piece, 1}, sizeof message, out, RecordType::Handshake);
    if (made == 0 || !m_write.update())
        return 0;
    m_owesKeyUpdate = false;
    return made;
}

} // namespace zapfer
