#pragma once

// Command line of zapfer-cli. Options are rows of one table, so a new link
// type (a serial device, say) is one more row and one more field.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::cli {

enum class CliCommand { Help, Send, Receive };

struct CliOptions {
    CliCommand command = CliCommand::Help;

    // receive
    std::string destDir; // empty: the current directory
    bool overwrite = false;
    uint16_t echoPort = 1755;

    // send
    bool lan = true;       // false: --to
    std::string toAddress; // the peer of --to, as typed
    uint16_t probePort = 1755;
    int timeoutSeconds = 30;
    std::vector<std::string> files;

    // both: the TCP port listened on (receive) or connected to (send)
    uint16_t port = 1756;
};

struct ParseResult {
    std::optional<CliOptions> options; // empty: `error` says why
    std::string error;
};

ParseResult parseArguments(int argc, const char* const* argv);

// The --help text, built from the option table.
std::string usageText();

} // namespace zapfer::cli
