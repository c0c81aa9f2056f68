#include "pairing_store.h"

#include "pairing_code.h"
#include "pairing_key_file.h"
#include "stored_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace zapfer::cli {

namespace {
std::string trimmed(const std::string& line) {
    const size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return line.substr(begin, line.find_last_not_of(" \t\r") - begin + 1);
}

bool isKey(const std::string& line, const std::string& key) {
    const std::string text = trimmed(line);
    const size_t equals = text.find('=');
    return equals != std::string::npos && trimmed(text.substr(0, equals)) == key;
}

// The file's lines with the key set in [General], which is made when missing.
std::vector<std::string> withCode(std::vector<std::string> lines, const std::string& code) {
    const std::string entry = "PairingCode=" + code;
    std::string section;
    size_t generalEnd = std::string::npos; // the line after [General]'s last entry
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string text = trimmed(lines[i]);
        if (!text.empty() && text.front() == '[' && text.back() == ']') {
            section = text.substr(1, text.size() - 2);
            if (section == "General")
                generalEnd = i + 1;
            continue;
        }
        if (section != "General")
            continue;
        if (isKey(lines[i], "PairingCode")) {
            lines[i] = entry;
            return lines;
        }
        if (!text.empty())
            generalEnd = i + 1;
    }
    if (generalEnd == std::string::npos) {
        // QSettings reads [General] wherever it stands; first keeps it plain to see.
        const bool alone = lines.empty();
        lines.insert(lines.begin(), {"[General]", entry});
        if (!alone)
            lines.insert(lines.begin() + 2, "");
    } else {
        lines.insert(lines.begin() + ptrdiff_t(generalEnd), entry);
    }
    return lines;
}
} // namespace

std::string storePairingCode(const std::string& path, const std::string& code) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file(path);
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
        if (ec)
            return "cannot create " + file.parent_path().string() + ": " + ec.message();
    }
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        if (!in && fs::exists(file, ec))
            return "cannot read " + path;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    std::ostringstream text;
    for (const std::string& line : withCode(std::move(lines), code))
        text << line << '\n';
    const std::string bytes = text.str();

    // Written beside the file and renamed over it: a crash leaves the old
    // settings or the new, and the code is never readable by others, not
    // even for a moment. The name is unique (mkostemp makes the file 0600),
    // so that two runs at once each rename a whole file of their own.
    std::string temporary = path + ".zapfer-new-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += size_t(n);
    }
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    const int cause = errno;
    ::close(fd);
    if (!complete || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = complete ? errno : cause;
        ::unlink(temporary.c_str());
        return "cannot write " + path + ": " + std::strerror(error);
    }
    // The umask may have left group or other bits on a file made before.
    ::chmod(path.c_str(), 0600);
    return {};
}

int runPair() {
    const std::optional<std::string> code = newPairingCode();
    if (!code) {
        std::fprintf(stderr, "zapfer-cli: the system gave no random bytes for a pairing code\n");
        return 1;
    }
    const std::string path = storedSettingsPath();
    if (const std::string error = storePairingCode(path, *code); !error.empty()) {
        std::fprintf(stderr, "zapfer-cli: %s\n", error.c_str());
        return 1;
    }
    // The key is made now, while a person waits for the code anyway. Failing
    // that, an old code's key must not stay beside the new code.
    const std::string keyPath = pairingKeyFileBeside(path);
    if (!keptPairingKey(keyPath, *code) || !readPairingKeyFile(keyPath, *code))
        removePairingKeyFile(keyPath);
    std::printf("%s\n", formatPairingCode(*code).c_str());
    std::fprintf(stderr, "zapfer-cli: stored in %s; enter the same code on the other computer\n",
                 path.c_str());
    return 0;
}

std::optional<KnownPairingKey> storedPairingKey(const CliOptions& options) {
    if (!options.pairingCodeStored || options.pairingCode.empty())
        return std::nullopt;
    return keptPairingKey(pairingKeyFileBeside(storedSettingsPath()), options.pairingCode);
}

} // namespace zapfer::cli
