#include "pairing_key_file.h"

#include "hex_bytes.h"
#include "pairing_code.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdlib>

namespace zapfer {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr size_t kKeyHexLength = 2 * sizeof(PairingKey::bytes);
// Label, code and hex with their line ends; anything longer is not ours.
constexpr size_t kFileLength =
    kPairingLabel.size() + 1 + kPairingCodeLength + 1 + kKeyHexLength + 1;

// The text holds the key: it is wiped before its memory is given back.
class SecretText {
public:
    ~SecretText() { OPENSSL_cleanse(m_text.data(), m_text.size()); }
    std::string& text() { return m_text; }

private:
    std::string m_text;
};

std::string fileText(const KnownPairingKey& known) {
    std::string text;
    text.reserve(kFileLength);
    text.append(kPairingLabel).append(1, '\n').append(known.code).append(1, '\n');
    for (const uint8_t byte : known.key.bytes) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0xF];
    }
    text += '\n';
    return text;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t written = 0;
    // Each round writes something or ends; the count only bounds it.
    for (int round = 0; round < 1000 && written < bytes.size(); ++round) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += size_t(n);
    }
    return written == bytes.size();
}
} // namespace

std::string pairingKeyFileBeside(const std::string& settingsPath) {
    const size_t slash = settingsPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : settingsPath.substr(0, slash);
    return (folder == "/" ? folder : folder + "/") + "Zapfer.pairing-key";
}

std::optional<KnownPairingKey> readPairingKeyFile(const std::string& path, std::string_view code) {
    const ParsedPairingCode parsed = parsePairingCode(code);
    if (!parsed.valid())
        return std::nullopt;
    // No link is followed, and a FIFO put there cannot hold the open up.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & 07777) != 0600 ||
        status.st_size != off_t(kFileLength))
        return std::nullopt;
    SecretText content;
    std::string& text = content.text();
    text.resize(kFileLength + 1); // one more: a file grown meanwhile shows
    size_t got = 0;
    for (int round = 0; round < 100 && got < text.size(); ++round) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    if (got != kFileLength)
        return std::nullopt;
    text.resize(got);

    std::string expectedHead(kPairingLabel);
    expectedHead.append(1, '\n').append(parsed.code).append(1, '\n');
    if (text.compare(0, expectedHead.size(), expectedHead) != 0 || text.back() != '\n')
        return std::nullopt;
    KnownPairingKey known;
    known.code = parsed.code;
    // Lower case only: the file is only ever written so.
    const std::string_view hex(text.data() + expectedHead.size(), kKeyHexLength);
    if (!decodeHex(hex, known.key.bytes, HexCase::LowerOnly))
        return std::nullopt;
    return known;
}

bool writePairingKeyFile(const std::string& path, const KnownPairingKey& known) {
    if (!parsePairingCode(known.code).valid() || parsePairingCode(known.code).code != known.code)
        return false;
    SecretText content;
    content.text() = fileText(known);
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600: no one else can
    // open the new file, not even for the moment before it is complete.
    std::string temporary = path + ".XXXXXX";
    const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd)
        return false;
    // A umask that takes the owner's own bits would leave a file that is
    // refused when read back.
    const bool written = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), content.text()) &&
                         ::fsync(fd.get()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool removePairingKeyFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::optional<KnownPairingKey> keptPairingKey(const std::string& path, std::string_view code) {
    if (std::optional<KnownPairingKey> kept = readPairingKeyFile(path, code))
        return kept;
    const ParsedPairingCode parsed = parsePairingCode(code);
    if (!parsed.valid())
        return std::nullopt;
    std::optional<PairingKey> key = derivePairingKey(parsed.code);
    if (!key)
        return std::nullopt;
    KnownPairingKey known{parsed.code, *key};
    writePairingKeyFile(path, known); // failing, the next run derives again
    return known;
}

} // namespace zapfer
