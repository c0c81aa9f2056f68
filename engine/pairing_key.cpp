#include "pairing_key.h"

#include "pairing_code.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <memory>

namespace zapfer {

namespace {
// scrypt with N = 32768 and r = 8 needs 32 MiB; the limit leaves room for that only.
constexpr uint64_t kScryptMemoryLimit = 64 * 1024 * 1024;

struct KdfFree {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};
} // namespace

PairingKey::~PairingKey() {
    OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::optional<PairingKey> derivePairingKey(std::string_view code) {
    ParsedPairingCode parsed = parsePairingCode(code);
    if (!parsed.valid())
        return std::nullopt;
    const std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr));
    if (!kdf)
        return std::nullopt;
    const std::unique_ptr<EVP_KDF_CTX, KdfFree> context(EVP_KDF_CTX_new(kdf.get()));
    if (!context)
        return std::nullopt;

    uint64_t n = kPairingScryptN;
    uint32_t r = kPairingScryptR;
    uint32_t p = kPairingScryptP;
    uint64_t memoryLimit = kScryptMemoryLimit;
    std::string salt(kPairingLabel);
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, parsed.code.data(),
                                          parsed.code.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt.data(), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &memoryLimit),
        OSSL_PARAM_construct_end(),
    };
    PairingKey key;
    const bool derived =
        EVP_KDF_derive(context.get(), key.bytes.data(), key.bytes.size(), params) == 1;
    OPENSSL_cleanse(parsed.code.data(), parsed.code.size());
    if (!derived)
        return std::nullopt;
    return key;
}

} // namespace zapfer
