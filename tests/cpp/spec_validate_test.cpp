// Validation: the checks run in a fixed order and the first failure is reported
// with its fixed message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "spec/validate.hpp"

namespace synth::spec {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

// Two regimes covering 10 bars, with funding: passes every check.
GenSpec valid_spec() {
    GenSpec s;
    s.seed = 7;
    s.bars = 10;
    s.start_price = 100.0;
    s.regimes = {{RegimeKind::trend, 4, 0.001, 0.02}, {RegimeKind::crash, 6, -0.01, 0.05}};
    s.microstructure.book_depth = 5;
    s.microstructure.spread_bps = 2.0;
    s.microstructure.trade_rate = 3.0;
    s.microstructure.funding = FundingSpec{8, 0.0001, 0.5};
    return s;
}

void one_regime(GenSpec& s, std::uint64_t bars) {
    s.bars = bars;
    s.regimes = {{RegimeKind::range, bars, 0.0, 0.01}};
}

struct Case {
    const char* name;
    std::function<void(GenSpec&)> change;
    const char* message;  // nullptr: the spec passes
};

const char* const kBars = "bars must be > 0";
const char* const kPrice = "start_price must be finite and > 0";
const char* const kBarSecs = "bar_secs must be > 0";
const char* const kEmpty = "regimes must not be empty";
const char* const kLen = "regime len must be > 0";
const char* const kDrift = "regime drift must be finite";
const char* const kVol = "regime vol must be finite and >= 0";
const char* const kSum = "sum of regime lengths must equal bars";
const char* const kDepth = "book_depth must be > 0";
const char* const kSpread = "spread_bps must be finite and >= 0";
const char* const kRate = "trade_rate must be finite and >= 0";
const char* const kInterval = "funding.interval_bars must be > 0";
const char* const kFundingFinite = "funding base_rate and sensitivity must be finite";
const char* const kOverflow = "start_ts + (bars - 1) * bar_secs overflows i64";

const Case kCases[] = {
    {"valid", [](GenSpec&) {}, nullptr},
    {"bars_zero", [](GenSpec& s) { s.bars = 0; }, kBars},
    {"bars_zero_before_everything_else",
     [](GenSpec& s) {
         s = GenSpec{};
         s.start_price = kNaN;
         s.bar_secs = -1;
     },
     kBars},
    {"price_zero", [](GenSpec& s) { s.start_price = 0.0; }, kPrice},
    {"price_negative_zero", [](GenSpec& s) { s.start_price = -0.0; }, kPrice},
    {"price_negative", [](GenSpec& s) { s.start_price = -1.0; }, kPrice},
    {"price_nan", [](GenSpec& s) { s.start_price = kNaN; }, kPrice},
    {"price_inf", [](GenSpec& s) { s.start_price = kInf; }, kPrice},
    {"price_minus_inf", [](GenSpec& s) { s.start_price = -kInf; }, kPrice},
    {"price_subnormal_passes", [](GenSpec& s) { s.start_price = 5e-324; }, nullptr},
    {"bar_secs_zero_before_empty_regimes",
     [](GenSpec& s) {
         s.bar_secs = 0;
         s.regimes.clear();
     },
     kBarSecs},
    {"bar_secs_negative", [](GenSpec& s) { s.bar_secs = -3600; }, kBarSecs},
    {"bar_secs_min", [](GenSpec& s) { s.bar_secs = std::numeric_limits<std::int64_t>::min(); },
     kBarSecs},
    {"regimes_empty", [](GenSpec& s) { s.regimes.clear(); }, kEmpty},
    {"len_zero_not_sum",
     [](GenSpec& s) {
         s.bars = 5;
         s.regimes = {{RegimeKind::trend, 3, 0.0, 0.1}, {RegimeKind::vol, 0, 0.0, 0.1}};
     },
     kLen},
    {"drift_nan", [](GenSpec& s) { s.regimes[1].drift = kNaN; }, kDrift},
    {"drift_inf", [](GenSpec& s) { s.regimes[0].drift = -kInf; }, kDrift},
    {"vol_negative", [](GenSpec& s) { s.regimes[0].vol = -1e-300; }, kVol},
    {"vol_nan", [](GenSpec& s) { s.regimes[0].vol = kNaN; }, kVol},
    {"vol_inf", [](GenSpec& s) { s.regimes[0].vol = kInf; }, kVol},
    {"vol_negative_zero_passes", [](GenSpec& s) { s.regimes[0].vol = -0.0; }, nullptr},
    {"first_faulty_regime_wins",
     [](GenSpec& s) {
         s.regimes[0].vol = -1.0;
         s.regimes[1].len = 0;
     },
     kVol},
    {"within_regime_len_before_drift",
     [](GenSpec& s) {
         s.regimes[0].len = 0;
         s.regimes[0].drift = kNaN;
         s.regimes[0].vol = -1.0;
     },
     kLen},
    {"within_regime_drift_before_vol",
     [](GenSpec& s) {
         s.regimes[0].drift = kNaN;
         s.regimes[0].vol = -1.0;
     },
     kDrift},
    {"regime_fault_before_sum",
     [](GenSpec& s) {
         s.bars = 1000;
         s.regimes[1].drift = kInf;
     },
     kDrift},
    {"sum_short", [](GenSpec& s) { s.bars = 11; }, kSum},
    {"sum_long", [](GenSpec& s) { s.bars = 9; }, kSum},
    {"sum_wraps_to_bars",
     [](GenSpec& s) {
         s.bars = 1;
         s.regimes = {{RegimeKind::trend, kU64Max, 0.0, 0.0}, {RegimeKind::trend, 2, 0.0, 0.0}};
     },
     kSum},
    {"sum_wraps_to_zero_is_not_bars_zero",
     [](GenSpec& s) {
         s.bars = 1;
         s.regimes = {{RegimeKind::trend, kU64Max, 0.0, 0.0},
                      {RegimeKind::trend, 1, 0.0, 0.0},
                      {RegimeKind::trend, 1, 0.0, 0.0}};
     },
     kSum},
    {"sum_reaches_u64_max_exactly",
     [](GenSpec& s) {
         s.bars = kU64Max;
         s.bar_secs = 0;
         s.regimes = {{RegimeKind::trend, kU64Max - 1, 0.0, 0.0}, {RegimeKind::trend, 1, 0.0, 0.0}};
     },
     kBarSecs},
    {"sum_before_book_depth",
     [](GenSpec& s) {
         s.bars = 3;
         s.microstructure.book_depth = 0;
     },
     kSum},
    {"book_depth_zero", [](GenSpec& s) { s.microstructure.book_depth = 0; }, kDepth},
    {"book_depth_before_spread",
     [](GenSpec& s) {
         s.microstructure.book_depth = 0;
         s.microstructure.spread_bps = kNaN;
     },
     kDepth},
    {"spread_negative", [](GenSpec& s) { s.microstructure.spread_bps = -1e-300; }, kSpread},
    {"spread_nan", [](GenSpec& s) { s.microstructure.spread_bps = kNaN; }, kSpread},
    {"spread_inf", [](GenSpec& s) { s.microstructure.spread_bps = kInf; }, kSpread},
    {"spread_negative_zero_passes", [](GenSpec& s) { s.microstructure.spread_bps = -0.0; },
     nullptr},
    {"spread_before_rate",
     [](GenSpec& s) {
         s.microstructure.spread_bps = -1.0;
         s.microstructure.trade_rate = -1.0;
     },
     kSpread},
    {"rate_negative", [](GenSpec& s) { s.microstructure.trade_rate = -1e-300; }, kRate},
    {"rate_nan", [](GenSpec& s) { s.microstructure.trade_rate = kNaN; }, kRate},
    {"rate_inf", [](GenSpec& s) { s.microstructure.trade_rate = kInf; }, kRate},
    {"rate_negative_zero_passes", [](GenSpec& s) { s.microstructure.trade_rate = -0.0; }, nullptr},
    {"rate_before_interval",
     [](GenSpec& s) {
         s.microstructure.trade_rate = kNaN;
         s.microstructure.funding->interval_bars = 0;
     },
     kRate},
    {"interval_zero", [](GenSpec& s) { s.microstructure.funding->interval_bars = 0; }, kInterval},
    {"interval_before_rates",
     [](GenSpec& s) {
         s.microstructure.funding->interval_bars = 0;
         s.microstructure.funding->base_rate = kNaN;
     },
     kInterval},
    {"base_rate_nan", [](GenSpec& s) { s.microstructure.funding->base_rate = kNaN; },
     kFundingFinite},
    {"sensitivity_inf", [](GenSpec& s) { s.microstructure.funding->sensitivity = -kInf; },
     kFundingFinite},
    {"funding_negative_values_pass",
     [](GenSpec& s) {
         s.microstructure.funding->base_rate = -1.0;
         s.microstructure.funding->sensitivity = -1.0;
     },
     nullptr},
    {"funding_interval_larger_than_bars_passes",
     [](GenSpec& s) { s.microstructure.funding->interval_bars = kU64Max; }, nullptr},
    {"funding_before_overflow",
     [](GenSpec& s) {
         s.microstructure.funding->sensitivity = kNaN;
         s.start_ts = kI64Max;
     },
     kFundingFinite},
    {"no_funding_overflow_follows_rate",
     [](GenSpec& s) {
         s.microstructure.funding.reset();
         s.start_ts = kI64Max;
     },
     kOverflow},
    {"one_bar_never_overflows",
     [](GenSpec& s) {
         one_regime(s, 1);
         s.start_ts = kI64Max;
         s.bar_secs = kI64Max;
     },
     nullptr},
    {"one_bar_min_start_passes",
     [](GenSpec& s) {
         one_regime(s, 1);
         s.start_ts = std::numeric_limits<std::int64_t>::min();
         s.bar_secs = kI64Max;
     },
     nullptr},
    {"max_start_two_bars",
     [](GenSpec& s) {
         one_regime(s, 2);
         s.start_ts = kI64Max;
         s.bar_secs = 1;
     },
     kOverflow},
    {"last_timestamp_exactly_max_passes",
     [](GenSpec& s) {
         one_regime(s, 2);
         s.start_ts = kI64Max - 5;
         s.bar_secs = 5;
     },
     nullptr},
    {"last_timestamp_one_past_max",
     [](GenSpec& s) {
         one_regime(s, 2);
         s.start_ts = kI64Max - 4;
         s.bar_secs = 5;
     },
     kOverflow},
    {"product_overflows_though_sum_fits",
     [](GenSpec& s) {
         one_regime(s, 4611686018427387905ULL);
         s.start_ts = -4611686018427387904LL;
         s.bar_secs = 2;
     },
     kOverflow},
    {"product_exactly_max_passes",
     [](GenSpec& s) {
         one_regime(s, 4611686018427387904ULL);
         s.start_ts = 1;
         s.bar_secs = 2;
     },
     nullptr},
    {"n_above_i64_max",
     [](GenSpec& s) {
         one_regime(s, 9223372036854775809ULL);
         s.bar_secs = 1;
         s.start_ts = std::numeric_limits<std::int64_t>::min();
     },
     kOverflow},
    {"n_exactly_i64_max_with_min_start_passes",
     [](GenSpec& s) {
         one_regime(s, 9223372036854775808ULL);
         s.bar_secs = 1;
         s.start_ts = std::numeric_limits<std::int64_t>::min();
     },
     nullptr},
    {"n_max_bars_u64",
     [](GenSpec& s) {
         one_regime(s, kU64Max);
         s.bar_secs = 1;
     },
     kOverflow},
};

class ValidateTest : public ::testing::TestWithParam<Case> {};

TEST_P(ValidateTest, FirstFailingCheckIsReported) {
    GenSpec spec = valid_spec();
    GetParam().change(spec);
    const auto result = validate(spec);
    if (GetParam().message == nullptr) {
        EXPECT_TRUE(result.ok()) << result.error().message;
    } else {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind, SynthError::Kind::BadSpec);
        EXPECT_EQ(result.error().message, GetParam().message);
        EXPECT_EQ(result.error().render(), std::string("bad spec: ") + GetParam().message);
    }
    // Same answer on a second call.
    EXPECT_EQ(validate(spec).ok(), result.ok());
}

INSTANTIATE_TEST_SUITE_P(Rules, ValidateTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace synth::spec
