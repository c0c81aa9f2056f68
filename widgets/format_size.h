#pragma once

#include <QString>

#include <cstdint>

namespace zapfer {

// The short size text of the "Size" columns and the status line: "0", "%dB",
// then one digit after the point, cut off rather than rounded, in K, M and G.
QString FormatSize(int64_t size);

} // namespace zapfer
