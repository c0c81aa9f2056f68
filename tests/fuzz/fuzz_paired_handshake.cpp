// The server side of the paired link fed a client's bytes it cannot trust,
// through memory BIOs. Two ways in, chosen by the first byte:
//  - even: the bytes are all the client says, cut into pieces: a handshake
//    must never complete, since only the key's holder can make a binder
//    that verifies;
//  - odd: a real client with the key completes the handshake first, then
//    the bytes arrive as records: none may ever yield plaintext, since a
//    record that is not sealed with the session's keys cannot be opened.

#include "fuzz_check.h"
#include "tls_pairing.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using namespace zapfer;

const PairingKey& fixedKey() {
    static const PairingKey key = [] {
        PairingKey made;
        for (size_t i = 0; i < made.bytes.size(); ++i)
            made.bytes[i] = uint8_t(0x5A ^ (i * 7));
        return made;
    }();
    return key;
}

struct Side {
    SslContextPtr context;
    SslPtr ssl;
    BIO* in = nullptr;  // owned by ssl
    BIO* out = nullptr; // owned by ssl
};

Side makeSide(TlsRole role) {
    Side side;
    side.context = newPairedContext(role);
    FUZZ_CHECK(side.context != nullptr);
    side.ssl = newPairedSsl(side.context.get(), role, fixedKey());
    FUZZ_CHECK(side.ssl != nullptr);
    side.in = BIO_new(BIO_s_mem());
    side.out = BIO_new(BIO_s_mem());
    FUZZ_CHECK(side.in != nullptr && side.out != nullptr);
    // An empty input is "more to come", not the end of the stream.
    BIO_set_mem_eof_return(side.in, -1);
    SSL_set_bio(side.ssl.get(), side.in, side.out);
    return side;
}

// Moves what `from` wrote to `to`'s input; the bytes moved.
size_t carry(Side& from, Side& to) {
    char buffer[16384];
    size_t moved = 0;
    for (int i = 0; i < 64; ++i) {
        const int n = BIO_read(from.out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        BIO_write(to.in, buffer, n);
        moved += size_t(n);
    }
    return moved;
}

void discardOutput(Side& side) {
    char buffer[16384];
    for (int i = 0; i < 64 && BIO_read(side.out, buffer, sizeof buffer) > 0; ++i) {
    }
}

void handshakeFromBytes(const uint8_t* data, size_t size) {
    Side server = makeSide(TlsRole::Server);
    size_t at = 0;
    // Each piece's length is taken from the input, so that record and
    // message boundaries fall anywhere.
    for (int round = 0; round < 256 && at < size; ++round) {
        const size_t piece = std::min<size_t>(size - at, 1 + size_t(data[at]) * 4);
        ++at;
        const size_t take = std::min(piece, size - at);
        if (take > 0)
            BIO_write(server.in, data + at, int(take));
        at += take;
        ERR_clear_error();
        const int result = SSL_do_handshake(server.ssl.get());
        FUZZ_CHECK(result != 1);
        discardOutput(server);
        const int error = SSL_get_error(server.ssl.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            break; // refused, as it must be
    }
    ERR_clear_error();
}

void recordsAfterHandshake(const uint8_t* data, size_t size) {
    Side client = makeSide(TlsRole::Client);
    Side server = makeSide(TlsRole::Server);
    bool clientDone = false;
    bool serverDone = false;
    for (int round = 0; round < 32 && !(clientDone && serverDone); ++round) {
        if (!clientDone)
            clientDone = SSL_do_handshake(client.ssl.get()) == 1;
        carry(client, server);
        if (!serverDone)
            serverDone = SSL_do_handshake(server.ssl.get()) == 1;
        carry(server, client);
    }
    FUZZ_CHECK(clientDone && serverDone);
    FUZZ_CHECK(checkPairedHandshake(server.ssl.get()).ok());
    ERR_clear_error();

    BIO_write(server.in, data, int(std::min<size_t>(size, 1 << 20)));
    uint8_t plain[16384];
    for (int i = 0; i < 256; ++i) {
        size_t got = 0;
        const int result = SSL_read_ex(server.ssl.get(), plain, sizeof plain, &got);
        FUZZ_CHECK(result != 1); // nothing forged opens
        discardOutput(server);
        const int error = SSL_get_error(server.ssl.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            break;
        if (BIO_ctrl_pending(server.in) == 0)
            break;
    }
    ERR_clear_error();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        handshakeFromBytes(data + 1, size - 1);
    else
        recordsAfterHandshake(data + 1, size - 1);
    return 0;
}
