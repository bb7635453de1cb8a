#include "generate/book.hpp"

#include <cmath>

#include "generate/round8.hpp"

namespace synth::generate {

std::vector<double> level_scales(std::uint64_t book_depth) {
    std::vector<double> scales;
    scales.reserve(book_depth);
    for (std::uint64_t k = 0; k < book_depth; ++k) {
        scales.push_back(std::exp(static_cast<double>(k) * -0.3) * 5.0);
    }
    return scales;
}

BookOutcome build_book(double close, double f, double vol, double spread_fraction,
                       std::span<const double> scales, std::int64_t ts, SeededRng& rng) {
    const double spread = (close * spread_fraction) * ((std::fabs(f) / (vol + 0.000000001)) + 1.0);
    const double half = spread * 0.5;
    const double tick = close * 0.0001;
    const double best_bid = close - half;
    const double best_ask = half + close;

    BookOutcome out;
    out.half_spread = half;
    out.snapshot.ts = ts;
    const std::size_t depth = scales.size();

    std::vector<BookLevel>& bids = out.snapshot.bids;
    bids.reserve(depth);
    for (std::size_t k = 0; k < depth; ++k) {
        const double u = rng.next_f64();
        const double price = best_bid - (tick * static_cast<double>(k));
        const double qty = scales[k] * (u + 1.0);
        bids.push_back(BookLevel{round8(price), round8(qty)});
    }

    std::vector<BookLevel>& asks = out.snapshot.asks;
    asks.reserve(depth);
    for (std::size_t k = 0; k < depth; ++k) {
        const double u = rng.next_f64();
        const double price = (tick * static_cast<double>(k)) + best_ask;
        const double qty = scales[k] * (u + 1.0);
        asks.push_back(BookLevel{round8(price), round8(qty)});
    }
    return out;
}

}  // namespace synth::generate
