#include "pairing_code.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>

namespace zapfer {

namespace {
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"; // RFC 4648

// The 5-bit value of a base32 character in either case; -1 for any other.
int symbolValue(char c) {
    if (c >= 'a' && c <= 'z')
        c = char(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= '2' && c <= '7')
        return 26 + (c - '2');
    return -1;
}

bool fillRandom(uint8_t* bytes, size_t n) {
    size_t filled = 0;
    // getrandom hands out at most what was asked; a signal may cut it short.
    for (int attempt = 0; attempt < 100 && filled < n; ++attempt) {
        const ssize_t got = ::getrandom(bytes + filled, n - filled, 0);
        if (got > 0)
            filled += size_t(got);
        else if (got < 0 && errno != EINTR)
            return false;
    }
    return filled == n;
}
} // namespace

std::optional<std::string> newPairingCode() {
    uint8_t bytes[8];
    if (!fillRandom(bytes, sizeof bytes))
        return std::nullopt;
    uint64_t bits = 0;
    for (const uint8_t byte : bytes)
        bits = (bits << 8) | byte;
    // 12 characters of 5 bits each take exactly 60 of the 64 bits.
    std::string code(kPairingCodeLength, 'A');
    for (size_t i = 0; i < kPairingCodeLength; ++i) {
        code[i] = kAlphabet[bits & 31];
        bits >>= 5;
    }
    return code;
}

std::string formatPairingCode(std::string_view code) {
    std::string shown;
    for (size_t i = 0; i < code.size(); ++i) {
        if (i > 0 && i % 4 == 0)
            shown += '-';
        shown += code[i];
    }
    return shown;
}

ParsedPairingCode parsePairingCode(std::string_view typed) {
    ParsedPairingCode parsed;
    std::string code;
    for (size_t i = 0; i < typed.size(); ++i) {
        const char c = typed[i];
        if (c == ' ' || c == '-')
            continue;
        const int value = symbolValue(c);
        if (value < 0) {
            parsed.problem = PairingCodeProblem::BadCharacter;
            parsed.character = c;
            parsed.position = i;
            return parsed;
        }
        code += kAlphabet[size_t(value)];
    }
    if (code.empty()) {
        parsed.problem = PairingCodeProblem::Empty;
        return parsed;
    }
    if (code.size() != kPairingCodeLength) {
        parsed.problem = PairingCodeProblem::WrongLength;
        parsed.length = code.size();
        return parsed;
    }
    parsed.code = std::move(code);
    return parsed;
}

} // namespace zapfer
