#include "comm_type.h"

#include <array>

namespace zapfer {

namespace {
struct TypeInfo {
    std::string_view name;
    LinkKind link;
    int32_t blockSize;
};

constexpr std::array<TypeInfo, kCommTypeCount> kTypes{{
    {"IRDA", LinkKind::Socket, 4096},
    {"USB", LinkKind::Serial, 8192},
    {"COM1", LinkKind::Serial, 4096},
    {"COM2", LinkKind::Serial, 4096},
    {"RAW IR", LinkKind::Serial, 2048},
    {"LAN", LinkKind::Socket, 32768},
    {"WAN / Internet", LinkKind::Socket, 32768},
}};

const TypeInfo& info(CommType type) {
    return kTypes[static_cast<uint32_t>(type) % kCommTypeCount];
}
} // namespace

std::optional<CommType> commTypeFromIndex(uint32_t index) {
    if (index >= kCommTypeCount)
        return std::nullopt;
    return static_cast<CommType>(index);
}

std::string_view commTypeName(CommType type) {
    return info(type).name;
}
LinkKind linkKindOf(CommType type) {
    return info(type).link;
}
int32_t blockSizeFor(CommType type) {
    return info(type).blockSize;
}

} // namespace zapfer
