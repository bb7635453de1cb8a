#pragma once
// Funding rate on the last bar of every complete interval: base rate plus
// sensitivity times the mean log return of the interval.
#include <cstdint>
#include <optional>
#include <span>

#include "generate/records.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// `history` holds the unrounded log returns of bars 0..bar, oldest first.
std::optional<FundingPoint> funding_point(const std::optional<spec::FundingSpec>& funding,
                                          std::uint64_t bar, std::int64_t ts,
                                          std::span<const double> history);

}  // namespace synth::generate
