#include "owner_name.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace zapfer {

namespace {
constexpr size_t kMaxOwnerBytes = 127;
}

std::string ownerNameFrom(const char* gecos, const char* login) {
    std::string fullName = gecos ? gecos : "";
    fullName = fullName.substr(0, fullName.find(','));
    for (const std::string& candidate : {fullName, std::string(login ? login : "")}) {
        if (!candidate.empty() && candidate.size() <= kMaxOwnerBytes)
            return candidate;
    }
    return "No Name";
}

std::string ownerName() {
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? size_t(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return ownerNameFrom(nullptr, nullptr);
    return ownerNameFrom(found->pw_gecos, found->pw_name);
}

} // namespace zapfer
