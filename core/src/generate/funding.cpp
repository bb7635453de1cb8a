#include "generate/funding.hpp"

#include <algorithm>

#include "generate/round8.hpp"

namespace synth::generate {

std::optional<FundingPoint> funding_point(const std::optional<spec::FundingSpec>& funding,
                                          std::uint64_t bar, std::int64_t ts,
                                          std::span<const double> history) {
    if (!funding || (bar + 1) % funding->interval_bars != 0) {
        return std::nullopt;
    }
    const std::size_t w =
        static_cast<std::size_t>(std::min<std::uint64_t>(funding->interval_bars, history.size()));
    // Oldest first, one after the other: the sum's bits depend on the order.
    double sum = 0.0;
    bool first = true;
    for (double r : history.last(w)) {
        sum = first ? r : sum + r;
        first = false;
    }
    const double mean = sum / static_cast<double>(w);
    const double rate = (mean * funding->sensitivity) + funding->base_rate;
    return FundingPoint{ts, round8(rate)};
}

}  // namespace synth::generate
