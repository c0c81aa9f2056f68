#pragma once

// The paired link's TLS 1.3 records after the handshake (RFC 8446 5.2),
// moved by Zapfer itself: OpenSSL's own record layer would copy every byte
// once more each way (into its buffers and out of them). Outgoing pieces are
// sealed straight into the socket's output; a record that has arrived is
// opened straight into the reader's buffer when it fits, and no byte of it
// is handed out before its tag verified.
//
// After the handshake the peer may also send NewSessionTicket (skipped),
// KeyUpdate (honoured, answered when asked) and close_notify (the end of the
// stream). Anything else ends the link.
//
// With a helper thread, a batch of full records (a window of blocks, or a
// large span read from the socket) is sealed or opened in two halves at
// once; the bytes on the wire are the same either way.

#include "record_helper.h"
#include "tls_pairing.h"
#include "tls_traffic_key.h"

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zapfer {

inline constexpr size_t kRecordHeaderSize = 5;
inline constexpr size_t kMaxRecordPlain = 16384;
// The largest record body a peer may send (RFC 8446 5.2).
inline constexpr size_t kMaxRecordBody = kMaxRecordPlain + 256;
// What sealing adds to the data of a record: header, inner type, tag.
inline constexpr size_t kRecordOverhead = kRecordHeaderSize + 1 + kRecordTagSize;

enum class RecordType : uint8_t {
    Alert = 21,
    Handshake = 22,
    ApplicationData = 23,
};

class TlsRecords {
public:
    TlsRecords();
    // Batches are shared with `helper` from here on (null: none), which
    // must outlive this.
    void useHelper(RecordHelper* helper) { m_helper = helper; }

    // Where the handshake leaves the traffic secrets.
    TrafficSecrets& secrets() { return m_secrets; }
    // Takes over from OpenSSL once its handshake completed; the secrets are
    // wiped whatever the outcome.
    bool start(TlsRole role);
    bool started() const { return m_write.ready(); }

    // The bytes `plain` bytes take on the wire, in full records.
    static size_t sealedSize(size_t plain);
    // Seals the first `n` bytes of `pieces` as records of `type` into `out`,
    // which has room for sealedSize(n); the bytes written, 0 on failure.
    size_t seal(std::span<const iovec> pieces, size_t n, uint8_t* out,
                RecordType type = RecordType::ApplicationData);

    enum class Opened {
        Incomplete, // the input does not hold a whole record yet
        Data,       // `given` bytes of data went to the reader
        Control,    // a record for the link alone, dealt with
        End,        // the peer's close_notify
        Failed,     // the link cannot go on: `error` says why
    };
    struct OpenResult {
        Opened kind = Opened::Incomplete;
        size_t consumed = 0; // input bytes used up
        size_t given = 0;
        int error = 0;
    };
    // Opens the record at the start of `input`, its data to `dest` (room
    // for `room` > 0 bytes); what does not fit is kept for takeLeftover.
    OpenResult open(std::span<const uint8_t> input, uint8_t* dest, size_t room);
    // Opens the whole records at the start of `input` that carry data and
    // fit `room` together, half of them on the helper thread, and stops
    // before any other record (a control record, padding, a bad tag: open()
    // deals with those one at a time). Nothing when there are too few to
    // share or no helper.
    struct Batch {
        size_t consumed = 0;
        size_t given = 0;
    };
    Batch openBatch(std::span<const uint8_t> input, uint8_t* dest, size_t room);
    // Whether `input` starts with a whole record.
    static bool wholeRecord(std::span<const uint8_t> input);
    // Data of an opened record that did not fit the reader's buffer.
    size_t takeLeftover(uint8_t* dest, size_t room);
    bool hasLeftover() const { return m_leftStart < m_leftEnd; }

    // The peer asked for new keys both ways: ours go with the next record.
    bool owesKeyUpdate() const { return m_owesKeyUpdate; }
    // Seals our KeyUpdate into `out` (room for sealedSize(kKeyUpdateSize))
    // and moves to the new write key; the bytes written, 0 on failure.
    size_t sealKeyUpdate(uint8_t* out);
    static constexpr size_t kKeyUpdateSize = 5;

private:
    // The handshake messages of a record after the handshake.
    bool takeHandshakeMessages(const uint8_t* bytes, size_t n);

    TrafficSecrets m_secrets;
    TlsRole m_role = TlsRole::Client;
    TrafficKey m_write{true};
    TrafficKey m_read{false};
    bool m_owesKeyUpdate = false;
    std::unique_ptr<uint8_t[]> m_left;
    size_t m_leftStart = 0;
    size_t m_leftEnd = 0;
    RecordHelper* m_helper = nullptr;
    // Reads to open one record at a time before the next batch.
    size_t m_alone = 0;
};

} // namespace zapfer
