#include "generate/trades.hpp"

#include "generate/round8.hpp"

namespace synth::generate {

std::uint64_t draw_trade_count(double trade_rate, double limit, SeededRng& rng) {
    if (!(trade_rate > 0.0)) {
        return 0;
    }
    // Ends at the latest when the running product reaches exactly 0.
    double p = 1.0;
    std::uint64_t n = 0;
    do {
        const double u = rng.next_f64();
        p = p * u;
        n = n + 1;
    } while (p > limit);
    return n - 1;
}

void append_trades(double trade_rate, double limit, double close, double half_spread,
                   std::int64_t ts, std::uint64_t& next_seq, SeededRng& rng, ColumnBatch& batch) {
    const std::uint64_t count = draw_trade_count(trade_rate, limit, rng);
    // The count is known before the first trade: room for all of them at once.
    const std::size_t room = batch.trades() + count;
    batch.trade_ts.ensure(room);
    batch.trade_seq.ensure(room);
    batch.trade_price.ensure(room);
    batch.trade_qty.ensure(room);
    batch.trade_side.ensure(room);
    for (std::uint64_t m = 0; m < count; ++m) {
        const double ua = rng.next_f64();
        const double price = (((ua + ua) + (-1.0)) * half_spread) + close;
        const double ub = rng.next_f64();
        const double qty = ub + 0.5;
        // Compared before rounding; a trade exactly at the close is a buy.
        const Side side = price < close ? Side::sell : Side::buy;
        batch.trade_ts.push_back(ts);
        batch.trade_seq.push_back(next_seq + m);
        batch.trade_price.push_back(stored8(price));
        batch.trade_qty.push_back(stored8(qty));
        batch.trade_side.push_back(static_cast<std::uint8_t>(side));
    }
    next_seq += count;
}

}  // namespace synth::generate
