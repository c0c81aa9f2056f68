#include "sendable.h"

#include "protocol.h"

#include <algorithm>
#include <cctype>

namespace zapfer {

SendRefusal checkSendable(std::string_view name, int64_t size) {
    if (size > kMaxFileSize)
        return SendRefusal::TooLarge;
    if (name.size() > kMaxNameUnits)
        return SendRefusal::NameTooLong;
    const bool unsafe = std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F || c == '\\';
    });
    if (unsafe || name.empty())
        return SendRefusal::NameUnsafe;
    return SendRefusal::None;
}

bool sameSendName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace zapfer
