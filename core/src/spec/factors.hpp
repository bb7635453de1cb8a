#pragma once
// An asset's place in a universe: the shared factors it moves with. The
// factors' shocks come from their own seed, so every asset of a universe that
// names the same seed and count sees the same factor path, whatever else is in
// the universe.
#include <cstdint>
#include <optional>
#include <vector>

#include "base/result.hpp"
#include "spec/error.hpp"

namespace synth::spec {

// A market-wide jump added to factor 0 (the market): on each bar with
// probability `rate`, a shock of mean `mean` and spread `vol`, in units of the
// factor's standard deviation. Every asset loading on the market moves on the
// same bars.
struct CommonJumps {
    double rate = 0.0;
    double mean = 0.0;
    double vol = 0.0;
    bool operator==(const CommonJumps&) const = default;
};

// Loadings that replace the default ones on the bars of one regime kind
// (correlation that rises in a crash).
struct KindLoadings {
    std::optional<std::vector<double>> trend;
    std::optional<std::vector<double>> range;
    std::optional<std::vector<double>> crash;
    std::optional<std::vector<double>> vol;
    bool operator==(const KindLoadings&) const = default;
};

struct FactorSpec {
    std::uint64_t seed = 0;
    std::uint64_t count = 0;
    std::vector<double> loadings;
    KindLoadings regimes;
    std::optional<CommonJumps> jumps;
    bool operator==(const FactorSpec&) const = default;
};

// "bad spec: factors..." with the path of the offending value.
Result<Unit, SynthError> validate_factors(const FactorSpec& factors);

}  // namespace synth::spec
