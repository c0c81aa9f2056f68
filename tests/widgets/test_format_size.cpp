#include "format_size.h"

#include <gtest/gtest.h>

using zapfer::FormatSize;

TEST(FormatSize, EachRangeWithOneDigitCutOff) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"},
        {1, "1B"},
        {1023, "1023B"},
        {1024, "1.0K"},
        {1536, "1.5K"},
        {10000, "9.7K"},
        {1048576, "1.0M"},
        {1572864, "1.5M"},
        {int64_t(3) << 30, "3.0G"},
        {(int64_t(5) << 30) + (int64_t(1) << 29), "5.5G"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(FormatSize(size).toStdString(), text) << size;
}

TEST(FormatSize, NeverASecondDigitAtTheTopOfARange) {
    // Remainders of 1000..1023 bytes (or their M and G counterparts) once
    // made the digit after the point 10.
    EXPECT_EQ(FormatSize(2047).toStdString(), "1.9K");
    EXPECT_EQ(FormatSize(1048575).toStdString(), "1023.9K");
    EXPECT_EQ(FormatSize((int64_t(2) << 20) - 1).toStdString(), "1.9M");
    EXPECT_EQ(FormatSize((int64_t(1) << 30) - 1).toStdString(), "1023.9M");
    EXPECT_EQ(FormatSize((int64_t(2) << 30) - 1).toStdString(), "1.9G");
    EXPECT_EQ(FormatSize((int64_t(3) << 30) - 1).toStdString(), "2.9G");
    // Sizes past 4 GiB keep their value; a 32-bit size would wrap.
    EXPECT_EQ(FormatSize((int64_t(1) << 32) + 10).toStdString(), "4.0G");
}
