#pragma once
// A generation run that can be advanced by any number of bars at a time: it
// keeps everything a bar needs from the bars before it (the random stream and
// the extension streams, the price, the regime position and its anchor, the
// previous bar's variance and shock, the timestamp, the trade sequence and
// the funding interval), so the bars of one run are the same whether they are
// made in one batch or in many.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/result.hpp"
#include "generate/batch.hpp"
#include "generate/dynamics.hpp"
#include "generate/funding.hpp"
#include "generate/rng.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::generate {

struct RunOptions {
    bool labels = false;  // fill the batches' label columns
};

class Run {
  public:
    // Validates the spec (its error is returned unchanged), refuses a book
    // too deep for one bar to fit in memory, and seeds the streams; nothing is
    // drawn yet.
    static Result<Run, spec::SynthError> start(const spec::GenSpec& spec, RunOptions options = {});

    const spec::GenSpec& spec() const { return spec_; }
    bool labels() const { return options_.labels; }
    // Bytes a bar's optional columns add to a batch.
    std::uint64_t extra_bytes_per_bar() const {
        return options_.labels ? ColumnBatch::kLabelBytesPerBar : 0;
    }
    std::uint64_t bars_done() const { return bar_; }
    std::uint64_t bars_left() const { return spec_.bars - bar_; }

    // Expected trades of `bars` bars, a little above the mean, for reserving.
    std::size_t expected_trades(std::uint64_t bars) const;

    // Fills `batch` (emptied first) with the next min(max_bars, bars_left())
    // bars and returns how many. A bar whose candle leaves the finite doubles
    // ends the run with the numeric error; the batch's contents are then
    // undefined and every later call returns the same error.
    Result<std::uint64_t, spec::SynthError> advance(std::uint64_t max_bars, ColumnBatch& batch);

    // The same in steps: begin_batch empties the batch and reserves room for
    // the next min(bars, bars_left()) bars; each extend appends up to
    // `max_bars` more of them (a caller can look up between steps).
    void begin_batch(std::uint64_t bars, ColumnBatch& batch) const;
    Result<std::uint64_t, spec::SynthError> extend(std::uint64_t max_bars, ColumnBatch& batch);

  private:
    Run(const spec::GenSpec& spec, RunOptions options);
    void append_labels(ColumnBatch& batch, const BarMove& move) const;

    spec::GenSpec spec_;
    RunOptions options_;
    SeededRng rng_;
    // Regime dynamics, one entry per regime; has_dynamics_ is false for a
    // classic run (or one whose members are all neutral).
    std::vector<RegimeDynamics> dynamics_;
    bool has_dynamics_;
    bool carry_variance_;
    DynamicStreams streams_;
    VarianceCarry carry_;
    double spread_fraction_;
    double poisson_limit_;
    std::vector<double> scales_;
    FundingWindow funding_;

    double price_;
    double anchor_;
    std::size_t regime_index_ = 0;
    std::uint64_t position_ = 0;
    std::int64_t ts_;
    std::uint64_t next_seq_ = 0;
    std::uint64_t bar_ = 0;
    std::optional<spec::SynthError> failure_;
};

}  // namespace synth::generate
