#pragma once

// Turns the file arguments of `send` into the engine's send list, refusing
// up front what could not travel whole.

#include "engine.h"
#include "sendable.h"

#include <string>
#include <vector>

namespace zapfer::cli {

struct SendListResult {
    std::vector<SendFile> files; // valid when `error` is empty
    std::string error;
};

// Every path must name a readable regular file under 2 GiB whose name fits the
// file table, and no two files may share a name: the receiver would keep only
// the last of them.
SendListResult gatherSendFiles(const std::vector<std::string>& paths);

// zapfer-cli's words for what keeps the file at `path` from being sent.
std::string describeRefusal(SendRefusal refusal, const std::string& path);

} // namespace zapfer::cli
