// The pairing key kept on disk: owner-only from its creation, believed only
// for its own code and only when nobody else could have put it there, and
// taken by the engine instead of deriving.

#include "engine_harness.h"
#include "paired_acceptor.h"
#include "pairing_key_file.h"
#include "tls_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace zapfer {
namespace {

using namespace tls_test;
using test::TempDir;
namespace fs = std::filesystem;

// A key no derivation gives: finding it proves the file was used.
PairingKey madeUpKey() {
    PairingKey key;
    for (size_t i = 0; i < key.bytes.size(); ++i)
        key.bytes[i] = uint8_t(0xA0 + i);
    return key;
}

const std::string kMadeUpHex = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";

void writeText(const fs::path& path, const std::string& text, mode_t mode) {
    fs::remove(path);
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

const std::string kGoodText = std::string("zapfer-pairing-1\n") + kCode + "\n" + kMadeUpHex + "\n";

TEST(PairingKeyFile, LivesBesideTheSettingsFile) {
    EXPECT_EQ(pairingKeyFileBeside("/home/ann/.config/Quorvel/Zapfer.conf"),
              "/home/ann/.config/Quorvel/Zapfer.pairing-key");
    EXPECT_EQ(pairingKeyFileBeside("/Zapfer.conf"), "/Zapfer.pairing-key");
    EXPECT_EQ(pairingKeyFileBeside("Zapfer.conf"), "./Zapfer.pairing-key");
}

TEST(PairingKeyFile, IsOwnerOnlyFromItsCreationAndReadBackForItsCodeOnly) {
    TempDir dir;
    const fs::path path = dir / "Zapfer.pairing-key";
    // Even a umask that lets everyone read must not open the file to others.
    const mode_t oldMask = ::umask(0);
    const bool written = writePairingKeyFile(path, {kCode, madeUpKey()});
    ::umask(oldMask);
    ASSERT_TRUE(written);
    EXPECT_EQ(modeOf(path), mode_t(0600));
    EXPECT_EQ(readText(path), kGoodText);
    // Nothing but the file is left in the folder (no temporary beside it).
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    for (const char* typed : {kCode, "7kq3-m4xd-2hvf", " 7KQ3 M4XD 2HVF"}) {
        const auto known = readPairingKeyFile(path, typed);
        ASSERT_TRUE(known.has_value()) << typed;
        EXPECT_EQ(known->code, kCode);
        EXPECT_EQ(hex(known->key), kMadeUpHex);
    }
    EXPECT_FALSE(readPairingKeyFile(path, kOtherCode));
    EXPECT_FALSE(readPairingKeyFile(path, ""));
    EXPECT_FALSE(readPairingKeyFile(path, "7KQ3M4XD2HV")); // not a code at all

    // A new write replaces the old file whole, still owner-only.
    ASSERT_TRUE(writePairingKeyFile(path, {kOtherCode, madeUpKey()}));
    EXPECT_EQ(modeOf(path), mode_t(0600));
    EXPECT_FALSE(readPairingKeyFile(path, kCode));
    EXPECT_TRUE(readPairingKeyFile(path, kOtherCode));

    EXPECT_TRUE(removePairingKeyFile(path));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(removePairingKeyFile(path)); // nothing there is no failure
}

TEST(PairingKeyFile, WritesOnlyStoredFormsAndFailsWithoutItsFolder) {
    TempDir dir;
    EXPECT_FALSE(writePairingKeyFile(dir / "Zapfer.pairing-key", {"7kq3m4xd2hvf", madeUpKey()}));
    EXPECT_FALSE(writePairingKeyFile(dir / "Zapfer.pairing-key", {"", madeUpKey()}));
    EXPECT_FALSE(fs::exists(dir / "Zapfer.pairing-key"));
    EXPECT_FALSE(writePairingKeyFile(dir / "missing" / "Zapfer.pairing-key", {kCode, madeUpKey()}));
}

TEST(PairingKeyFile, DamagedTextIsNotBelieved) {
    TempDir dir;
    const fs::path path = dir / "Zapfer.pairing-key";
    writeText(path, kGoodText, 0600);
    ASSERT_TRUE(readPairingKeyFile(path, kCode)); // the variants below differ only as named

    const std::string head = std::string("zapfer-pairing-1\n") + kCode + "\n";
    std::string upper = kMadeUpHex;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"empty", ""},
        {"another label", std::string("zapfer-pairing-2\n") + kCode + "\n" + kMadeUpHex + "\n"},
        {"code typed with dashes", "zapfer-pairing-1\n7KQ3-M4XD-2HVF\n" + kMadeUpHex + "\n"},
        {"upper-case hex", head + upper + "\n"},
        {"short key", head + kMadeUpHex.substr(2) + "\n"},
        {"long key", head + kMadeUpHex + "00\n"},
        {"not hex", head + kMadeUpHex.substr(0, 63) + "g\n"},
        {"no last line end", head + kMadeUpHex},
        {"a line more", kGoodText + "extra\n"},
        {"Windows line ends", "zapfer-pairing-1\r\n" + std::string(kCode) + "\r\n" + kMadeUpHex},
    };
    for (const auto& [name, text] : damaged) {
        writeText(path, text, 0600);
        EXPECT_FALSE(readPairingKeyFile(path, kCode)) << name;
    }
}

