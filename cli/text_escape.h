#pragma once

// Names from the history come from the peer: they may hold control
// characters or bytes that are not UTF-8. Printed as they are, they could
// move the cursor or rewrite the terminal, so they are escaped first.

#include <string>
#include <string_view>

namespace zapfer::cli {

// For the terminal: control characters (C0, DEL, C1) and bytes that are not
// UTF-8 become \n, \t, \xNN; a backslash becomes \\. Other UTF-8 is kept.
std::string escapeForTerminal(std::string_view text);

// A JSON string literal with its quotes. Bytes that are not UTF-8 become
// U+FFFD: JSON has no way to carry them.
std::string jsonString(std::string_view text);

} // namespace zapfer::cli
