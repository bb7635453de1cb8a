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

std::vector<Trade> draw_trades(double trade_rate, double limit, double close, double half_spread,
                               std::int64_t ts, std::uint64_t& next_seq, SeededRng& rng) {
    const std::uint64_t count = draw_trade_count(trade_rate, limit, rng);
    std::vector<Trade> trades;
    trades.reserve(count);
    for (std::uint64_t m = 0; m < count; ++m) {
        const double ua = rng.next_f64();
        const double price = (((ua + ua) + (-1.0)) * half_spread) + close;
        const double ub = rng.next_f64();
        const double qty = ub + 0.5;
        // Compared before rounding; a trade exactly at the close is a buy.
        const Side side = price < close ? Side::sell : Side::buy;
        trades.push_back(Trade{ts, next_seq + m, round8(price), round8(qty), side});
    }
    next_seq += count;
    return trades;
}

}  // namespace synth::generate
