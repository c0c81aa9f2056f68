// zapfer-cli: Zapfer's transfer engine without a window.

#include "cli_options.h"
#include "history_command.h"
#include "pairing_store.h"
#include "receive_command.h"
#include "send_command.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace zapfer::cli;
    // Lines must reach a pipe as they happen: scripts and tests read them live.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A vanished peer or reader shows as a failed write, not a killed process.
    std::signal(SIGPIPE, SIG_IGN);

    const ParseResult parsed = parseArguments(argc, argv, readStoredSettings(storedSettingsPath()));
    if (!parsed.options) {
        std::fprintf(stderr, "zapfer-cli: %s (see zapfer-cli --help)\n", parsed.error.c_str());
        return 2;
    }
    switch (parsed.options->command) {
    case CliCommand::Help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case CliCommand::Version:
        std::printf("zapfer-cli %s\n", ZAPFER_VERSION);
        return 0;
    case CliCommand::Send:
        return runSend(*parsed.options);
    case CliCommand::Receive:
        return runReceive(*parsed.options);
    case CliCommand::History:
        return runHistory(*parsed.options);
    case CliCommand::Pair:
        return runPair();
    }
    return 2;
}
