#pragma once

#include "cli_options.h"

namespace zapfer::cli {

// `zapfer-cli history`: prints the recent transfers of the history the window
// and zapfer-cli share, with their files; returns the exit status.
int runHistory(const CliOptions& options);

} // namespace zapfer::cli
