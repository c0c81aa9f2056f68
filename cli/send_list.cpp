#include "send_list.h"

#include "protocol.h"
#include "sendable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

namespace zapfer::cli {
namespace {

std::string inQuotes(const std::string& path) {
    return "'" + path + "'";
}

} // namespace

std::string describeRefusal(SendRefusal refusal, const std::string& path) {
    switch (refusal) {
    case SendRefusal::None:
        return {};
    case SendRefusal::TooLarge:
        return inQuotes(path) + ": files of 2 GiB or more cannot be sent";
    case SendRefusal::NameTooLong:
        return inQuotes(path) + ": the file name is longer than " + std::to_string(kMaxNameUnits) +
               " bytes and cannot be sent";
    case SendRefusal::NameUnsafe:
        return inQuotes(path) + ": the file name contains a control character or a backslash, "
                                "which the receiver would refuse or take as a folder separator";
    case SendRefusal::DuplicateName:
        return inQuotes(path) + ": another file of this send has the same name; the receiver "
                                "would keep only one";
    }
    return {};
}

namespace {} // namespace

SendListResult gatherSendFiles(const std::vector<std::string>& paths) {
    SendListResult result;
    const auto fail = [&result](std::string error) {
        result.files.clear();
        result.error = std::move(error);
        return result;
    };
    if (paths.size() > size_t(kMaxEntries))
        return fail("at most " + std::to_string(kMaxEntries) + " files can be sent at once");

    std::map<std::string, std::string> pathOfName;
    for (const auto& path : paths) {
        std::error_code ec;
        const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal();
        if (ec || absolute.empty())
            return fail(inQuotes(path) + ": " + ec.message());

        // The type first: opening a FIFO to test it would wait for a writer.
        struct stat info {};
        if (::stat(absolute.c_str(), &info) != 0)
            return fail(inQuotes(path) + ": " + std::strerror(errno));
        if (S_ISDIR(info.st_mode))
            return fail(inQuotes(path) + " is a folder; only files can be sent");
        if (!S_ISREG(info.st_mode))
            return fail(inQuotes(path) + " is not a regular file");
        const int fd = ::open(absolute.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return fail(inQuotes(path) + ": " + std::strerror(errno));
        ::close(fd);
        const std::string name = std::filesystem::path(absolute).filename();
        if (const SendRefusal refusal = checkSendable(name, info.st_size);
            refusal != SendRefusal::None)
            return fail(describeRefusal(refusal, path));
        for (const auto& [other, otherPath] : pathOfName) {
            if (sameSendName(name, other))
                return fail(inQuotes(path) + " and " + inQuotes(otherPath) +
                            " have the same name '" + name +
                            "' (ignoring case); the receiver would keep only one");
        }
        pathOfName.emplace(name, path);

        EntryBytes entry{};
        if (EncodeTransferEntry(absolute, info.st_size, entry) != EntryError::None)
            return fail(inQuotes(path) + " cannot be listed in the file table");
        result.files.push_back({absolute, int64_t(info.st_size)});
    }
    return result;
}

} // namespace zapfer::cli
