#pragma once

// Starting zapfer-cli peers for the end-to-end tests.

#include "child_process.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zapfer::testing {

inline const std::string kCli = ZAPFER_CLI_PATH;

// `prefix` runs the program inside something else (a network namespace).
inline std::vector<std::string> cliCommand(std::vector<std::string> args,
                                           std::vector<std::string> prefix = {}) {
    prefix.push_back(kCli);
    prefix.insert(prefix.end(), args.begin(), args.end());
    return prefix;
}

struct Receiver {
    std::unique_ptr<ChildProcess> process;
    std::string port; // empty when it never said where it listens
};

// A receiver on free ports of 127.0.0.1 (unless `args` says otherwise), once it
// reports its port.
Receiver startReceiver(const std::string& dest,
                       std::vector<std::string> args = {"--port", "0", "--echo-port", "0"},
                       std::vector<std::string> prefix = {});

// Each of `files` (name and bytes) is in `dest` as it was sent, and nothing else is.
void expectExactlyReceived(const TempDir& dest,
                           const std::vector<std::pair<std::string, std::string>>& files);

// `size` bytes of a fixed pseudo-random sequence.
std::string randomBytes(size_t size, unsigned seed);

} // namespace zapfer::testing
