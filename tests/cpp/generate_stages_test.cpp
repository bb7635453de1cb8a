#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "generate/memory_budget.hpp"
#include "generate/round8.hpp"

namespace {

using synth::generate::check_memory_budget;
using synth::generate::round8;

struct BudgetCase {
    std::uint64_t bars, depth;
    double trade_rate;
    std::optional<std::uint64_t> available;
    bool fits;
};
class MemoryBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(MemoryBudget, RefusesOverflowingOrOversizedRuns) {
    const BudgetCase& c = GetParam();
    const auto result = check_memory_budget(c.bars, c.depth, c.trade_rate, c.available);
    EXPECT_EQ(result.ok(), c.fits);
    if (!result.ok()) {
        EXPECT_EQ(result.error().kind, synth::spec::SynthError::Kind::Memory);
    }
}

constexpr std::uint64_t kGiB = 1ULL << 30;

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryBudget,
    ::testing::Values(BudgetCase{1, 1, 1.0, 1u << 20, true},
                      BudgetCase{1000, 10, 3.0, std::nullopt, true},
                      BudgetCase{1000, 10, 3.0, 1000, false},
                      BudgetCase{1, 1u << 30, 0.0, 1u << 30, false},
                      BudgetCase{UINT64_MAX, 1, 0.0, std::nullopt, false},
                      BudgetCase{1, UINT64_MAX, 0.0, std::nullopt, false},
                      BudgetCase{1ULL << 32, 1ULL << 32, 0.0, std::nullopt, false},
                      // Ten million bars of five levels fit in 64 GiB without
                      // trades, not with about 745 trades per bar; the mean
                      // count stops growing with the rate once exp(-rate) is 0.
                      BudgetCase{10000000, 5, 0.0, 64 * kGiB, true},
                      BudgetCase{10000000, 5, 1e9, 64 * kGiB, false},
                      BudgetCase{10000, 5, 1e300, 16 * kGiB, true},
                      BudgetCase{UINT64_MAX / 2, 1, 1e300, std::nullopt, false}));

// The estimates cover what a command and a batch really hold at their peak,
// without claiming much more. A command's peak is its text and the caller's
// copy (the columns are released before the copy is made): measured at about
// 2.6 kB per bar with ten levels a side and three trades per bar, and 163 kB
// per bar with about 745 trades per bar, both for the stream, the longer
// shape. One batch of the same runs in columns alone: about 0.47 kB and 25 kB
// per bar; its estimate allows for the trade columns growing (old and new
// storage together).
TEST(MemoryBudget, EstimateCoversMeasuredPeaks) {
    using synth::generate::estimate_batch_bytes;
    using synth::generate::estimate_run_bytes;
    EXPECT_GE(*estimate_run_bytes(200000, 10, 3.0), 200000ULL * 2600);
    EXPECT_LE(*estimate_run_bytes(200000, 10, 3.0), 200000ULL * 5200);
    EXPECT_GE(*estimate_run_bytes(20000, 10, 1e9), 20000ULL * 163000);
    EXPECT_LE(*estimate_run_bytes(20000, 10, 1e9), 20000ULL * 326000);
    EXPECT_GE(*estimate_batch_bytes(200000, 10, 3.0), 200000ULL * 470);
    EXPECT_LE(*estimate_batch_bytes(200000, 10, 3.0), 200000ULL * 940);
    EXPECT_GE(*estimate_batch_bytes(20000, 10, 1e9), 20000ULL * 25000 * 2);
    EXPECT_LE(*estimate_batch_bytes(20000, 10, 1e9), 20000ULL * 25000 * 4);
}

// A batch needs far less than the whole run with its text: a run that cannot
// be made at once can still be made batch by batch.
TEST(MemoryBudget, BatchesFitWhereTheWholeRunDoesNot) {
    using synth::generate::check_batch_budget;
    constexpr std::uint64_t available = 8ULL << 30;
    EXPECT_FALSE(check_memory_budget(100000000, 10, 3.0, available).ok());
    EXPECT_TRUE(check_batch_budget(1000000, 10, 3.0, available).ok());
    const auto refused = check_batch_budget(UINT64_MAX, 1, 0.0, std::nullopt);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, synth::spec::SynthError::Kind::Memory);
    EXPECT_EQ(refused.error().message.rfind("a batch of 18446744073709551615 bars", 0), 0u)
        << refused.error().message;
}

// The wide book's fixed cost covers its header (and the caller's copy) at
// any depth, and one too large is refused before any header exists.
TEST(MemoryBudget, WideBookCoversItsHeader) {
    using synth::generate::check_wide_book_budget;
    using synth::generate::estimate_wide_book_bytes;
    for (std::uint64_t depth : {0ULL, 1ULL, 10ULL, 11ULL, 12345ULL}) {
        // "ts", per level ",bid_price_K,bid_qty_K,ask_price_K,ask_qty_K", "\n"
        std::uint64_t header = 3;
        for (std::uint64_t k = 0; k < depth; ++k) header += 40 + 4 * std::to_string(k).size();
        EXPECT_GE(*estimate_wide_book_bytes(depth), 2 * header) << depth;
    }
    EXPECT_TRUE(check_wide_book_budget(1000, 8ULL << 30).ok());
    for (std::uint64_t depth : {std::uint64_t{10000000}, std::uint64_t{UINT64_MAX}}) {
        const auto refused = check_wide_book_budget(depth, 8ULL << 30);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().kind, synth::spec::SynthError::Kind::Memory);
    }
}

struct RoundCase {
    double in, out;
};
class Round8 : public ::testing::TestWithParam<RoundCase> {};

TEST_P(Round8, EightDecimalsHalfAwayFromZero) {
    EXPECT_EQ(round8(GetParam().in), GetParam().out);
    EXPECT_EQ(round8(-GetParam().in), -GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Round8,
    ::testing::Values(RoundCase{1.234567891, 1.23456789}, RoundCase{0.000000125, 0.00000013},
                      RoundCase{100.0, 100.0}, RoundCase{1e-9, 0.0},
                      // Scaled values that are exact halves go away from zero,
                      // not to even: 0.5, 2.5 and 4.5 units of the last place.
                      RoundCase{5e-09, 1e-08}, RoundCase{2.5e-08, 3e-08}, RoundCase{4.5e-08, 5e-08},
                      RoundCase{1e300, 1e300},
                      // The scaled value overflows: the formula gives infinity.
                      RoundCase{1.8e300, INFINITY}, RoundCase{1.7976931348623157e308, INFINITY}));

TEST(Round8, KeepsTheSignOfValuesRoundedToZero) {
    EXPECT_TRUE(std::signbit(round8(-1e-12)));
    EXPECT_FALSE(std::signbit(round8(1e-12)));
}

}  // namespace
