#include <gtest/gtest.h>

#include <cstddef>

#include "base/block_pool.hpp"

namespace {

using synth::base::acquire_block;
using synth::base::release_block;

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(BlockPool, ALargeBlockIsHandedOutAgain) {
    const auto first = acquire_block(3 * kMiB);
    ASSERT_GE(first.bytes, 3 * kMiB);
    release_block(first);
    const auto again = acquire_block(3 * kMiB);
    EXPECT_EQ(again.data, first.data);
    release_block(again);
}

struct Reuse {
    std::size_t cached, asked;
    bool reused;
};
class BlockPoolReuse : public ::testing::TestWithParam<Reuse> {};

// A cached block serves requests from half its size up to its size.
TEST_P(BlockPoolReuse, OnlyFittingCachedBlocksAreReused) {
    const Reuse r = GetParam();
    const auto cached = acquire_block(r.cached);
    release_block(cached);
    const auto next = acquire_block(r.asked);
    EXPECT_EQ(next.data == cached.data, r.reused);
    release_block(next);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockPoolReuse,
                         ::testing::Values(Reuse{4 * kMiB, 2 * kMiB, true},
                                           Reuse{4 * kMiB, 1 * kMiB, false},
                                           Reuse{4 * kMiB, 5 * kMiB, false}));

// Releasing far more than the pool keeps evicts the oldest blocks instead of
// refusing the newest: the last block released is always reusable.
TEST(BlockPool, TheNewestBlockIsKeptWhenThePoolIsFull) {
    for (int i = 0; i < 12; ++i) {
        const auto block = acquire_block((40 + i) * kMiB);
        release_block(block);
        const auto again = acquire_block((40 + i) * kMiB);
        EXPECT_EQ(again.data, block.data) << i;
        release_block(again);
    }
}

}  // namespace
