#include "received_names.h"

#include "protocol.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace zapfer {

namespace {

// The longest name a Linux file system takes, in bytes.
constexpr size_t kNameMax = 255;

struct CodePoint {
    char32_t value = 0;
    size_t length = 0; // 0: not a valid sequence at this place
};

CodePoint decodeAt(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return {};
    }
    if (at + length > text.size())
        return {};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {};
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return {value, length};
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

bool isBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isC1(char32_t c) {
    return c >= 0x80 && c <= 0x9F;
}

// Windows-1252 bytes 0x80 to 0x9F; 0 marks the five it leaves unassigned.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const CodePoint c = decodeAt(bytes, at);
        if (c.length == 0)
            return false;
        at += c.length;
    }
    return true;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        const char32_t c = b >= 0x80 && b <= 0x9F && kHighControls[b - 0x80] != 0
                               ? char32_t(kHighControls[b - 0x80])
                               : char32_t(b);
        appendUtf8(out, c);
    }
    return out;
}

bool hasDeceptiveControl(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const CodePoint c = decodeAt(text, at);
        if (c.length == 0)
            return false; // not UTF-8: the caller checks that first
        if (isC1(c.value) || isBidiControl(c.value))
            return true;
        at += c.length;
    }
    return false;
}

std::string toNfc(std::string_view text) {
    // ASCII is its own NFC, and almost every name is ASCII: no trip through
    // UTF-16 for it.
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status))
        return std::string(text);
    // UTF-8 to UTF-16: never more units than bytes.
    std::vector<UChar> wide(text.size() + 1);
    int32_t wideLength = 0;
    u_strFromUTF8(wide.data(), int32_t(wide.size()), &wideLength, text.data(), int32_t(text.size()),
                  &status);
    if (U_FAILURE(status))
        return std::string(text);
    // Composition never lengthens; decomposition inside it is bounded by ICU's
    // own limit, so a generous buffer with a retry on overflow suffices.
    std::vector<UChar> normal(size_t(wideLength) * 3 + 16);
    int32_t normalLength = unorm2_normalize(nfc, wide.data(), wideLength, normal.data(),
                                            int32_t(normal.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        normal.resize(size_t(normalLength));
        normalLength = unorm2_normalize(nfc, wide.data(), wideLength, normal.data(),
                                        int32_t(normal.size()), &status);
    }
    if (U_FAILURE(status))
        return std::string(text);
    std::string out(size_t(normalLength) * 3, '\0');
    int32_t outLength = 0;
    u_strToUTF8(out.data(), int32_t(out.size()), &outLength, normal.data(), normalLength, &status);
    if (U_FAILURE(status))
        return std::string(text);
    out.resize(size_t(outLength));
    return out;
}

std::optional<std::string> receivedFileName(std::string_view wireName) {
    const std::string part = FileNamePart(wireName, PathSource::Wire);
    // A name that is not UTF-8 comes from a peer writing its code page.
    const std::string text = isValidUtf8(part) ? part : windows1252ToUtf8(part);
    if (hasDeceptiveControl(text))
        return std::nullopt;
    const std::string name = toNfc(text);
    if (!isSafeReceivedName(name))
        return std::nullopt;
    std::string stored = storedReceivedName(name);
    if (stored.size() > kNameMax)
        return std::nullopt;
    return stored;
}

std::string printableName(std::string_view name) {
    std::string out;
    char escape[16];
    for (size_t at = 0; at < name.size();) {
        const CodePoint c = decodeAt(name, at);
        if (c.length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(name[at]));
            out += escape;
            ++at;
            continue;
        }
        if (c.value < 0x20 || c.value == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(c.value));
            out += escape;
        } else if (isC1(c.value) || isBidiControl(c.value)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c.value));
            out += escape;
        } else {
            out.append(name.substr(at, c.length));
        }
        at += c.length;
    }
    return out;
}

} // namespace zapfer
