#pragma once

#include "cli_options.h"

namespace zapfer::cli {

// `zapfer-cli send`: one send of the listed files; returns the exit status.
int runSend(const CliOptions& options);

} // namespace zapfer::cli
