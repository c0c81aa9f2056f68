#include "tls_traffic_key.h"

#include "hex_bytes.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <cstring>
#include <limits>
#include <string>

namespace zapfer {

namespace {
// Where a connection keeps the TrafficSecrets its key log fills.
int secretsIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// A key log line: "LABEL <client random> <secret>". Only the two secrets of
// the application data are wanted; the handshake's own stay with OpenSSL.
void takeLogLine(const SSL* ssl, const char* line) {
    auto* secrets = static_cast<TrafficSecrets*>(SSL_get_ex_data(ssl, secretsIndex()));
    if (secrets == nullptr || line == nullptr)
        return;
    const std::string_view text(line);
    const size_t firstSpace = text.find(' ');
    const size_t secondSpace = text.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos)
        return;
    const std::string_view label = text.substr(0, firstSpace);
    const std::string_view hex = text.substr(secondSpace + 1);
    if (label == "CLIENT_TRAFFIC_SECRET_0")
        secrets->haveClient = decodeHex(hex, secrets->client, HexCase::Either);
    else if (label == "SERVER_TRAFFIC_SECRET_0")
        secrets->haveServer = decodeHex(hex, secrets->server, HexCase::Either);
}
} // namespace

bool hkdfExpandLabel(std::span<const uint8_t> secret, std::string_view label,
                     std::span<uint8_t> out) {
    // HkdfLabel: the length, "tls13 " + label, an empty context; then the
    // first block of HKDF-Expand, T(1) = HMAC(secret, info || 0x01).
    constexpr std::string_view kPrefix = "tls13 ";
    if (out.size() > kTrafficSecretSize || kPrefix.size() + label.size() > 255)
        return false;
    std::string info;
    info.push_back(char(out.size() >> 8));
    info.push_back(char(out.size() & 0xFF));
    info.push_back(char(kPrefix.size() + label.size()));
    info.append(kPrefix);
    info.append(label);
    info.push_back('\0'); // the context's length
    info.push_back('\1'); // the block counter
    uint8_t block[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done = HMAC(EVP_sha256(), secret.data(), int(secret.size()),
                           reinterpret_cast<const unsigned char*>(info.data()), info.size(), block,
                           &length) != nullptr &&
                      length >= out.size();
    if (done)
        std::memcpy(out.data(), block, out.size());
    OPENSSL_cleanse(block, sizeof block);
    return done;
}

void TrafficSecrets::wipe() {
    OPENSSL_cleanse(client.data(), client.size());
    OPENSSL_cleanse(server.data(), server.size());
    haveClient = haveServer = false;
}

void catchTrafficSecrets(SSL_CTX* context) {
    SSL_CTX_set_keylog_callback(context, takeLogLine);
}

bool watchTrafficSecrets(SSL* ssl, TrafficSecrets* secrets) {
    return secretsIndex() >= 0 && SSL_set_ex_data(ssl, secretsIndex(), secrets) == 1;
}

TrafficKey::TrafficKey(bool sealing)
    : m_sealing(sealing), m_cipher(EVP_CIPHER_CTX_new()), m_twin(EVP_CIPHER_CTX_new()) {}

TrafficKey::~TrafficKey() {
    OPENSSL_cleanse(m_secret.data(), m_secret.size());
    OPENSSL_cleanse(m_iv.data(), m_iv.size());
}

bool TrafficKey::set(std::span<const uint8_t> secret) {
    m_ready = false;
    if (!m_cipher || !m_twin || secret.size() != m_secret.size())
        return false;
    if (secret.data() != m_secret.data())
        std::memcpy(m_secret.data(), secret.data(), m_secret.size());
    std::array<uint8_t, kRecordKeySize> key{};
    const bool derived =
        hkdfExpandLabel(m_secret, "key", key) && hkdfExpandLabel(m_secret, "iv", m_iv);
    const auto keyedWith = [&](EVP_CIPHER_CTX* cipher) {
        return (m_sealing
                    ? EVP_EncryptInit_ex2(cipher, EVP_aes_128_gcm(), key.data(), nullptr, nullptr)
                    : EVP_DecryptInit_ex2(cipher, EVP_aes_128_gcm(), key.data(), nullptr,
                                          nullptr)) == 1;
    };
    const bool keyed = derived && keyedWith(m_cipher.get()) && keyedWith(m_twin.get());
    OPENSSL_cleanse(key.data(), key.size());
    m_sequence = 0;
    m_ready = keyed;
    return keyed;
}

bool TrafficKey::update() {
    std::array<uint8_t, kTrafficSecretSize> next{};
    const bool derived = m_ready && hkdfExpandLabel(m_secret, "traffic upd", next);
    const bool keyed = derived && set(next);
    OPENSSL_cleanse(next.data(), next.size());
    if (!keyed)
        m_ready = false;
    return keyed;
}

bool TrafficKey::beginRecord() {
    if (!canTake(1) || !beginRecordAt(m_cipher.get(), m_sequence))
        return false;
    ++m_sequence;
    return true;
}

bool TrafficKey::canTake(uint64_t count) const {
    // The largest number is never used: running out ends the link.
    return m_ready && count <= std::numeric_limits<uint64_t>::max() - m_sequence;
}

bool TrafficKey::beginRecordAt(EVP_CIPHER_CTX* cipher, uint64_t sequence) const {
    if (!m_ready || sequence == std::numeric_limits<uint64_t>::max())
        return false;
    std::array<uint8_t, kRecordIvSize> nonce = m_iv;
    for (size_t i = 0; i < 8; ++i)
        nonce[kRecordIvSize - 1 - i] ^= uint8_t(sequence >> (8 * i));
    const int begun = m_sealing
                          ? EVP_EncryptInit_ex2(cipher, nullptr, nullptr, nonce.data(), nullptr)
                          : EVP_DecryptInit_ex2(cipher, nullptr, nullptr, nonce.data(), nullptr);
    return begun == 1;
}

} // namespace zapfer
