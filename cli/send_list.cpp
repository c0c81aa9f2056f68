#include "send_list.h"

#include "protocol.h"

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

// Refuses a name the receiver would store under another name, or not at all.
std::string checkName(const std::string& path, const std::string& name) {
    if (name.size() > kMaxNameUnits)
        return inQuotes(path) + ": the file name is longer than " + std::to_string(kMaxNameUnits) +
               " bytes and cannot be sent";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return inQuotes(path) + ": the file name contains a control character";
        if (c == '\\')
            return inQuotes(path) + ": the file name contains a backslash, which the receiver "
                                    "would take as a folder separator";
    }
    return {};
}

} // namespace

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
        if (info.st_size > kMaxFileSize)
            return fail(inQuotes(path) + ": files of 2 GiB or more cannot be sent");

        const std::string name = std::filesystem::path(absolute).filename();
        if (std::string error = checkName(path, name); !error.empty())
            return fail(std::move(error));
        if (const auto [it, inserted] = pathOfName.emplace(name, path); !inserted)
            return fail(inQuotes(path) + " and " + inQuotes(it->second) + " have the same name '" +
                        name + "'; the receiver would keep only one");

        EntryBytes entry{};
        if (EncodeTransferEntry(absolute, info.st_size, entry) != EntryError::None)
            return fail(inQuotes(path) + " cannot be listed in the file table");
        result.files.push_back({absolute, int64_t(info.st_size)});
    }
    return result;
}

} // namespace zapfer::cli
