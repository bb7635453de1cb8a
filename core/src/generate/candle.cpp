#include "generate/candle.hpp"

#include <algorithm>
#include <cmath>

#include "generate/round8.hpp"

namespace synth::generate {

double log_return(const spec::Regime& regime, double z, double open, double anchor) {
    const double vol = regime.vol;
    const double drift = regime.drift;
    switch (regime.kind) {
        case spec::RegimeKind::trend:
            return (z * vol) + drift;
        case spec::RegimeKind::range:
            return (z * vol) - (std::log(open / anchor) * drift);
        case spec::RegimeKind::crash:
            // Upward shocks halved, downward ones enlarged by half; always down.
            return (((std::fabs(z) * -0.5) + z) * vol) - std::fabs(drift);
        case spec::RegimeKind::vol:
            return z * vol;
    }
    return z * vol;
}

BarMove draw_move(const spec::Regime& regime, double open, double anchor, SeededRng& rng) {
    const double z = rng.next_normal();
    return move_from_shock(regime, open, anchor, z, rng);
}

BarMove move_from_shock(const spec::Regime& regime, double open, double anchor, double z,
                        SeededRng& rng) {
    BarMove move;
    move.abs_z = std::fabs(z);
    move.open = open;
    move.f = log_return(regime, z, open, anchor);
    move.close = std::exp(move.f) * open;

    const double u3 = rng.next_f64();
    const double m = std::max(std::fabs(move.f), regime.vol);
    const double range = (u3 + 0.5) * m;
    move.high = std::exp(range * 0.5) * std::max(open, move.close);
    move.low = std::exp(range * -0.5) * std::min(open, move.close);

    const double u4 = rng.next_f64();
    move.volume = (((move.abs_z * 0.5) + 1.0) * 1000.0) * (u4 + 0.5);
    return move;
}

bool is_finite(const BarMove& move) {
    return std::isfinite(move.open) && std::isfinite(move.high) && std::isfinite(move.low) &&
           std::isfinite(move.close) && std::isfinite(move.volume);
}

void append_candle(ColumnBatch& batch, const BarMove& move, std::int64_t ts) {
    batch.ts.push_back(ts);
    batch.open.push_back(stored8(move.open));
    batch.high.push_back(stored8(move.high));
    batch.low.push_back(stored8(move.low));
    batch.close.push_back(stored8(move.close));
    batch.volume.push_back(stored8(move.volume));
}

}  // namespace synth::generate
