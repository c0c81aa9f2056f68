#include "text_escape.h"

#include <cstdint>
#include <cstdio>

namespace zapfer::cli {
namespace {

// The length of the well-formed UTF-8 sequence at `at` and its code point;
// length 0 when the byte there does not start one (overlong forms and
// surrogates included).
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::string hexEscape(const char* format, unsigned value) {
    char text[8] = {};
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string escapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = utf8Sequence(text, at, c);
        if (length == 0) {
            out += hexEscape("\\x%02x", static_cast<std::uint8_t>(text[at]));
            ++at;
            continue;
        }
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (isControl(c)) {
            // C1 controls are two bytes in UTF-8; each is shown.
            for (std::size_t i = 0; i < length; ++i)
                out += hexEscape("\\x%02x", static_cast<std::uint8_t>(text[at + i]));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = utf8Sequence(text, at, c);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (isControl(c)) {
            out += hexEscape("\\u%04x", static_cast<unsigned>(c));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out + "\"";
}

} // namespace zapfer::cli
