#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "generate/book.hpp"
#include "generate/candle.hpp"
#include "generate/round8.hpp"
#include "generate/ticks.hpp"

namespace {

using namespace synth::generate;

SeededRng rng(std::uint64_t seed) {
    return SeededRng::from_seed(seed);
}

struct TickCase {
    double rate, clustering;
    Session session;
    std::int64_t bar_secs;
    double spread_bps, vol;
};

// Runs `bars` bars of a trend walk through the tick stage into one batch.
ColumnBatch tick_bars(const TickCase& c, std::uint64_t bars, std::int64_t start_ts) {
    const TickParams params{c.rate,     c.clustering,           c.session,
                            c.bar_secs, c.spread_bps / 10000.0, 100.0};
    TickStage stage(params, rng(3), rng(4));
    SeededRng classic = rng(1);
    const synth::spec::Regime regime{synth::spec::RegimeKind::trend, bars, 0.0001, c.vol};
    const std::vector<double> scales = level_scales(3);
    ColumnBatch batch;
    batch.reset(0, bars, 3, stage.expected_trades(bars), 0, false, true);
    std::uint64_t seq = 0;
    double price = 100.0;
    for (std::uint64_t j = 0; j < bars; ++j) {
        const BarMove move = draw_move(regime, price, price, classic);
        const std::int64_t ts = start_ts + static_cast<std::int64_t>(j) * c.bar_secs;
        EXPECT_TRUE(stage.append_bar(move, c.vol, ts, scales, classic, seq, batch));
        price = move.close;
    }
    return batch;
}

class TickIdentity : public ::testing::TestWithParam<TickCase> {};

// The candle is the aggregate of its trades; times lie inside the bar; the
// book after the last trade holds that trade at its touch.
TEST_P(TickIdentity, CandlesAreTheAggregateOfTheirTrades) {
    const TickCase& c = GetParam();
    const std::uint64_t bars = 300;
    const ColumnBatch b = tick_bars(c, bars, -7200);
    ASSERT_EQ(b.bars(), bars);
    ASSERT_EQ(b.trade_ts_ns.size(), b.trades());
    std::size_t t = 0;
    double previous_close = round8(100.0);
    for (std::size_t j = 0; j < bars; ++j) {
        const std::size_t first = t;
        double high = -INFINITY, low = INFINITY, volume = 0.0;
        for (; t < b.trades() && b.trade_ts[t] == b.ts[j]; ++t) {
            ASSERT_EQ(b.trade_seq[t], t);
            ASSERT_GE(b.trade_ts_ns[t], b.ts[j] * kNanosPerSecond);
            ASSERT_LT(b.trade_ts_ns[t], (b.ts[j] + c.bar_secs) * kNanosPerSecond);
            if (t > first) {
                ASSERT_GE(b.trade_ts_ns[t], b.trade_ts_ns[t - 1]);
            }
            high = std::max(high, b.trade_price[t]);
            low = std::min(low, b.trade_price[t]);
            volume = volume + b.trade_qty[t];
        }
        if (t == first) {
            const double flat[] = {previous_close, previous_close, previous_close, previous_close,
                                   0.0};
            const double got[] = {b.open[j], b.high[j], b.low[j], b.close[j], b.volume[j]};
            ASSERT_TRUE(std::equal(flat, flat + 5, got)) << "bar " << j;
        } else {
            ASSERT_EQ(b.open[j], b.trade_price[first]) << "bar " << j;
            ASSERT_EQ(b.close[j], b.trade_price[t - 1]);
            ASSERT_EQ(b.high[j], high);
            ASSERT_EQ(b.low[j], low);
            ASSERT_EQ(b.volume[j], round8(volume));
        }
        previous_close = b.close[j];
        ASSERT_EQ(b.snapshot_ts[j], b.ts[j] + c.bar_secs);
        const double bid = b.level_price[j * 6], ask = b.level_price[j * 6 + 3];
        ASSERT_LE(bid, b.close[j]);
        ASSERT_GE(ask, b.close[j]);
        if (t != first) {
            const bool buy = b.trade_side[t - 1] == static_cast<std::uint8_t>(Side::buy);
            ASSERT_EQ(buy ? ask : bid, b.close[j]);
        }
    }
    EXPECT_EQ(t, b.trades());
}

INSTANTIATE_TEST_SUITE_P(Cases, TickIdentity,
                         ::testing::Values(TickCase{0.0, 0.0, Session::flat, 60, 2.0, 0.01},
                                           TickCase{0.3, 0.0, Session::flat, 60, 2.0, 0.01},
                                           TickCase{1.0, 0.6, Session::u_shape, 3600, 0.0, 0.01},
                                           TickCase{5.0, 0.0, Session::u_shape, 86400, 5.0, 0.0},
                                           TickCase{50.0, 1.0, Session::flat, 1, 2.0, 0.05},
                                           TickCase{2000.0, 0.3, Session::u_shape, 60, 1.0,
                                                    0.002}));

// A stage's arrival counts over many bars, and the pooled inter-arrival times.
struct Arrivals {
    std::vector<double> counts, gaps;
};
Arrivals arrivals(double rate, double clustering, Session session, std::int64_t bar_secs,
                  std::uint64_t bars) {
    TickStage stage({rate, clustering, session, bar_secs, 0.0, 100.0}, rng(11), rng(12));
    Arrivals a;
    double last = 0.0;
    bool have_last = false;
    for (std::uint64_t j = 0; j < bars; ++j) {
        const auto times = stage.draw_arrivals(static_cast<std::int64_t>(j) * bar_secs);
        a.counts.push_back(static_cast<double>(times.size()));
        for (double s : times) {
            const double now = static_cast<double>(j) + s;
            if (have_last) a.gaps.push_back(now - last);
            last = now;
            have_last = true;
        }
    }
    return a;
}

double mean(const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}
double variance(const std::vector<double>& v) {
    const double m = mean(v);
    double sum = 0.0;
    for (double x : v) sum += (x - m) * (x - m);
    return sum / static_cast<double>(v.size() - 1);
}
double lag1_correlation(const std::vector<double>& v) {
    const double m = mean(v);
    double num = 0.0, den = 0.0;
    for (std::size_t i = 0; i + 1 < v.size(); ++i) num += (v[i] - m) * (v[i + 1] - m);
    for (double x : v) den += (x - m) * (x - m);
    return num / den;
}

// Clustering 0 is a Poisson process: mean and variance of the counts within
// three standard errors of the rate, at small and large rates alike.
TEST(TickArrivals, ClusteringZeroIsPoisson) {
    for (double rate : {0.7, 12.0, 20000.0}) {
        const std::uint64_t bars = rate > 1000 ? 100 : 20000;
        const Arrivals a = arrivals(rate, 0.0, Session::flat, 60, bars);
        const double n = static_cast<double>(bars);
        EXPECT_NEAR(mean(a.counts), rate, 3.0 * std::sqrt(rate / n)) << rate;
        // Variance of the sample variance of a Poisson law: (rate + 2 rate^2) / n.
        EXPECT_NEAR(variance(a.counts), rate, 3.0 * std::sqrt((rate + 2.0 * rate * rate) / n))
            << rate;
    }
}

// Clustering > 0: the mean stays the rate, counts are over-dispersed, and
// inter-arrival times are positively autocorrelated (three standard errors
// of a correlation, 1 / sqrt(n), above 0).
TEST(TickArrivals, ClusteringOverDispersesAndCorrelatesGaps) {
    const double rate = 40.0;
    const std::uint64_t bars = 5000;
    const Arrivals a = arrivals(rate, 0.6, Session::flat, 60, bars);
    const double n = static_cast<double>(bars);
    // The mean of a persistent factor wanders more than a Poisson mean: allow
    // for the log activity's long-run variance, 0.36 (1 + 0.9) / (1 - 0.9).
    const double factor_var = (std::exp(0.36) - 1.0) * 19.0;
    EXPECT_NEAR(mean(a.counts), rate, 3.0 * std::sqrt((rate + rate * rate * factor_var) / n));
    EXPECT_GT(variance(a.counts), rate + 3.0 * std::sqrt((rate + 2.0 * rate * rate) / n));
    EXPECT_GT(lag1_correlation(a.gaps), 3.0 / std::sqrt(static_cast<double>(a.gaps.size())));
}

// The U-shaped session: hourly bars through whole days; the first and last
// hours of the UTC day hold more trades than the two middle hours.
TEST(TickArrivals, UShapeFavoursTheEdgesOfTheDay) {
    const std::uint64_t days = 200;
    const Arrivals a = arrivals(30.0, 0.0, Session::u_shape, 3600, days * 24);
    std::vector<double> by_hour(24, 0.0);
    for (std::size_t j = 0; j < a.counts.size(); ++j) by_hour[j % 24] += a.counts[j];
    const double edges = by_hour[0] + by_hour[23];
    const double middle = by_hour[11] + by_hour[12];
    // Both are Poisson totals: compare within three standard errors.
    EXPECT_GT(edges - middle, 3.0 * std::sqrt(edges + middle));
    EXPECT_NEAR(mean(a.counts), 30.0, 3.0 * std::sqrt(30.0 / static_cast<double>(days * 24)));
}

}  // namespace
