#include "generate/run.hpp"

#include <algorithm>
#include <cmath>

#include "generate/book.hpp"
#include "generate/candle.hpp"
#include "generate/chain.hpp"
#include "generate/memory_budget.hpp"
#include "generate/streams.hpp"
#include "generate/trades.hpp"
#include "spec/validate.hpp"

namespace synth::generate {
namespace {

bool has_ticks(const spec::GenSpec& spec) {
    return spec.microstructure.ticks.has_value();
}

// The tick stage of a spec that asks for ticks, on its own two streams.
std::optional<TickStage> tick_stage(const spec::GenSpec& spec) {
    const spec::Microstructure& micro = spec.microstructure;
    if (!micro.ticks) return std::nullopt;
    const TickParams params{micro.trade_rate, micro.ticks->clustering,    micro.ticks->session,
                            spec.bar_secs,    micro.spread_bps / 10000.0, spec.start_price};
    return TickStage(params, stream_rng(spec.seed, Stream::tick_arrivals),
                     stream_rng(spec.seed, Stream::tick_prices));
}

}  // namespace

Run::Run(const spec::GenSpec& spec, RunOptions options,
         std::shared_ptr<const FactorPath> shared_factors)
    : spec_(spec),
      options_(options),
      rng_(SeededRng::from_seed(spec.seed)),
      dynamics_(regime_dynamics(spec.regimes)),
      has_dynamics_(any_active(dynamics_)),
      carry_variance_(any_garch(dynamics_)),
      streams_(DynamicStreams::from_seed(spec.seed)),
      carry_{spec.regimes.empty() ? 0.0 : spec.regimes[0].vol * spec.regimes[0].vol, 0.0},
      spread_fraction_(spec.microstructure.spread_bps / 10000.0),
      poisson_limit_(std::exp(-spec.microstructure.trade_rate)),
      scales_(level_scales(spec.microstructure.book_depth)),
      funding_(spec.microstructure.funding),
      ticks_(tick_stage(spec)),
      price_(spec.start_price),
      anchor_(spec.start_price),
      ts_(spec.start_ts) {
    if (spec.factors) factors_.emplace(*spec.factors, spec.bars, std::move(shared_factors));
}

Result<Run, spec::SynthError> Run::start(const spec::GenSpec& spec, RunOptions options,
                                         std::shared_ptr<const FactorPath> shared_factors) {
    if (auto valid = spec::validate(spec); !valid.ok()) {
        return Err{std::move(valid).error()};
    }
    // A book too deep for even one bar is refused before its level scales
    // are allocated.
    const spec::Microstructure& micro = spec.microstructure;
    if (auto budget = check_batch_budget(
            1, micro.book_depth, micro.trade_rate, physical_memory_bytes(),
            options.labels ? ColumnBatch::kLabelBytesPerBar : 0, has_ticks(spec));
        !budget.ok()) {
        return Err{std::move(budget).error()};
    }
    // A chain's schedule is drawn here, once: the bar loop only sees regimes.
    if (spec.chain) {
        auto drawn = with_drawn_schedule(spec, physical_memory_bytes());
        if (!drawn) return Err{std::move(drawn).error()};
        return Run(drawn.value(), options, std::move(shared_factors));
    }
    return Run(spec, options, std::move(shared_factors));
}

std::size_t Run::expected_trades(std::uint64_t bars) const {
    const double rate = spec_.microstructure.trade_rate;
    if (!(rate > 0.0)) return 0;
    // Mean plus four standard deviations of the Poisson total.
    const double mean = mean_trades_per_bar(rate, ticks()) * static_cast<double>(bars);
    return static_cast<std::size_t>(mean + 4.0 * std::sqrt(mean) + 16.0);
}

BarMove Run::draw_bar(const spec::Regime& regime) {
    // One branch per bar keeps the classic bar as it always was. A universe
    // asset mixes its unit-variance innovation with the shared factors before
    // vol or the conditional sigma scales it, on either path.
    FactorModel* factors = factors_ ? &*factors_ : nullptr;
    if (has_dynamics_ && dynamics_[regime_index_].active) {
        return draw_dynamic_move(regime, dynamics_[regime_index_], price_, anchor_, bar_ == 0,
                                 carry_, streams_, rng_, factors, bar_);
    }
    BarMove move;
    if (factors != nullptr) {
        const double z = rng_.next_normal();
        move = move_from_innovation(regime, price_, anchor_,
                                    factors->innovation(regime.kind, bar_, z), rng_);
    } else {
        move = draw_move(regime, price_, anchor_, rng_);
    }
    if (carry_variance_) carry_classic(carry_, regime.vol, move.z);
    return move;
}

void Run::append_labels(ColumnBatch& batch, const BarMove& move) const {
    batch.label_regime.push_back(static_cast<std::int64_t>(regime_index_));
    batch.label_kind.push_back(static_cast<std::uint8_t>(spec_.regimes[regime_index_].kind));
    batch.label_sigma.push_back(move.sigma);
    batch.label_jump.push_back(move.jump);
}

Result<std::uint64_t, spec::SynthError> Run::advance(std::uint64_t max_bars, ColumnBatch& batch) {
    begin_batch(max_bars, batch);
    return extend(max_bars, batch);
}

void Run::begin_batch(std::uint64_t bars, ColumnBatch& batch) const {
    const spec::Microstructure& micro = spec_.microstructure;
    const std::uint64_t count = std::min(bars, bars_left());
    const std::uint64_t interval = micro.funding ? micro.funding->interval_bars : 0;
    batch.reset(bar_, count, micro.book_depth, expected_trades(count),
                interval == 0 ? 0 : (bar_ % interval + count) / interval, options_.labels, ticks());
}

Result<std::uint64_t, spec::SynthError> Run::extend(std::uint64_t max_bars, ColumnBatch& batch) {
    if (failure_) return Err{*failure_};
    const spec::Microstructure& micro = spec_.microstructure;
    const std::uint64_t count = std::min(max_bars, bars_left());

    for (std::uint64_t i = 0; i < count; ++i) {
        // Validation makes the regime lengths add up to bars, so the index
        // stays inside the list.
        const spec::Regime& regime = spec_.regimes[regime_index_];
        if (position_ == 0) {
            anchor_ = price_;
        }
        const BarMove move = draw_bar(regime);
        bool finite = is_finite(move);
        if (finite && ticks_) {
            // The classic stream draws the book's quantities only, as with
            // trade_rate 0; the candle, made from the trades, is checked there.
            finite = ticks_->append_bar(move, move.sigma, ts_, scales_, rng_, next_seq_, batch);
        } else if (finite) {
            append_candle(batch, move, ts_);
            const double half_spread =
                append_book(move.close, move.f, regime.vol, spread_fraction_, scales_, rng_, batch);
            append_trades(micro.trade_rate, poisson_limit_, move.close, half_spread, ts_, next_seq_,
                          rng_, batch);
        }
        if (!finite) {
            failure_ = spec::SynthError{spec::SynthError::Kind::Numeric,
                                        "price walk produced a non-finite value"};
            return Err{*failure_};
        }
        if (options_.labels) append_labels(batch, move);
        funding_.add(move.f, ts_, batch);

        // The timestamp past the last bar is never formed: it may not fit.
        bar_ += 1;
        if (bar_ < spec_.bars) {
            ts_ += spec_.bar_secs;
        }
        position_ += 1;
        if (position_ == regime.len) {
            position_ = 0;
            regime_index_ += 1;
        }
        price_ = move.close;
    }
    return count;
}

}  // namespace synth::generate
