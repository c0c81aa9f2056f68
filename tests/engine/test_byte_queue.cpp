// The paired link's byte queues: bytes come out in the order they went in,
// whatever moving and growing the buffer did meanwhile.

#include "byte_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zapfer {
namespace {

void put(ByteQueue& queue, const std::string& text, size_t grownCapacity = 0) {
    uint8_t* space = queue.space(text.size(), grownCapacity);
    ASSERT_NE(space, nullptr);
    std::memcpy(space, text.data(), text.size());
    queue.added(text.size());
}

std::string held(const ByteQueue& queue) {
    return {reinterpret_cast<const char*>(queue.bytes().data()), queue.size()};
}

TEST(ByteQueue, BytesComeOutInOrderAcrossMovesAndGrowth) {
    ByteQueue queue;
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_NE(queue.space(0, 0), nullptr); // room for nothing is still a place
    put(queue, "abcdefgh", 10);
    EXPECT_EQ(held(queue), "abcdefgh");
    queue.drop(3);
    // Four more do not fit behind: the five waiting move to the front.
    const uint8_t* before = queue.bytes().data();
    put(queue, "ijkl", 10);
    EXPECT_EQ(held(queue), "defghijkl");
    EXPECT_NE(queue.bytes().data(), before);
    // More than the buffer holds: it grows, to the size asked at least.
    put(queue, std::string(100, 'x'), 50);
    EXPECT_EQ(held(queue), "defghijkl" + std::string(100, 'x'));
    queue.drop(1000); // more than is held: all of it
    EXPECT_EQ(queue.size(), 0u);
    put(queue, "again");
    EXPECT_EQ(held(queue), "again");
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
}

TEST(ByteQueue, ManyRoundsOfPartialUseKeepEveryByte) {
    ByteQueue queue;
    std::string in;
    std::string out;
    for (int round = 0; round < 2000; ++round) {
        const std::string chunk(size_t(round % 97 + 1), char('a' + round % 26));
        put(queue, chunk, 256);
        in += chunk;
        const size_t take = queue.size() / 2 + size_t(round % 3);
        const size_t taken = std::min(take, queue.size());
        out.append(reinterpret_cast<const char*>(queue.bytes().data()), taken);
        queue.drop(taken);
    }
    out += held(queue);
    EXPECT_TRUE(in == out);
}

} // namespace
} // namespace zapfer
