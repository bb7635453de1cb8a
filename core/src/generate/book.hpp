#pragma once
// The order book snapshot at a bar's close: book_depth levels each side, one
// basis point apart, quantities decaying with depth.
#include <cstdint>
#include <span>
#include <vector>

#include "generate/batch.hpp"
#include "generate/rng.hpp"

namespace synth::generate {

// exp(k * -0.3) * 5.0 for every level k: depends only on the depth, so a run
// computes it once.
std::vector<double> level_scales(std::uint64_t book_depth);

// Appends the bar's bids, then its asks, to the batch's level columns and
// returns the half spread, which the bar's trades reuse. `close` and `f` are
// unrounded; `spread_fraction` is spread_bps / 10000.0. Draws one uniform per
// level, all bids first, then all asks.
double append_book(double close, double f, double vol, double spread_fraction,
                   std::span<const double> scales, SeededRng& rng, ColumnBatch& batch);

// The full spread of a book around `price`: widens with the bar's move
// measured in regime volatilities, and is price * spread_fraction at f = 0.
double book_spread(double price, double f, double vol, double spread_fraction);

// Appends levels stepping `tick` away from the given best bid and best ask,
// quantities from one uniform per level, all bids first, then all asks.
void append_levels(double best_bid, double best_ask, double tick, std::span<const double> scales,
                   SeededRng& rng, ColumnBatch& batch);

}  // namespace synth::generate
