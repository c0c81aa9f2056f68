#pragma once

// The pairing code two machines share to reach each other on the paired
// link: 12 characters of the base32 alphabet (A-Z, 2-7) carrying 60 random
// bits, shown as three groups of four. Only generated codes are valid, so a
// weak code chosen by a person cannot be typed in.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zapfer {

inline constexpr size_t kPairingCodeLength = 12;

enum class PairingCodeProblem {
    None,
    Empty,        // nothing but spaces and dashes
    BadCharacter, // `character` at `position` is outside A-Z, a-z and 2-7
    WrongLength,  // `length` characters of the alphabet instead of 12
};

struct ParsedPairingCode {
    std::string code; // the 12 characters in upper case; empty unless valid
    PairingCodeProblem problem = PairingCodeProblem::None;
    char character = 0;  // BadCharacter: the first byte refused
    size_t position = 0; // BadCharacter: its offset in the typed text
    size_t length = 0;   // WrongLength: characters counted

    bool valid() const { return problem == PairingCodeProblem::None; }
};

// A new code in its stored form (12 upper-case characters, no dashes), from
// getrandom; nothing when the system has no randomness to give.
std::optional<std::string> newPairingCode();

// The code as shown to a person: `7KQ3-M4XD-2HVF`. `code` is a parsed code.
std::string formatPairingCode(std::string_view code);

// A typed code: case does not matter, spaces and dashes are ignored.
ParsedPairingCode parsePairingCode(std::string_view typed);

} // namespace zapfer
