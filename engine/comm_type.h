#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zapfer {

// The communication types, in the order of their stored index.
enum class CommType : uint32_t {
    Irda = 0,
    Usb = 1,
    Com1 = 2,
    Com2 = 3,
    RawIr = 4,
    Lan = 5,
    Wan = 6,
};

inline constexpr uint32_t kCommTypeCount = 7;

enum class LinkKind { Socket, Serial };

// Index as stored in the settings; out-of-range values are not a type.
std::optional<CommType> commTypeFromIndex(uint32_t index);

// "IRDA", "USB", "COM1", "COM2", "RAW IR", "LAN", "WAN / Internet".
std::string_view commTypeName(CommType type);

LinkKind linkKindOf(CommType type);
inline bool isSerial(CommType type) {
    return linkKindOf(type) == LinkKind::Serial;
}

// Transfer block size of a type; always a power of two.
int32_t blockSizeFor(CommType type);

} // namespace zapfer
