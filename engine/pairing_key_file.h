#pragma once

// The pairing key kept on disk beside the settings file that holds its code.
// Deriving it costs a quarter of a second of CPU on purpose; every zapfer-cli
// run is a new process, so without the file each send would pay that before
// its first byte. The file says nothing the settings file (owner-only, with
// the code in it) does not already give away.
//
// Its form, three lines: the label "zapfer-pairing-1", the code in its stored
// form (12 upper-case characters), and the 32-byte key in lower-case hex.

#include "pairing_key.h"

#include <optional>
#include <string>
#include <string_view>

namespace zapfer {

// Where the key of the code stored in the settings file at `settingsPath` is
// kept: "Zapfer.pairing-key" in the same folder.
std::string pairingKeyFileBeside(const std::string& settingsPath);

// The key in the file at `path`, when the file is for `code` (typed or stored
// form) and can be trusted: a regular file (not a link) of this user, mode
// 0600, exactly in the form written. Nothing otherwise; the file is then to be
// rewritten, never believed.
std::optional<KnownPairingKey> readPairingKeyFile(const std::string& path, std::string_view code);

// Writes `known` to `path`, replacing whatever is there in one step. The file
// is owner-only from its creation. False when it could not be written; what
// was at `path` is then left as it was.
bool writePairingKeyFile(const std::string& path, const KnownPairingKey& known);

// Removes the file (the code was cleared or replaced). True when none is left.
bool removePairingKeyFile(const std::string& path);

// The key of `code`: read from the file at `path` when it holds it, else
// derived and written there for the next run. A file that cannot be written
// only means the next run derives again. Nothing when `code` is not a valid
// code or the derivation fails.
std::optional<KnownPairingKey> keptPairingKey(const std::string& path, std::string_view code);

} // namespace zapfer
