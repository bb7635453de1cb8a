#include "generate/funding.hpp"

#include "generate/round8.hpp"

namespace synth::generate {

void FundingWindow::add(double f, std::int64_t ts, ColumnBatch& batch) {
    if (!funding_) return;
    // Oldest first, one after the other: the sum's bits depend on the order.
    sum_ = count_ == 0 ? f : sum_ + f;
    count_ += 1;
    if (count_ != funding_->interval_bars) return;
    const double mean = sum_ / static_cast<double>(count_);
    const double rate = (mean * funding_->sensitivity) + funding_->base_rate;
    batch.funding_ts.push_back(ts);
    batch.funding_rate.push_back(stored8(rate));
    count_ = 0;
}

}  // namespace synth::generate
