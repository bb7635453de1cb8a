#include "generate/generate.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "generate/book.hpp"
#include "generate/candle.hpp"
#include "generate/funding.hpp"
#include "generate/memory_budget.hpp"
#include "generate/rng.hpp"
#include "generate/trades.hpp"
#include "spec/validate.hpp"

namespace synth::generate {

Result<std::vector<BarRecord>, spec::SynthError> generate(const spec::GenSpec& spec) {
    if (auto valid = spec::validate(spec); !valid.ok()) {
        return Err{std::move(valid).error()};
    }
    const spec::Microstructure& micro = spec.microstructure;
    if (auto budget = check_memory_budget(spec.bars, micro.book_depth, micro.trade_rate,
                                          physical_memory_bytes());
        !budget.ok()) {
        return Err{std::move(budget).error()};
    }

    std::vector<BarRecord> records;
    records.reserve(spec.bars);
    std::vector<double> history;
    history.reserve(spec.bars);

    SeededRng rng = SeededRng::from_seed(spec.seed);
    const double spread_fraction = micro.spread_bps / 10000.0;
    const double poisson_limit = std::exp(-micro.trade_rate);
    const std::vector<double> scales = level_scales(micro.book_depth);

    double price = spec.start_price;
    double anchor = price;
    std::size_t regime_index = 0;
    std::uint64_t position = 0;
    std::int64_t ts = spec.start_ts;
    std::uint64_t next_seq = 0;

    for (std::uint64_t j = 0; j < spec.bars; ++j) {
        // Validation makes the regime lengths add up to bars, so the index
        // stays inside the list.
        const spec::Regime& regime = spec.regimes[regime_index];
        if (position == 0) {
            anchor = price;
        }
        const BarMove move = draw_move(regime, price, anchor, rng);
        if (!is_finite(move)) {
            return spec::numeric_error("price walk produced a non-finite value");
        }

        BarRecord record;
        record.candle = to_candle(move, ts);
        history.push_back(move.f);
        BookOutcome book =
            build_book(move.close, move.f, regime.vol, spread_fraction, scales, ts, rng);
        record.book = std::move(book.snapshot);
        record.trades = draw_trades(micro.trade_rate, poisson_limit, move.close, book.half_spread,
                                    ts, next_seq, rng);
        record.funding = funding_point(micro.funding, j, ts, history);
        records.push_back(std::move(record));

        // The timestamp past the last bar is never formed: it may not fit.
        if (j + 1 < spec.bars) {
            ts += spec.bar_secs;
        }
        position += 1;
        if (position == regime.len) {
            position = 0;
            regime_index += 1;
        }
        price = move.close;
    }
    return records;
}

}  // namespace synth::generate
