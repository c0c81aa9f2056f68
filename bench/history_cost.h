#pragma once

// What recording each transfer in the history adds to zapfer-cli's transfer
// of many small files: with both ends started anew for each transfer, and
// with receivers left running, as a receiving machine keeps one.

#include <string>
#include <vector>

namespace zapfer::bench {

struct HistoryCostSetup {
    std::string cli;     // the zapfer-cli timed
    std::string dataDir; // each end's history lives under it
    std::string workDir; // the receivers' folders and output
    std::vector<std::string> files;
    int rounds = 16;
};

// Prints the cost, a 95 % interval for it, and how far two unrecorded runs
// of the same thing differ on this machine; false when a transfer failed.
bool reportHistoryCost(const HistoryCostSetup& setup);

} // namespace zapfer::bench
