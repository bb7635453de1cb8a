#include "generate/candle.hpp"

#include <cmath>

#include "generate/round8.hpp"

namespace synth::generate {

BarMove draw_move(const spec::Regime& regime, double open, double anchor, SeededRng& rng) {
    BarMove move;
    move.z = rng.next_normal();
    move.open = open;
    move.sigma = regime.vol;
    move.f = log_return(regime, move.z, open, anchor);
    finish_candle(move, regime.vol, std::fabs(move.z), rng);
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
