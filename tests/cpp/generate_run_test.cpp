#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "bar_records.hpp"
#include "generate/generate.hpp"
#include "generate/rng.hpp"
#include "spec/validate.hpp"

namespace {

using namespace synth::generate;
using namespace synth::test;
using synth::spec::FundingSpec;
using synth::spec::GenSpec;
using synth::spec::Regime;
using synth::spec::RegimeKind;
using synth::spec::SynthError;

GenSpec make_spec(std::vector<Regime> regimes, std::uint64_t depth = 2, double spread_bps = 5.0,
                  double trade_rate = 3.0) {
    GenSpec s;
    s.seed = 7;
    s.start_price = 100.0;
    for (const Regime& r : regimes) s.bars += r.len;
    s.regimes = std::move(regimes);
    s.microstructure.book_depth = depth;
    s.microstructure.spread_bps = spread_bps;
    s.microstructure.trade_rate = trade_rate;
    return s;
}

ColumnBatch run_batch(const GenSpec& s) {
    auto result = generate(s);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().render());
    return result.ok() ? std::move(result).value() : ColumnBatch{};
}

std::vector<Bar> run(const GenSpec& s) {
    return to_bars(run_batch(s));
}

double r8(double x) {
    return std::round(x * 100000000.0) / 100000000.0;
}

// An independent, straight-line walk through the draws of every bar, written
// from the rules rather than from the stage functions.
std::vector<Bar> reference(const GenSpec& s) {
    SeededRng rng = SeededRng::from_seed(s.seed);
    const auto& ms = s.microstructure;
    std::vector<Bar> out;
    std::vector<double> returns;
    double price = s.start_price, anchor = price;
    std::uint64_t seq = 0, j = 0;
    for (const Regime& reg : s.regimes) {
        anchor = price;
        for (std::uint64_t i = 0; i < reg.len; ++i, ++j) {
            const std::int64_t ts = s.start_ts + static_cast<std::int64_t>(j) * s.bar_secs;
            const double u1 = rng.next_f64(), u2 = rng.next_f64();
            const double z = std::cos(u2 * 6.283185307179586) *
                             std::sqrt(std::log(std::max(u1, 0x1.0p-1022)) * -2.0);
            double f = z * reg.vol;
            if (reg.kind == RegimeKind::trend) f = f + reg.drift;
            if (reg.kind == RegimeKind::range) f = f - std::log(price / anchor) * reg.drift;
            if (reg.kind == RegimeKind::crash)
                f = ((std::fabs(z) * -0.5) + z) * reg.vol - std::fabs(reg.drift);
            const double open = price, close = std::exp(f) * open;
            const double R = (rng.next_f64() + 0.5) * std::max(std::fabs(f), reg.vol);
            const double high = std::exp(R * 0.5) * std::max(open, close);
            const double low = std::exp(R * -0.5) * std::min(open, close);
            const double volume = ((std::fabs(z) * 0.5 + 1.0) * 1000.0) * (rng.next_f64() + 0.5);
            Bar rec;
            rec.candle = {ts, r8(open), r8(high), r8(low), r8(close), r8(volume)};
            returns.push_back(f);
            const double h = (close * (ms.spread_bps / 10000.0)) *
                             ((std::fabs(f) / (reg.vol + 0.000000001)) + 1.0) * 0.5;
            for (int side = 0; side < 2; ++side) {
                for (std::uint64_t k = 0; k < ms.book_depth; ++k) {
                    const double kd = static_cast<double>(k);
                    const double qty = (std::exp(kd * -0.3) * 5.0) * (rng.next_f64() + 1.0);
                    if (side == 0)
                        rec.bids.push_back({r8((close - h) - close * 0.0001 * kd), r8(qty)});
                    else
                        rec.asks.push_back({r8(close * 0.0001 * kd + (h + close)), r8(qty)});
                }
            }
            if (ms.trade_rate > 0) {
                std::uint64_t n = 0;
                for (double p = rng.next_f64(); p > std::exp(-ms.trade_rate); p *= rng.next_f64())
                    ++n;
                for (std::uint64_t m = 0; m < n; ++m) {
                    const double ua = rng.next_f64();
                    const double tp = ((ua + ua - 1.0) * h) + close;
                    const double q = rng.next_f64() + 0.5;
                    rec.trades.push_back(
                        {ts, seq++, r8(tp), r8(q), tp < close ? Side::sell : Side::buy});
                }
            }
            if (ms.funding && (j + 1) % ms.funding->interval_bars == 0) {
                const std::uint64_t w = ms.funding->interval_bars;
                double sum = returns[returns.size() - w];
                for (std::size_t q = returns.size() - w + 1; q < returns.size(); ++q)
                    sum += returns[q];
                rec.funding =
                    Funding{ts, r8((sum / static_cast<double>(w)) * ms.funding->sensitivity +
                                   ms.funding->base_rate)};
            }
            out.push_back(rec);
            price = close;
        }
    }
    return out;
}

