#pragma once

// Whom this machine takes files from. The choice is a kind (anyone, listed
// addresses; a later kind may name paired peers) with the addresses that go
// with it. Stored as "AcceptFrom": the listed entries separated by spaces,
// the empty text meaning anyone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zapfer {

enum class AcceptFrom : uint32_t {
    Anyone = 0,
    ListedAddresses = 1,
    PairedPeers = 2, // only the paired port is listened on
};

// An IPv4 address with a prefix length: 198.18.0.7 is 198.18.0.7/32.
struct Ipv4Network {
    uint32_t address = 0; // host byte order, host bits clear
    uint32_t bits = 32;

    bool contains(uint32_t hostOrderAddress) const;
    // "198.18.0.7" for a single address, "198.18.0.0/24" for a network.
    std::string text() const;
    bool operator==(const Ipv4Network&) const = default;
};

struct AcceptList {
    AcceptFrom kind = AcceptFrom::Anyone;
    std::vector<Ipv4Network> networks;

    // Files may come from `hostOrderAddress` (a socket peer; a serial link is
    // always accepted and never asks).
    bool admits(uint32_t hostOrderAddress) const;
    // The stored "AcceptFrom" text.
    std::string text() const;
};

// One entry: four decimal numbers 0 to 255 without leading zeros, and
// optionally "/" and 0 to 32. Host bits of a network are cleared.
std::optional<Ipv4Network> parseNetwork(std::string_view entry);

struct AcceptListParse {
    std::optional<AcceptList> list; // empty when an entry is malformed
    std::string badEntry;           // the first malformed entry, as written
};

// Entries separated by spaces, tabs, newlines or commas; no entry at all
// means anyone.
AcceptListParse parseAcceptList(std::string_view text);

} // namespace zapfer
