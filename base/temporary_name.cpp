#include "temporary_name.h"

#include <cstdio>
#include <random>

namespace zapfer {

std::string temporaryName(std::string_view prefix) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string name(prefix);
    name += suffix;
    return name;
}

} // namespace zapfer