struct RefCase {
    const char* name;
    GenSpec spec;
};

GenSpec with_funding(GenSpec s, std::uint64_t interval) {
    s.microstructure.funding = FundingSpec{interval, 0.0001, 0.5};
    return s;
}

class MatchesReference : public ::testing::TestWithParam<RefCase> {};

TEST_P(MatchesReference, EveryFieldBitForBit) {
    const GenSpec& s = GetParam().spec;
    expect_same_columns(run_batch(s), to_batch(reference(s), s.microstructure.book_depth));
}

INSTANTIATE_TEST_SUITE_P(
    Specs, MatchesReference,
    ::testing::Values(
        RefCase{"trend", with_funding(make_spec({{RegimeKind::trend, 1, 0.002, 0.01}}), 1)},
        RefCase{"range", with_funding(make_spec({{RegimeKind::range, 1, 0.3, 0.02}}), 1)},
        RefCase{"crash", with_funding(make_spec({{RegimeKind::crash, 1, 0.01, 0.03}}), 1)},
        RefCase{"vol", with_funding(make_spec({{RegimeKind::vol, 1, 0.5, 0.04}}), 1)},
        RefCase{"trend_then_range",
                make_spec({{RegimeKind::trend, 2, 0.01, 0.02}, {RegimeKind::range, 3, 0.4, 0.02}})},
        RefCase{"range_then_range", with_funding(make_spec({{RegimeKind::range, 2, 0.4, 0.05},
                                                            {RegimeKind::range, 3, 0.7, 0.05}}),
                                                 2)},
        RefCase{"no_trades", make_spec({{RegimeKind::vol, 4, 0, 0.02}}, 3, 5.0, 0.0)},
        RefCase{"many_trades_deep_book",
                with_funding(make_spec({{RegimeKind::crash, 6, -0.01, 0.02}}, 5, 12.0, 40.0), 3)},
        RefCase{"rate_beyond_limit", make_spec({{RegimeKind::trend, 1, 0, 0.01}}, 1, 5.0, 800.0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Generate, WalkAndCandleInvariants) {
    GenSpec s = make_spec({{RegimeKind::trend, 20, 0.001, 0.03},
                           {RegimeKind::crash, 20, 0.02, 0.05},
                           {RegimeKind::range, 20, 0.5, 0.02},
                           {RegimeKind::vol, 20, 0, 0.04}},
                          3, 8.0, 5.0);
    s.bar_secs = 60;
    const auto bars = run(s);
    ASSERT_EQ(bars.size(), 80u);
    std::uint64_t seq = 0;
    for (std::size_t j = 0; j < bars.size(); ++j) {
        const Bar& b = bars[j];
        const std::int64_t ts = s.start_ts + static_cast<std::int64_t>(j) * 60;
        EXPECT_EQ(b.candle.ts, ts);
        if (j + 1 < bars.size()) {
            EXPECT_EQ(bars[j + 1].candle.open, b.candle.close);
        }
        EXPECT_GE(b.candle.high, std::max(b.candle.open, b.candle.close));
        EXPECT_LE(b.candle.low, std::min(b.candle.open, b.candle.close));
        ASSERT_EQ(b.bids.size(), 3u);
        ASSERT_EQ(b.asks.size(), 3u);
        for (const Trade& t : b.trades) {
            EXPECT_EQ(t.ts, ts);
            EXPECT_EQ(t.seq, seq++);
            EXPECT_GE(t.price, b.bids[0].price);
            EXPECT_LE(t.price, b.asks[0].price);
            EXPECT_GE(t.qty, 0.5);
            EXPECT_LE(t.qty, 1.5);
        }
        EXPECT_FALSE(b.funding.has_value());
    }
    EXPECT_GT(seq, 0u);
}

struct FundingCase {
    std::uint64_t bars, interval;
    std::vector<std::size_t> funding_bars;
};
class FundingBars : public ::testing::TestWithParam<FundingCase> {};

TEST_P(FundingBars, OnlyAtTheEndOfCompleteIntervals) {
    const FundingCase& c = GetParam();
    const auto bars =
        run(with_funding(make_spec({{RegimeKind::vol, c.bars, 0, 0.02}}), c.interval));
    std::vector<std::size_t> got;
    for (std::size_t j = 0; j < bars.size(); ++j)
        if (bars[j].funding) got.push_back(j);
    EXPECT_EQ(got, c.funding_bars);
}

INSTANTIATE_TEST_SUITE_P(Intervals, FundingBars,
                         ::testing::Values(FundingCase{10, 4, {3, 7}}, FundingCase{3, 1, {0, 1, 2}},
                                           FundingCase{5, 6, {}}, FundingCase{8, 4, {3, 7}}));

// Pairs of specs whose candles must agree exactly on the first `same_bars` bars
// and differ on the next one (or agree throughout when that is every bar).
struct PairCase {
    const char* name;
    GenSpec a, b;
    std::size_t same_bars;
};
class SpecPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(SpecPairs, AgreeExactlyOnTheSharedPrefix) {
    const PairCase& c = GetParam();
    const auto a = run(c.a), b = run(c.b);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t j = 0; j < c.same_bars; ++j) {
        EXPECT_EQ(a[j].candle.close, b[j].candle.close) << "bar " << j;
        EXPECT_EQ(a[j].candle.volume, b[j].candle.volume) << "bar " << j;
    }
    if (c.same_bars < a.size()) {
        EXPECT_NE(a[c.same_bars].candle.close, b[c.same_bars].candle.close);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SpecPairs,
    ::testing::Values(
        PairCase{"crash_drift_sign", make_spec({{RegimeKind::crash, 6, -0.01, 0.02}}),
                 make_spec({{RegimeKind::crash, 6, 0.01, 0.02}}), 6},
        PairCase{
            "later_kind",
            make_spec({{RegimeKind::trend, 3, 0.01, 0.02}, {RegimeKind::vol, 3, 0.01, 0.02}}),
            make_spec({{RegimeKind::trend, 3, 0.01, 0.02}, {RegimeKind::crash, 3, 0.01, 0.02}}), 3},
        PairCase{"book_depth", make_spec({{RegimeKind::vol, 4, 0, 0.02}}, 2),
                 make_spec({{RegimeKind::vol, 4, 0, 0.02}}, 3), 1},
        PairCase{"funding_draws_nothing", make_spec({{RegimeKind::vol, 6, 0, 0.02}}),
                 with_funding(make_spec({{RegimeKind::vol, 6, 0, 0.02}}), 2), 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Generate, ZeroSpreadTradesAtTheCloseAsBuys) {
    const auto bars = run(make_spec({{RegimeKind::vol, 5, 0, 0.03}}, 2, 0.0, 6.0));
    for (const Bar& b : bars) {
        EXPECT_EQ(b.bids[0].price, b.candle.close);
        EXPECT_EQ(b.asks[0].price, b.candle.close);
        for (const Trade& t : b.trades) {
            EXPECT_EQ(t.price, b.candle.close);
            EXPECT_EQ(t.side, Side::buy);
        }
    }
}

TEST(Generate, SingleBarAtTheLastTimestamp) {
    GenSpec s = make_spec({{RegimeKind::trend, 1, 0, 0}});
    s.start_ts = std::numeric_limits<std::int64_t>::max();
    const auto bars = run(s);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].candle.ts, s.start_ts);
    EXPECT_EQ(bars[0].candle.high, 100.0);
    EXPECT_EQ(bars[0].candle.low, 100.0);
}

// The finiteness check looks at the unrounded values; a price above about
// 1.8e300 passes it, and its rounding, round(x * 1e8) / 1e8, overflows: it is
// stored as the one null NaN.
TEST(Generate, HugePricesPassTheCheckAndAreStoredAsNull) {
    GenSpec s = make_spec({{RegimeKind::trend, 1, 0, 0}}, 1, 0.0, 0.0);
    s.start_price = 1e305;
    const auto bars = run(s);
    ASSERT_EQ(bars.size(), 1u);
    for (double v : {bars[0].candle.open, bars[0].candle.high, bars[0].candle.low,
                     bars[0].candle.close, bars[0].bids[0].price, bars[0].asks[0].price}) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0x7FF8000000000000ULL);
    }
    EXPECT_TRUE(std::isfinite(bars[0].candle.volume));
    EXPECT_TRUE(std::isfinite(bars[0].bids[0].qty));
}

struct ErrorCase {
    const char* name;
    GenSpec spec;
    SynthError::Kind kind;
    std::string message;
};
class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, ReportedAsValues) {
    const auto result = generate(GetParam().spec);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, GetParam().kind);
    EXPECT_EQ(result.error().message, GetParam().message);
}

GenSpec huge_run() {
    GenSpec s = make_spec({{RegimeKind::vol, 1000000000000000ULL, 0, 0.01}}, 10);
    s.bar_secs = 1;
    return s;
}
GenSpec no_bars() {
    GenSpec s = make_spec({{RegimeKind::vol, 1, 0, 0.01}});
    s.bars = 0;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, Errors,
    ::testing::Values(
        ErrorCase{"overflowing_drift", make_spec({{RegimeKind::trend, 3, 800, 0.01}}),
                  SynthError::Kind::Numeric, "price walk produced a non-finite value"},
        ErrorCase{"validation_unchanged", no_bars(), SynthError::Kind::BadSpec, "bars must be > 0"},
        ErrorCase{"too_many_bars", huge_run(), SynthError::Kind::Memory,
                  "a run of 1000000000000000 bars with book_depth 10 needs more memory than this "
                  "machine has"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
