#pragma once
// Two ends of the paired link's record layer keyed from one pair of traffic
// secrets, as a client and a server are after a handshake, for trading
// records in memory.

#include "record_helper.h"
#include "tls_records.h"

#include <sys/uio.h>

#include <string>
#include <vector>

namespace zapfer::test {

inline uint8_t clientSecretByte(size_t i) {
    return uint8_t(i * 3 + 1);
}

// Each end shares its records with a helper thread when `helped`.
struct RecordEnds {
    explicit RecordEnds(bool helped = false) {
        for (TlsRecords* end : {&client, &server}) {
            for (size_t i = 0; i < kTrafficSecretSize; ++i) {
                end->secrets().client[i] = clientSecretByte(i);
                end->secrets().server[i] = uint8_t(i * 5 + 2);
            }
            end->secrets().haveClient = end->secrets().haveServer = true;
            if (helped)
                end->useHelper(&helper);
        }
        started = client.start(TlsRole::Client) && server.start(TlsRole::Server);
    }
    RecordHelper helper;
    TlsRecords client;
    TlsRecords server;
    bool started = false;
};

inline std::vector<uint8_t> sealText(TlsRecords& end, const std::string& text,
                                     RecordType type = RecordType::ApplicationData) {
    std::vector<uint8_t> wire(TlsRecords::sealedSize(text.size()));
    const iovec piece{const_cast<char*>(text.data()), text.size()};
    wire.resize(end.seal({&piece, 1}, text.size(), wire.data(), type));
    return wire;
}

} // namespace zapfer::test
