#pragma once

#include "cli_options.h"

namespace zapfer::cli {

// `zapfer-cli receive`: serves incoming transfers until SIGINT or SIGTERM;
// returns the exit status.
int runReceive(const CliOptions& options);

} // namespace zapfer::cli
