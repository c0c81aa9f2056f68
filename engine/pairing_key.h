#pragma once

// The key of the paired link, derived from the pairing code with scrypt so
// that guessing codes against a recorded handshake costs real work per guess.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zapfer {

// The scrypt salt and the TLS PSK identity: a new construction gets a new label.
inline constexpr std::string_view kPairingLabel = "zapfer-pairing-1";
inline constexpr uint64_t kPairingScryptN = 32768;
inline constexpr uint32_t kPairingScryptR = 8;
inline constexpr uint32_t kPairingScryptP = 1;

class PairingKey {
public:
    PairingKey() = default;
    PairingKey(const PairingKey&) = default;
    PairingKey& operator=(const PairingKey&) = default;
    // The key does not outlive its holder in memory.
    ~PairingKey();

    std::array<uint8_t, 32> bytes{};
};

// A key with the code it was derived from, as kept on disk: whoever takes it
// checks the code first, so a key can never stand in for another code's.
struct KnownPairingKey {
    std::string code; // the 12 characters in upper case
    PairingKey key;
};

// scrypt(password = the code's 12 characters in upper case, salt = the label,
// N = 32768, r = 8, p = 1, 32 bytes). `code` may be typed as a person would;
// nothing when it is not a valid code or the derivation fails.
std::optional<PairingKey> derivePairingKey(std::string_view code);

} // namespace zapfer
