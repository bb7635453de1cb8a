#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "generate/memory_budget.hpp"
#include "generate/round8.hpp"

namespace {

using synth::generate::check_memory_budget;
using synth::generate::round8;

struct BudgetCase {
    std::uint64_t bars, depth;
    std::optional<std::uint64_t> available;
    bool fits;
};
class MemoryBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(MemoryBudget, RefusesOverflowingOrOversizedRuns) {
    const BudgetCase& c = GetParam();
    const auto result = check_memory_budget(c.bars, c.depth, c.available);
    EXPECT_EQ(result.ok(), c.fits);
    if (!result.ok()) {
        EXPECT_EQ(result.error().kind, synth::spec::SynthError::Kind::Memory);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryBudget,
    ::testing::Values(BudgetCase{1, 1, 1u << 20, true}, BudgetCase{1000, 10, std::nullopt, true},
                      BudgetCase{1000, 10, 1000, false}, BudgetCase{1, 1u << 30, 1u << 30, false},
                      BudgetCase{UINT64_MAX, 1, std::nullopt, false},
                      BudgetCase{1, UINT64_MAX, std::nullopt, false},
                      BudgetCase{1ULL << 32, 1ULL << 32, std::nullopt, false}));

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
                      // Scaling would overflow: whole numbers kept.
                      RoundCase{1e305, 1e305},
                      RoundCase{1.7976931348623157e308, 1.7976931348623157e308}));

}  // namespace
