#pragma once

// Bytes written as hexadecimal digits, two per byte, as the pairing key file
// and OpenSSL's key log hold them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zapfer {

enum class HexCase { LowerOnly, Either };

// Fills `out` from exactly 2 * out.size() digits; false (out undefined) on
// any other length or a character that is not a digit of `letters`.
inline bool decodeHex(std::string_view hex, std::span<uint8_t> out, HexCase letters) {
    auto value = [letters](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (letters == HexCase::Either && c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (hex.size() != 2 * out.size())
        return false;
    for (size_t i = 0; i < out.size(); ++i) {
        const int high = value(hex[2 * i]);
        const int low = value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = uint8_t(high << 4 | low);
    }
    return true;
}

} // namespace zapfer
