// Received names as they are stored and printed: code-page bytes become
// UTF-8, every name is stored in NFC, and names that would fool a reader or
// a terminal are refused or shown escaped.

#include "received_names.h"

#include <gtest/gtest.h>

using namespace zapfer;

TEST(ReceivedNames, NamesThatFoolTheReaderAreRefused) {
    for (const std::string name : {
             "invoice\xC2\x85.txt", // U+0085, a C1 control
             "\xC2\x9B"
             "31mred", // U+009B, the terminal's CSI
             "gpj.\xE2\x80\xAE"
             "exe", // U+202E, right-to-left override
             "a\xE2\x80\xAA"
             "b", // U+202A
             "a\xE2\x81\xA6"
             "b", // U+2066, an isolate
             "a\xE2\x81\xA9"
             "b",                   // U+2069
             "C:\\dir\\x\xC2\x80y", // in the file part after a path
             "bad\x81name",         // Windows-1252 leaves 0x81 unassigned
         })
        EXPECT_EQ(receivedFileName(name), std::nullopt) << name;
    // Near neighbours that are harmless stay.
    EXPECT_EQ(receivedFileName("a\xE2\x80\xA9"
                               "b"),
              "a\xE2\x80\xA9"
              "b");                                              // U+2029
    EXPECT_EQ(receivedFileName("\xC2\xA0nbsp"), "\xC2\xA0nbsp"); // U+00A0
}

TEST(ReceivedNames, BytesThatAreNotUtf8AreTakenAsWindows1252) {
    EXPECT_EQ(receivedFileName("caf\xE9.txt"), "caf\xC3\xA9.txt");           // é
    EXPECT_EQ(receivedFileName("\x80 rates.xls"), "\xE2\x82\xAC rates.xls"); // €
    EXPECT_EQ(receivedFileName("C:\\Dokumente\\Gr\xFC\xDF"
                               "e.doc"),
              "Gr\xC3\xBC\xC3\x9F"
              "e.doc");
    // Overlong forms and lone surrogates are not UTF-8 either.
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x93\x84 doc"));
    EXPECT_EQ(receivedFileName("\xF0\x9F\x93\x84 doc"), "\xF0\x9F\x93\x84 doc");
    EXPECT_EQ(windows1252ToUtf8("\x9F\x8D"), "\xC5\xB8\xC2\x8D");
}

TEST(ReceivedNames, OneNameInTwoFormsIsStoredAsOne) {
    const std::string composed = "caf\xC3\xA9.txt";    // é as one code point
    const std::string decomposed = "cafe\xCC\x81.txt"; // e and a combining acute
    EXPECT_EQ(receivedFileName(composed), composed);
    EXPECT_EQ(receivedFileName(decomposed), composed);
    EXPECT_EQ(toNfc("\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB"), "\xED\x95\x9C"); // Hangul 한
    EXPECT_EQ(toNfc("A\xCC\x8A"), "\xC3\x85");                                // Å
}

TEST(ReceivedNames, TheEarlierRulesStillHold) {
    EXPECT_EQ(receivedFileName("C:\\Users\\bob\\.bash_profile"), "_bash_profile");
    EXPECT_EQ(receivedFileName(".."), std::nullopt);
    EXPECT_EQ(receivedFileName("tab\there"), std::nullopt);
    EXPECT_EQ(receivedFileName("dir\\"), std::nullopt);
    // A name grown past the file system's 255 bytes by its conversion.
    EXPECT_EQ(receivedFileName(std::string(120, '\x80')), std::nullopt);
    std::string euros;
    for (int i = 0; i < 85; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(receivedFileName(std::string(85, '\x80')), euros);
}

TEST(ReceivedNames, PrintedNamesCarryNoControlCharacters) {
    EXPECT_EQ(printableName("plain name.txt"), "plain name.txt");
    EXPECT_EQ(printableName("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(printableName("\x1B]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(printableName("a\x7F"
                            "b"),
              "a\\x7fb");
    EXPECT_EQ(printableName("\xC2\x9B"
                            "2J"),
              "\\u009b2J");
    EXPECT_EQ(printableName("gpj.\xE2\x80\xAE"
                            "exe"),
              "gpj.\\u202eexe");
    EXPECT_EQ(printableName("bad\xFF"), "bad\\xff");
}
