#include "generate/ticks.hpp"

#include <algorithm>
#include <cmath>

#include "generate/book.hpp"
#include "generate/round8.hpp"

namespace synth::generate {
namespace {

// Seconds since midnight UTC of a timestamp, also before 1970.
std::int64_t time_of_day(std::int64_t ts) {
    const std::int64_t day = 86400;
    const std::int64_t r = ts % day;
    return r < 0 ? r + day : r;
}

}  // namespace

TickStage::TickStage(const TickParams& params, SeededRng arrivals, SeededRng prices)
    : params_(params),
      arrivals_(arrivals),
      prices_(prices),
      innovation_scale_(params.clustering *
                        std::sqrt(1.0 - (kActivityPersistence * kActivityPersistence))),
      half_variance_((params.clustering * params.clustering) * 0.5),
      peak_weight_(params.session == Session::u_shape ? 1.0 + kSessionAmplitude : 1.0),
      bar_nanos_(params.bar_secs * kNanosPerSecond),
      last_price_(params.start_price),
      last_stored_(stored8(params.start_price)) {}

std::size_t TickStage::expected_trades(std::uint64_t bars) const {
    const double rate = params_.trade_rate;
    if (!(rate > 0.0)) return 0;
    const double mean = rate * static_cast<double>(bars);
    return static_cast<std::size_t>(mean + 4.0 * std::sqrt(mean) + 16.0);
}

double TickStage::activity() {
    const double z = arrivals_.next_normal();
    // The first bar starts from the stationary law, so every bar has mean 1.
    if (!started_) {
        log_activity_ = z * params_.clustering;
        started_ = true;
    } else {
        log_activity_ = (log_activity_ * kActivityPersistence) + (z * innovation_scale_);
    }
    return std::min(std::exp(log_activity_ - half_variance_), kActivityCap);
}

std::span<const double> TickStage::draw_arrivals(std::int64_t ts) {
    times_.clear();
    if (!(params_.trade_rate > 0.0)) return {};
    const double factor = params_.clustering > 0.0 ? activity() : 1.0;
    // Candidates arrive at the peak rate by exponential spacings; the session
    // keeps each with probability weight / peak (thinning), which leaves a
    // Poisson process of the weighted rate.
    const double rate = (params_.trade_rate * factor) * peak_weight_;
    const double step = -1.0 / rate;
    const bool thin = params_.session == Session::u_shape;
    const double day_start = static_cast<double>(time_of_day(ts));
    const double bar_secs = static_cast<double>(params_.bar_secs);
    double s = 0.0;
    for (;;) {
        const double u = arrivals_.next_f64();
        s = (std::log(1.0 - u) * step) + s;
        if (!(s < 1.0)) break;
        if (thin) {
            const double v = arrivals_.next_f64();
            const double tau = (s * bar_secs) + day_start;
            const double weight =
                (std::cos((tau / kSecondsPerDay) * kTwoPi) * kSessionAmplitude) + 1.0;
            if (!((v * peak_weight_) < weight)) continue;
        }
        times_.push_back(s);
    }
    return times_;
}

bool TickStage::append_trades(const BarMove& move, double vol, std::int64_t ts,
                              std::uint64_t& next_seq, ColumnBatch& batch, TickCandle& candle) {
    const std::size_t count = times_.size();
    if (count == 0) {
        candle = {last_stored_, last_stored_, last_stored_, last_stored_, 0.0};
        return true;
    }
    const std::size_t room = batch.trades() + count;
    batch.trade_ts.ensure(room);
    batch.trade_ts_ns.ensure(room);
    batch.trade_seq.ensure(room);
    batch.trade_price.ensure(room);
    batch.trade_qty.ensure(room);
    batch.trade_side.ensure(room);

    const std::int64_t base_ns = ts * kNanosPerSecond;
    const double bar_nanos = static_cast<double>(bar_nanos_);
    const double last_time = times_[count - 1];
    double x = 0.0;  // log of price / open along the path
    double previous_time = times_[0];
    double volume = 0.0;
    bool finite = true;
    for (std::size_t k = 0; k < count; ++k) {
        const double s = times_[k];
        double price;
        if (k + 1 == count) {
            price = move.close;
        } else if (k == 0) {
            price = move.open;
        } else {
            // Brownian bridge from the open at the first trade to the close
            // at the last, variance vol^2 per bar.
            const double z = prices_.next_normal();
            const double dt = s - previous_time;
            const double rest = last_time - previous_time;
            if (rest > 0.0) {
                const double scale = std::sqrt((dt * (rest - dt)) / rest) * vol;
                x = (((move.f - x) * (dt / rest)) + x) + (z * scale);
            }
            price = std::exp(x) * move.open;
        }
        previous_time = s;
        const double u = prices_.next_f64();
        const double qty = (std::log(1.0 - u) * -0.99) + 0.01;
        // Tick rule: an uptick was bought, a downtick sold, no change keeps
        // the side of the trade before.
        if (price > last_price_) {
            last_side_ = Side::buy;
        } else if (price < last_price_) {
            last_side_ = Side::sell;
        }
        last_price_ = price;

        const double stored_price = stored8(price);
        const double stored_qty = stored8(qty);
        finite = finite && std::isfinite(stored_price);
        std::int64_t offset = static_cast<std::int64_t>(s * bar_nanos);
        offset = std::min(offset, bar_nanos_ - 1);
        batch.trade_ts.push_back(ts);
        batch.trade_ts_ns.push_back(base_ns + offset);
        batch.trade_seq.push_back(next_seq + k);
        batch.trade_price.push_back(stored_price);
        batch.trade_qty.push_back(stored_qty);
        batch.trade_side.push_back(static_cast<std::uint8_t>(last_side_));
        if (k == 0) {
            candle.open = candle.high = candle.low = stored_price;
        } else {
            candle.high = std::max(candle.high, stored_price);
            candle.low = std::min(candle.low, stored_price);
        }
        volume = volume + stored_qty;
        last_stored_ = stored_price;
    }
    next_seq += count;
    candle.close = last_stored_;
    candle.volume = stored8(volume);
    return finite;
}

bool TickStage::append_bar(const BarMove& move, double vol, std::int64_t ts,
                           std::span<const double> scales, SeededRng& classic,
                           std::uint64_t& next_seq, ColumnBatch& batch) {
    draw_arrivals(ts);
    TickCandle candle;
    if (!append_trades(move, vol, ts, next_seq, batch, candle)) return false;
    batch.ts.push_back(ts);
    batch.open.push_back(candle.open);
    batch.high.push_back(candle.high);
    batch.low.push_back(candle.low);
    batch.close.push_back(candle.close);
    batch.volume.push_back(candle.volume);

    // The book as the latest trade left it: a buy lifted the best ask, a
    // sell hit the best bid, so that trade sits at the touch on its side.
    const double spread = book_spread(last_price_, move.f, vol, params_.spread_fraction);
    const double tick = last_price_ * 0.0001;
    if (last_side_ == Side::buy) {
        append_levels(last_price_ - spread, last_price_, tick, scales, classic, batch);
    } else {
        append_levels(last_price_, spread + last_price_, tick, scales, classic, batch);
    }
    batch.snapshot_ts.push_back(ts + params_.bar_secs);
    return true;
}

}  // namespace synth::generate
