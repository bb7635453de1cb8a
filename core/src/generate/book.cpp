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

double book_spread(double price, double f, double vol, double spread_fraction) {
    return (price * spread_fraction) * ((std::fabs(f) / (vol + 0.000000001)) + 1.0);
}

void append_levels(double best_bid, double best_ask, double tick, std::span<const double> scales,
                   SeededRng& rng, ColumnBatch& batch) {
    const std::size_t depth = scales.size();
    for (std::size_t k = 0; k < depth; ++k) {
        const double u = rng.next_f64();
        batch.level_price.push_back(stored8(best_bid - (tick * static_cast<double>(k))));
        batch.level_qty.push_back(stored8(scales[k] * (u + 1.0)));
    }
    for (std::size_t k = 0; k < depth; ++k) {
        const double u = rng.next_f64();
        batch.level_price.push_back(stored8((tick * static_cast<double>(k)) + best_ask));
        batch.level_qty.push_back(stored8(scales[k] * (u + 1.0)));
    }
}

double append_book(double close, double f, double vol, double spread_fraction,
                   std::span<const double> scales, SeededRng& rng, ColumnBatch& batch) {
    const double half = book_spread(close, f, vol, spread_fraction) * 0.5;
    append_levels(close - half, half + close, close * 0.0001, scales, rng, batch);
    return half;
}

}  // namespace synth::generate
