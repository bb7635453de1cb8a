#pragma once
// One bar's move: the regime's law of the log return and the OHLCV candle
// built from it.
#include <algorithm>
#include <cmath>
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
    double z = 0.0;      // the classic stream's normal shock
    double sigma = 0.0;  // the conditional vol used (the regime's vol for a classic bar)
    double jump = 0.0;   // the jump added to the log return, 0 when none
};

// The regime's law of the log return for an innovation `e` scaled by `scale`:
// the classic bar passes its normal shock z and the regime's vol.
inline double regime_return(spec::RegimeKind kind, double drift, double e, double scale,
                            double open, double anchor) {
    switch (kind) {
        case spec::RegimeKind::trend:
            return (e * scale) + drift;
        case spec::RegimeKind::range:
            return (e * scale) - (std::log(open / anchor) * drift);
        case spec::RegimeKind::crash:
            // Upward shocks halved, downward ones enlarged by half; always down.
            return (((std::fabs(e) * -0.5) + e) * scale) - std::fabs(drift);
        case spec::RegimeKind::vol:
            return e * scale;
    }
    return e * scale;
}

// The log return of a bar under the regime's law, given its normal shock z.
inline double log_return(const spec::Regime& regime, double z, double open, double anchor) {
    return regime_return(regime.kind, regime.drift, z, regime.vol, open, anchor);
}

// The candle of a move whose open and log return are set: close, then the
// range width from draw 3 (`width` is the larger of |f| and it) and the
// volume from draw 4 (`shock_size` is |z| for a classic bar).
inline void finish_candle(BarMove& move, double width, double shock_size, SeededRng& rng) {
    move.close = std::exp(move.f) * move.open;
    const double u3 = rng.next_f64();
    const double m = std::max(std::fabs(move.f), width);
    const double range = (u3 + 0.5) * m;
    move.high = std::exp(range * 0.5) * std::max(move.open, move.close);
    move.low = std::exp(range * -0.5) * std::min(move.open, move.close);
    const double u4 = rng.next_f64();
    move.volume = (((shock_size * 0.5) + 1.0) * 1000.0) * (u4 + 0.5);
}

// Draws the bar's four uniforms (normal shock, range width, volume) and
// computes its unrounded move.
BarMove draw_move(const spec::Regime& regime, double open, double anchor, SeededRng& rng);

bool is_finite(const BarMove& move);

// Appends the stored candle: every double rounded to eight decimals.
void append_candle(ColumnBatch& batch, const BarMove& move, std::int64_t ts);

}  // namespace synth::generate
