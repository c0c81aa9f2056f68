#include "cli_peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

namespace zapfer::testing {

Receiver startReceiver(const std::string& dest, std::vector<std::string> args,
                       std::vector<std::string> prefix) {
    args.insert(args.begin(), "receive");
    args.insert(args.end(), {"--dest", dest});
    Receiver receiver;
    receiver.process = std::make_unique<ChildProcess>(cliCommand(args, std::move(prefix)));
    const std::string lead = "listening on port ";
    if (const auto line = receiver.process->waitForLine(lead, std::chrono::seconds(20)))
        receiver.port = line->substr(lead.size());
    return receiver;
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    return bytes;
}

void expectExactlyReceived(const TempDir& dest,
                           const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        names.push_back(name);
        EXPECT_TRUE(readFile(dest.file(name)) == bytes) << name << " differs";
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listDir(dest.path()), names);
}

} // namespace zapfer::testing
