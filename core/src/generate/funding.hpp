#pragma once
// Funding rate on the last bar of every complete interval: base rate plus
// sensitivity times the mean log return of the interval.
#include <cstdint>
#include <optional>

#include "generate/batch.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// The returns of the current interval, summed as they arrive. Intervals are
// counted from bar 0 and never overlap, so a funding bar's window is exactly
// the interval it closes, and the running sum is that window's left-to-right
// sum, oldest first, starting from the interval's first return itself.
class FundingWindow {
  public:
    explicit FundingWindow(const std::optional<spec::FundingSpec>& funding) : funding_(funding) {}

    // Takes the bar's unrounded log return; on the last bar of an interval
    // appends the funding point to the batch.
    void add(double f, std::int64_t ts, ColumnBatch& batch);

  private:
    std::optional<spec::FundingSpec> funding_;
    double sum_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace synth::generate
