#include "accept_list.h"

namespace zapfer {

namespace {
uint32_t maskOf(uint32_t bits) {
    return bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
}

// A decimal number of at most three digits and no leading zero, at most
// `limit`; inet_aton would read "010" as octal and "1.2.3" as a whole address,
// and an accept list must mean exactly what it shows.
std::optional<uint32_t> decimal(std::string_view digits, uint32_t limit) {
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

bool separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
}
} // namespace

bool Ipv4Network::contains(uint32_t hostOrderAddress) const {
    return (hostOrderAddress & maskOf(bits)) == address;
}

std::string Ipv4Network::text() const {
    std::string out = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) +
                      "." + std::to_string((address >> 8) & 0xFF) + "." +
                      std::to_string(address & 0xFF);
    if (bits != 32)
        out += "/" + std::to_string(bits);
    return out;
}

bool AcceptList::admits(uint32_t hostOrderAddress) const {
    if (kind == AcceptFrom::Anyone)
        return true;
    for (const Ipv4Network& network : networks)
        if (network.contains(hostOrderAddress))
            return true;
    return false;
}

std::string AcceptList::text() const {
    if (kind == AcceptFrom::Anyone)
        return {};
    std::string out;
    for (const Ipv4Network& network : networks) {
        if (!out.empty())
            out += ' ';
        out += network.text();
    }
    return out;
}

std::optional<Ipv4Network> parseNetwork(std::string_view entry) {
    Ipv4Network network;
    const size_t slash = entry.find('/');
    if (slash != std::string_view::npos) {
        const std::optional<uint32_t> bits = decimal(entry.substr(slash + 1), 32);
        if (!bits)
            return std::nullopt;
        network.bits = *bits;
        entry = entry.substr(0, slash);
    }
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = entry.find('.');
        if ((part < 3) != (dot != std::string_view::npos))
            return std::nullopt;
        const std::optional<uint32_t> octet = decimal(entry.substr(0, dot), 255);
        if (!octet)
            return std::nullopt;
        address = address << 8 | *octet;
        entry = part < 3 ? entry.substr(dot + 1) : std::string_view{};
    }
    network.address = address & maskOf(network.bits);
    return network;
}

AcceptListParse parseAcceptList(std::string_view text) {
    AcceptListParse result;
    AcceptList list;
    size_t at = 0;
    while (at < text.size()) {
        if (separator(text[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && !separator(text[end]))
            ++end;
        const std::string_view entry = text.substr(at, end - at);
        const std::optional<Ipv4Network> network = parseNetwork(entry);
        if (!network) {
            result.badEntry = std::string(entry);
            return result;
        }
        list.networks.push_back(*network);
        at = end;
    }
    list.kind = list.networks.empty() ? AcceptFrom::Anyone : AcceptFrom::ListedAddresses;
    result.list = list;
    return result;
}

} // namespace zapfer
