#include "conflict_names.h"

#include "received_names.h"

namespace zapfer {

namespace {
constexpr size_t kNameMax = 255;

bool continuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `text` cut to at most `bytes`, never inside a UTF-8 sequence.
std::string_view cutTo(std::string_view text, size_t bytes) {
    if (text.size() <= bytes)
        return text;
    size_t end = bytes;
    while (end > 0 && continuationByte(text[end]))
        --end;
    return text.substr(0, end);
}
} // namespace

std::optional<NameConflict> nameConflictFromIndex(uint32_t index) {
    switch (index) {
    case 0:
        return NameConflict::Refuse;
    case 1:
        return NameConflict::Replace;
    case 2:
        return NameConflict::KeepBoth;
    default:
        return std::nullopt;
    }
}

NameConflict storedNameConflict(std::optional<uint32_t> nameConflict,
                                std::optional<uint32_t> preferences) {
    const std::optional<NameConflict> stored =
        nameConflict ? nameConflictFromIndex(*nameConflict) : std::nullopt;
    if (!preferences)
        return stored.value_or(NameConflict::Refuse);
    const bool overwrite = (*preferences & kOverwriteFilesBit) != 0;
    if (overwrite)
        return NameConflict::Replace;
    if (!stored || *stored == NameConflict::Replace)
        return NameConflict::Refuse;
    return *stored;
}

bool storedUnderOtherName(const FileOutcome& file) {
    if (file.result != FileResult::Stored || file.nameAsStored.empty())
        return false;
    const std::optional<std::string> sent = receivedFileName(file.nameAsSent);
    return sent && *sent != file.nameAsStored;
}

std::string numberedName(std::string_view name, uint32_t number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    // The extension starts at the last dot, unless that dot opens the name
    // (".profile") or ends it ("notes.").
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > 0 && dot + 1 < name.size();
    std::string_view stem = hasExtension ? name.substr(0, dot) : name;
    std::string_view extension = hasExtension ? name.substr(dot) : std::string_view{};
    if (extension.size() + suffix.size() >= kNameMax) {
        // An extension too long to keep beside any stem: the whole name is
        // shortened instead.
        stem = name;
        extension = {};
    }
    stem = cutTo(stem, kNameMax - suffix.size() - extension.size());
    std::string result;
    result.reserve(stem.size() + suffix.size() + extension.size());
    result.append(stem).append(suffix).append(extension);
    return result;
}

} // namespace zapfer
