#pragma once

// `zapfer-cli pair`: a new pairing code written as "PairingCode" into the
// window's settings file, which is then readable by its owner only (the code
// is as good as a key to this machine).

#include <string>

namespace zapfer::cli {

// Sets "PairingCode" in the [General] section of the INI file at `path`,
// keeping every other line, creating the file and its folder when missing.
// Empty on success, else what went wrong.
std::string storePairingCode(const std::string& path, const std::string& code);

// The `pair` command: makes, stores and prints a code.
int runPair();

} // namespace zapfer::cli
