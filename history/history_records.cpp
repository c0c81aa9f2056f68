#include "history_records.h"

#include <array>
#include <utility>

namespace zapfer::history {
namespace {

constexpr std::array<std::pair<Direction, std::string_view>, 2> kDirections{{
    {Direction::Sent, "sent"},
    {Direction::Received, "received"},
}};

constexpr std::array<std::pair<TransferOutcome, std::string_view>, 4> kOutcomes{{
    {TransferOutcome::Completed, "completed"},
    {TransferOutcome::Refused, "refused"},
    {TransferOutcome::Aborted, "aborted"},
    {TransferOutcome::Failed, "failed"},
}};

constexpr std::array<std::pair<FileResult, std::string_view>, 6> kFileResults{{
    {FileResult::Stored, "stored"},
    {FileResult::Sent, "sent"},
    {FileResult::Refused, "refused"},
    {FileResult::Failed, "failed"},
    {FileResult::SkippedUnreadable, "unreadable"},
    {FileResult::Aborted, "aborted"},
}};

template <typename E, std::size_t N>
std::string_view nameOf(const std::array<std::pair<E, std::string_view>, N>& table, E value) {
    for (const auto& [v, name] : table) {
        if (v == value)
            return name;
    }
    return "unknown";
}

template <typename E, std::size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, std::string_view>, N>& table,
                         std::string_view text) {
    for (const auto& [v, name] : table) {
        if (name == text)
            return v;
    }
    return std::nullopt;
}

} // namespace

bool isFailedResult(FileResult result) {
    return result != FileResult::Sent && result != FileResult::Stored;
}

std::string_view toText(Direction direction) {
    return nameOf(kDirections, direction);
}
std::string_view toText(TransferOutcome outcome) {
    return nameOf(kOutcomes, outcome);
}
std::string_view toText(FileResult result) {
    return nameOf(kFileResults, result);
}

std::optional<Direction> directionFromText(std::string_view text) {
    return valueOf(kDirections, text);
}
std::optional<TransferOutcome> outcomeFromText(std::string_view text) {
    return valueOf(kOutcomes, text);
}
std::optional<FileResult> fileResultFromText(std::string_view text) {
    return valueOf(kFileResults, text);
}

} // namespace zapfer::history
