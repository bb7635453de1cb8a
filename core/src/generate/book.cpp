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

double append_book(double close, double f, double vol, double spread_fraction,
                   std::span<const double> scales, SeededRng& rng, ColumnBatch& batch) {
    const double spread = (close * spread_fraction) * ((std::fabs(f) / (vol + 0.000000001)) + 1.0);
    const double half = spread * 0.5;
    const double tick = close * 0.0001;
    const double best_bid = close - half;
    const double best_ask = half + close;
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
    return half;
}

}  // namespace synth::generate
