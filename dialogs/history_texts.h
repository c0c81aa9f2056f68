#pragma once

// How the History dialog words what the history holds, in the user's
// language. The history keeps stable English names; these are for reading.

#include "history_records.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace zapfer {

// A name or peer from the history as one line of text: a peer chooses its
// own name and the names of the files it sends, so control characters show
// as U+FFFD rather than breaking the row.
QString visibleText(const std::string& text);

QString directionText(history::Direction direction);
// "Refused (code 3)" where the peer gave one.
QString outcomeText(history::TransferOutcome outcome, std::optional<int> refusalCode);
QString fileResultText(history::FileResult result);
// Eight lower-case hex digits, as crc32(1) prints them; empty when unknown.
QString crcText(std::optional<std::uint32_t> crc);
// "Name (address)", the address alone when the name is not known.
QString peerText(const history::TransferRecord& transfer);
// Local time, to the second.
QString timeText(std::int64_t msSinceEpoch);
// Seconds with one decimal.
QString durationText(std::int64_t ms);

} // namespace zapfer
