#pragma once

#include <string>
#include <string_view>

namespace zapfer {

// `prefix` followed by 16 random hexadecimal digits: a name for a file that
// is written and then renamed into place. Callers still create it with
// O_EXCL and try again on EEXIST. Any thread.
std::string temporaryName(std::string_view prefix);

} // namespace zapfer
