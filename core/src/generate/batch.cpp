#include "generate/batch.hpp"

namespace synth::generate {

void ColumnBatch::reset(std::uint64_t first, std::size_t bars, std::size_t depth,
                        std::size_t expected_trades, std::size_t funding_points, bool with_labels,
                        bool ticks) {
    first_bar = first;
    book_depth = depth;
    labels = with_labels;
    tick_times = ticks;
    for (Column<std::int64_t>* c :
         {&ts, &snapshot_ts, &trade_ts, &trade_ts_ns, &funding_ts, &label_regime}) {
        c->clear();
    }
    for (Column<double>* c : {&open, &high, &low, &close, &volume, &level_price, &level_qty,
                              &trade_price, &trade_qty, &funding_rate, &label_sigma, &label_jump}) {
        c->clear();
    }
    trade_seq.clear();
    trade_side.clear();
    label_kind.clear();
    if (with_labels) {
        label_regime.reserve(bars);
        label_kind.reserve(bars);
        label_sigma.reserve(bars);
        label_jump.reserve(bars);
    }

    ts.reserve(bars);
    for (Column<double>* c : {&open, &high, &low, &close, &volume}) c->reserve(bars);
    level_price.reserve(bars * 2 * depth);
    level_qty.reserve(bars * 2 * depth);
    trade_ts.reserve(expected_trades);
    trade_seq.reserve(expected_trades);
    trade_price.reserve(expected_trades);
    trade_qty.reserve(expected_trades);
    trade_side.reserve(expected_trades);
    if (ticks) {
        snapshot_ts.reserve(bars);
        trade_ts_ns.reserve(expected_trades);
    }
    funding_ts.reserve(funding_points);
    funding_rate.reserve(funding_points);
}

}  // namespace synth::generate
