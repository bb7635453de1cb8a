#pragma once
// A bar's trades: a Poisson count, each priced uniformly inside the half-spread
// band around the close, numbered run-wide.
#include <cstdint>

#include "generate/batch.hpp"
#include "generate/rng.hpp"

namespace synth::generate {

// Multiplication method against `limit` = exp(-trade_rate); a count of N costs
// N + 1 uniforms. Draws nothing and returns 0 when trade_rate is not above 0.
std::uint64_t draw_trade_count(double trade_rate, double limit, SeededRng& rng);

// Appends the bar's trades to the batch. `close` and `half_spread` are the
// bar's unrounded values. Advances `next_seq` by the number of trades drawn.
void append_trades(double trade_rate, double limit, double close, double half_spread,
                   std::int64_t ts, std::uint64_t& next_seq, SeededRng& rng, ColumnBatch& batch);

}  // namespace synth::generate
