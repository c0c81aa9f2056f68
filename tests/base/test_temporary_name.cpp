#include "temporary_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(TemporaryName, PrefixThenSixteenHexDigits) {
    const std::string name = zapfer::temporaryName(".zapfer-copy-");
    ASSERT_EQ(name.size(), std::string(".zapfer-copy-").size() + 16);
    EXPECT_EQ(name.rfind(".zapfer-copy-", 0), 0u);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 13), std::string::npos) << name;
    EXPECT_EQ(zapfer::temporaryName("").size(), 16u);
}

// Names drawn on several threads at once do not repeat: each thread has its
// own generator, seeded apart.
TEST(TemporaryName, NamesDoNotRepeatAcrossThreads) {
    constexpr int kThreads = 4;
    constexpr int kNames = 500;
    std::vector<std::vector<std::string>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kNames; ++i)
                drawn[size_t(t)].push_back(zapfer::temporaryName("p"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> unique;
    for (const auto& names : drawn)
        unique.insert(names.begin(), names.end());
    EXPECT_EQ(unique.size(), size_t(kThreads * kNames));
}

} // namespace
