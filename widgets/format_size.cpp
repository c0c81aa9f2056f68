#include "format_size.h"

#include <algorithm>

namespace zapfer {

QString FormatSize(int64_t size) {
    constexpr int64_t kKilo = 1024;
    constexpr int64_t kMega = kKilo * 1024;
    constexpr int64_t kGiga = kMega * 1024;
    // The digit after the point counts steps of unit / 1024 * 100, as it
    // always has; it stops at 9 so the top of a range never shows "1.10K".
    const auto withTenth = [size](int64_t unit, char suffix) {
        return QStringLiteral("%1.%2%3")
            .arg(size / unit)
            .arg(std::min<int64_t>(size % unit / (unit / 1024 * 100), 9))
            .arg(QLatin1Char(suffix));
    };
    if (size == 0)
        return QStringLiteral("0");
    if (size >= kGiga)
        return withTenth(kGiga, 'G');
    if (size >= kMega)
        return withTenth(kMega, 'M');
    if (size >= kKilo)
        return withTenth(kKilo, 'K');
    return QStringLiteral("%1B").arg(size);
}

} // namespace zapfer
