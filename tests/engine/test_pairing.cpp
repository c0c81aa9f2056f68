// The pairing code and its key, exactly as the construction writes them.

#include "pairing_code.h"
#include "tls_test_support.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace zapfer {
namespace {

using namespace tls_test;

// ---------------------------------------------------------------- the code

TEST(PairingCode, NewCodesAreTwelveAlphabetCharactersShownInThreeGroups) {
    const auto code = newPairingCode();
    ASSERT_TRUE(code.has_value());
    ASSERT_EQ(code->size(), 12u);
    for (const char c : *code)
        EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7')) << c;
    const std::string shown = formatPairingCode(*code);
    EXPECT_EQ(shown, code->substr(0, 4) + "-" + code->substr(4, 4) + "-" + code->substr(8, 4));
    EXPECT_EQ(formatPairingCode(kCode), "7KQ3-M4XD-2HVF");
    EXPECT_EQ(parsePairingCode(shown).code, *code);
}

TEST(PairingCode, EveryPositionCarriesItsFiveRandomBits) {
    // 1000 codes: P(a given symbol never appears at a given position) is
    // (31/32)^1000, about 1.6e-14, so a missing one means lost bits.
    std::set<std::string> codes;
    std::vector<std::set<char>> seen(12);
    for (int i = 0; i < 1000; ++i) {
        const auto code = newPairingCode();
        ASSERT_TRUE(code.has_value());
        codes.insert(*code);
        for (size_t p = 0; p < 12; ++p)
            seen[p].insert((*code)[p]);
    }
    EXPECT_EQ(codes.size(), 1000u);
    for (size_t p = 0; p < 12; ++p)
        EXPECT_EQ(seen[p].size(), 32u) << "position " << p;
}

TEST(PairingCode, TypedFormsAreAcceptedWhateverTheCaseSpacesAndDashes) {
    for (const char* typed :
         {"7KQ3-M4XD-2HVF", "7kq3-m4xd-2hvf", "7KQ3M4XD2HVF", " 7kQ3 m4Xd 2hvF ",
          "--7KQ3--M4XD 2HVF-", "7 K Q 3 M 4 X D 2 H V F"}) {
        const ParsedPairingCode parsed = parsePairingCode(typed);
        EXPECT_TRUE(parsed.valid()) << typed;
        EXPECT_EQ(parsed.code, kCode) << typed;
    }
}

TEST(PairingCode, AnythingElseIsRefusedWithItsReason) {
    struct Case {
        const char* typed;
        PairingCodeProblem problem;
        char character;
        size_t position;
        size_t length;
    };
    const Case cases[] = {
        {"", PairingCodeProblem::Empty, 0, 0, 0},
        {" - -- ", PairingCodeProblem::Empty, 0, 0, 0},
        {"7KQ3-M4XD-2HV", PairingCodeProblem::WrongLength, 0, 0, 11},
        {"7KQ3-M4XD-2HVFA", PairingCodeProblem::WrongLength, 0, 0, 13},
        // 0, 1, 8 and 9 are not in the alphabet (0 and O, 1 and I look alike).
        {"7KQ3-M4XD-2HV0", PairingCodeProblem::BadCharacter, '0', 13, 0},
        {"1KQ3M4XD2HVF", PairingCodeProblem::BadCharacter, '1', 0, 0},
        {"7KQ3-M8XD-2HVF", PairingCodeProblem::BadCharacter, '8', 6, 0},
        {"7KQ3_M4XD_2HVF", PairingCodeProblem::BadCharacter, '_', 4, 0},
        {"7KQ3\tM4XD2HVF", PairingCodeProblem::BadCharacter, '\t', 4, 0},
        {"7KQ3-M4XD-2HVF\n", PairingCodeProblem::BadCharacter, '\n', 14, 0},
        {"7KQ3-M4XD-2H\xC3\x9C", PairingCodeProblem::BadCharacter, '\xC3', 12, 0},
    };
    for (const Case& c : cases) {
        const ParsedPairingCode parsed = parsePairingCode(c.typed);
        EXPECT_FALSE(parsed.valid()) << c.typed;
        EXPECT_TRUE(parsed.code.empty()) << c.typed;
        EXPECT_EQ(parsed.problem, c.problem) << c.typed;
        EXPECT_EQ(parsed.character, c.character) << c.typed;
        EXPECT_EQ(parsed.position, c.position) << c.typed;
        EXPECT_EQ(parsed.length, c.length) << c.typed;
    }
    // Embedded NUL is a character like any other.
    const ParsedPairingCode nul = parsePairingCode(std::string_view("7KQ3\0M4XD2HVF", 13));
    EXPECT_EQ(nul.problem, PairingCodeProblem::BadCharacter);
    EXPECT_EQ(nul.position, 4u);
}

// ----------------------------------------------------------------- the key

TEST(PairingKey, AFixedCodeGivesTheKnownKeyWhicheverWayItIsTyped) {
    EXPECT_EQ(hex(keyOf(kCode)), kCodeKeyHex);
    EXPECT_EQ(hex(keyOf("7kq3-m4xd 2hvf")), kCodeKeyHex);
    EXPECT_NE(hex(keyOf(kOtherCode)), kCodeKeyHex);
    EXPECT_FALSE(derivePairingKey("7KQ3-M4XD-2HV0").has_value());
    EXPECT_FALSE(derivePairingKey("").has_value());
}

// Runs a command and returns what it printed; empty when it could not run.
std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr && output.size() < 65536)
        output += chunk;
    ::pclose(pipe);
    return output;
}

TEST(PairingKey, AgreesWithTheOpensslCommandLineScrypt) {
    const std::string printed =
        commandOutput("openssl kdf -keylen 32 -kdfopt pass:7KQ3M4XD2HVF "
                      "-kdfopt salt:zapfer-pairing-1 -kdfopt n:32768 -kdfopt r:8 -kdfopt p:1 "
                      "-kdfopt maxmem_bytes:67108864 SCRYPT 2>/dev/null");
    std::string digits;
    for (const char c : printed)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += char(std::tolower(static_cast<unsigned char>(c)));
    if (digits.size() != 64)
        GTEST_SKIP() << "this openssl cannot run scrypt: " << printed;
    EXPECT_EQ(digits, kCodeKeyHex);
    EXPECT_EQ(digits, hex(keyOf(kCode)));
}

} // namespace
} // namespace zapfer
