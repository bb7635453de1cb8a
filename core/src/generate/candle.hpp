#pragma once
// One bar's move: the regime's law of the log return and the OHLCV candle
// built from it.
#include <cstdint>

#include "generate/batch.hpp"
#include "generate/rng.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// The bar's values before rounding; the walk continues from `close`.
struct BarMove {
    double f = 0.0;  // log return
    double open = 0.0;
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    double volume = 0.0;
    double abs_z = 0.0;
};

// The log return of a bar under the regime's law, given its normal shock z.
double log_return(const spec::Regime& regime, double z, double open, double anchor);

// Draws the bar's four uniforms (normal shock, range width, volume) and
// computes its unrounded move.
BarMove draw_move(const spec::Regime& regime, double open, double anchor, SeededRng& rng);

// The same move for a normal shock z drawn (and possibly mixed) by the caller;
// draws the range width and volume uniforms.
BarMove move_from_shock(const spec::Regime& regime, double open, double anchor, double z,
                        SeededRng& rng);

bool is_finite(const BarMove& move);

// Appends the stored candle: every double rounded to eight decimals.
void append_candle(ColumnBatch& batch, const BarMove& move, std::int64_t ts);

}  // namespace synth::generate
