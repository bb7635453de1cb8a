#pragma once
// The tick stage: trades at their own times inside the bar, priced along a
// path from the bar's open to its close, from which the candle is rebuilt
// exactly, and the book as it stands after the last trade. It replaces the
// classic trade stage when a spec asks for ticks and draws only from its two
// own streams; the book's quantities still come from the classic stream, in
// the classic order, so the classic stream keeps the draw pattern of the
// same spec with trade_rate 0. The formulas are written out in docs/ticks.md.
#include <cstdint>
#include <span>
#include <vector>

#include "generate/batch.hpp"
#include "generate/candle.hpp"
#include "generate/rng.hpp"
#include "spec/model.hpp"

namespace synth::generate {

using spec::Session;

struct TickParams {
    double trade_rate = 0.0;  // mean trades per bar
    double clustering = 0.0;  // standard deviation of the log activity; 0 = Poisson
    Session session = Session::flat;
    std::int64_t bar_secs = 0;
    double spread_fraction = 0.0;  // spread_bps / 10000.0
    double start_price = 0.0;      // reference of the book before the first trade
};

// Persistence per bar of the log activity (an AR(1) in bar steps).
inline constexpr double kActivityPersistence = 0.9;
// The activity factor never exceeds this many times the mean: a bound on one
// bar's work that moves the mean count by less than 0.05% at clustering 1.
inline constexpr double kActivityCap = 50.0;
// Depth of the U-shaped session profile: the intensity at time of day tau
// (seconds) is 1 + A cos(2 pi tau / 86400), 1.6 at midnight UTC, 0.4 at noon.
inline constexpr double kSessionAmplitude = 0.6;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr std::int64_t kNanosPerSecond = 1000000000;

// The stored candle of a tick bar: the aggregate of its stored trades.
struct TickCandle {
    double open = 0.0, high = 0.0, low = 0.0, close = 0.0, volume = 0.0;
};

class TickStage {
  public:
    // `arrivals` and `prices` are the run's two tick streams.
    TickStage(const TickParams& params, SeededRng arrivals, SeededRng prices);

    // Mean trades of `bars` bars plus a margin, for reserving columns.
    std::size_t expected_trades(std::uint64_t bars) const;

    // One bar: appends its trades (with trade_ts_ns), its candle, its book
    // (quantities drawn from `classic`, the book stamped ts + bar_secs) and
    // advances `next_seq`. `vol` is the bar's volatility per bar, the scale
    // of the path between the trades. Returns false, with the batch's bar
    // incomplete, when a trade price leaves the finite doubles.
    bool append_bar(const BarMove& move, double vol, std::int64_t ts,
                    std::span<const double> scales, SeededRng& classic, std::uint64_t& next_seq,
                    ColumnBatch& batch);

    // Arrival times of the next bar as fractions of the bar in [0, 1),
    // non-decreasing (exposed for tests of the arrival law).
    std::span<const double> draw_arrivals(std::int64_t ts);

  private:
    double activity();  // the next bar's activity factor, mean 1
    bool append_trades(const BarMove& move, double vol, std::int64_t ts, std::uint64_t& next_seq,
                       ColumnBatch& batch, TickCandle& candle);

    TickParams params_;
    SeededRng arrivals_;
    SeededRng prices_;
    double innovation_scale_;  // clustering * sqrt(1 - persistence^2)
    double half_variance_;     // clustering^2 / 2, so the factor has mean 1
    double peak_weight_;       // highest session weight, 1 + A or 1
    double log_activity_ = 0.0;
    bool started_ = false;
    std::int64_t bar_nanos_;
    double last_price_;  // unrounded price of the latest trade
    Side last_side_ = Side::buy;
    double last_stored_;  // its stored price: a bar without trades is flat here
    std::vector<double> times_;
};

}  // namespace synth::generate
