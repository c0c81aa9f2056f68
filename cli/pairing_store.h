#pragma once

// `zapfer-cli pair`: a new pairing code written as "PairingCode" into the
// window's settings file, which is then readable by its owner only (the code
// is as good as a key to this machine).

#include "cli_options.h"
#include "pairing_key.h"

#include <optional>
#include <string>

namespace zapfer::cli {

// Sets "PairingCode" in the [General] section of the INI file at `path`,
// keeping every other line, creating the file and its folder when missing.
// Empty on success, else what went wrong.
std::string storePairingCode(const std::string& path, const std::string& code);

// The `pair` command: makes, stores and prints a code, and keeps its key
// beside it so that the first send does not wait for the derivation.
int runPair();

// The key of the stored code in force, from the key file beside the settings
// file (derived and written there when it does not hold it). Nothing for a
// code given with --pairing-code: that one leaves no trace on disk, and the
// engine derives its key.
std::optional<KnownPairingKey> storedPairingKey(const CliOptions& options);

} // namespace zapfer::cli