TEST(PairingKeyFile, AFileOthersCouldHaveWrittenOrReadIsNotBelieved) {
    TempDir dir;
    const fs::path path = dir / "Zapfer.pairing-key";
    for (const mode_t mode : {0644, 0640, 0604, 0400, 0700, 01600}) {
        writeText(path, kGoodText, mode);
        EXPECT_FALSE(readPairingKeyFile(path, kCode)) << std::oct << mode;
    }

    // A link to a good file: whoever can place links is not the owner.
    const fs::path target = dir / "elsewhere";
    writeText(target, kGoodText, 0600);
    fs::remove(path);
    fs::create_symlink(target, path);
    EXPECT_FALSE(readPairingKeyFile(path, kCode));

    // A FIFO is refused without waiting for a writer that never comes.
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(readPairingKeyFile(path, kCode));

    fs::remove(path);
    fs::create_directory(path);
    EXPECT_FALSE(readPairingKeyFile(path, kCode));
    fs::remove(path);

    if (::geteuid() != 0)
        GTEST_SKIP() << "another owner needs root to give the file away";
    writeText(path, kGoodText, 0600);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(readPairingKeyFile(path, kCode));
}

TEST(KeptPairingKey, TheFileStandsInForTheDerivationUntilItsCodeChanges) {
    TempDir dir;
    const fs::path path = dir / "Zapfer.pairing-key";
    // A key no derivation gives, in a sound file for the code: taken as it is.
    ASSERT_TRUE(writePairingKeyFile(path, {kCode, madeUpKey()}));
    const auto kept = keptPairingKey(path, "7kq3-m4xd-2hvf");
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(hex(kept->key), kMadeUpHex);

    // Another code: derived, and the file now holds that code's key.
    writeText(path, kGoodText, 0644); // untrusted as well; rewritten owner-only
    const auto derived = keptPairingKey(path, kCode);
    ASSERT_TRUE(derived.has_value());
    EXPECT_EQ(hex(derived->key), kCodeKeyHex);
    EXPECT_EQ(modeOf(path), mode_t(0600));
    EXPECT_EQ(readText(path),
              std::string("zapfer-pairing-1\n") + kCode + "\n" + kCodeKeyHex + "\n");

    // Where nothing can be written the key still comes, derived.
    const auto unwritable = keptPairingKey(dir / "missing" / "Zapfer.pairing-key", kCode);
    ASSERT_TRUE(unwritable.has_value());
    EXPECT_EQ(hex(unwritable->key), kCodeKeyHex);
    EXPECT_FALSE(keptPairingKey(path, "not a code"));
}

TEST(PairingKeyCache, TakesTheFrontEndsKeyOnlyForTheCodeItNames) {
    EngineSettings settings;
    settings.pairingCode = kCode;
    settings.pairingKey = KnownPairingKey{kCode, madeUpKey()};
    PairingKeyCache given;
    const PairingKey* key = given.keyFor(settings);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(hex(*key), kMadeUpHex);

    // A key left over from another code is never used for this one.
    settings.pairingKey = KnownPairingKey{kOtherCode, madeUpKey()};
    PairingKeyCache stale;
    key = stale.keyFor(settings);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(hex(*key), kCodeKeyHex);

    settings.pairingCode.clear();
    EXPECT_EQ(stale.keyFor(settings), nullptr);
}

} // namespace
} // namespace zapfer
