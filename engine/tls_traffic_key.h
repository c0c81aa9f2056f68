#pragma once

// The keys of the paired link's records once the handshake is over. OpenSSL
// runs the handshake; its application traffic secrets are caught through the
// context's key log (the one way OpenSSL 3.0 hands them out), and from them
// each direction derives its AES-128-GCM key and IV as TLS 1.3 does
// (RFC 8446 7.1, 7.3), and renews them on a KeyUpdate (7.2).

#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace zapfer {

inline constexpr size_t kTrafficSecretSize = 32; // SHA-256
inline constexpr size_t kRecordKeySize = 16;     // AES-128
inline constexpr size_t kRecordIvSize = 12;
inline constexpr size_t kRecordTagSize = 16;

// HKDF-Expand-Label over SHA-256 with an empty context; `out` is at most 32
// bytes. False when OpenSSL fails.
bool hkdfExpandLabel(std::span<const uint8_t> secret, std::string_view label,
                     std::span<uint8_t> out);

// The application traffic secrets of one connection, as the key log tells
// them during the handshake; wiped when dropped.
struct TrafficSecrets {
    std::array<uint8_t, kTrafficSecretSize> client{};
    std::array<uint8_t, kTrafficSecretSize> server{};
    bool haveClient = false;
    bool haveServer = false;

    TrafficSecrets() = default;
    TrafficSecrets(const TrafficSecrets&) = delete;
    TrafficSecrets& operator=(const TrafficSecrets&) = delete;
    ~TrafficSecrets() { wipe(); }
    void wipe();
};

// Makes connections of `context` report their traffic secrets to the
// TrafficSecrets each was given with watchTrafficSecrets.
void catchTrafficSecrets(SSL_CTX* context);
// `secrets` must outlive `ssl`'s handshake.
bool watchTrafficSecrets(SSL* ssl, TrafficSecrets* secrets);

// One direction's protection: the AES-GCM key, the IV, the secret they came
// from (for the next KeyUpdate) and the record sequence number. The key is
// set up twice, so that a second thread can work on other records of the
// same batch.
class TrafficKey {
public:
    explicit TrafficKey(bool sealing);
    ~TrafficKey();
    TrafficKey(const TrafficKey&) = delete;
    TrafficKey& operator=(const TrafficKey&) = delete;

    // Starts over from `secret`, with sequence number 0.
    bool set(std::span<const uint8_t> secret);
    // The next generation of keys (a KeyUpdate sent or received).
    bool update();
    bool ready() const { return m_ready; }
    uint64_t sequence() const { return m_sequence; }

    // Readies the cipher for the next record: its nonce is the IV with the
    // sequence number folded in, and no number is ever used twice. False
    // once they run out (or OpenSSL fails).
    bool beginRecord();
    EVP_CIPHER_CTX* cipher() { return m_cipher.get(); }

    // For batches: the records numbered from sequence() on are done by
    // number with beginRecordAt, then counted with advance(). canTake tells
    // whether `count` more numbers are left.
    bool canTake(uint64_t count) const;
    void advance(uint64_t count) { m_sequence += count; }
    // Readies `cipher` (this key's cipher() or twin()) for the record with
    // the number `sequence`.
    bool beginRecordAt(EVP_CIPHER_CTX* cipher, uint64_t sequence) const;
    EVP_CIPHER_CTX* twin() { return m_twin.get(); }

private:
    struct CipherFree {
        void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
    };

    bool m_sealing;
    bool m_ready = false;
    uint64_t m_sequence = 0;
    std::array<uint8_t, kTrafficSecretSize> m_secret{};
    std::array<uint8_t, kRecordIvSize> m_iv{};
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> m_cipher;
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> m_twin;
};

} // namespace zapfer
