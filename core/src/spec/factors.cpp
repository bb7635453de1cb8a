#include "spec/factors.hpp"

#include <cmath>
#include <string>

namespace synth::spec {

namespace {

// Largest factor count: a bar draws one normal per factor.
constexpr std::uint64_t kMaxFactors = 4096;

Result<Unit, SynthError> check_loadings(const std::vector<double>& loadings, std::uint64_t count,
                                        const std::string& path) {
    if (loadings.size() != count) {
        return bad_spec(path + ": must have one entry per factor (" + std::to_string(count) +
                        "), not " + std::to_string(loadings.size()));
    }
    double squares = 0.0;
    for (std::size_t k = 0; k < loadings.size(); ++k) {
        if (!std::isfinite(loadings[k])) {
            return bad_spec(path + "[" + std::to_string(k) + "]: must be finite");
        }
        squares = squares + (loadings[k] * loadings[k]);
    }
    if (!(squares <= 1.0)) return bad_spec(path + ": sum of squared loadings must be <= 1");
    return Unit{};
}

}  // namespace

Result<Unit, SynthError> validate_factors(const FactorSpec& factors) {
    if (factors.count == 0) return bad_spec("factors: count must be > 0");
    if (factors.count > kMaxFactors) {
        return bad_spec("factors: count must be <= " + std::to_string(kMaxFactors));
    }
    if (auto ok = check_loadings(factors.loadings, factors.count, "factors.loadings"); !ok) {
        return ok;
    }
    const std::pair<const char*, const std::optional<std::vector<double>>*> kinds[] = {
        {"trend", &factors.regimes.trend},
        {"range", &factors.regimes.range},
        {"crash", &factors.regimes.crash},
        {"vol", &factors.regimes.vol},
    };
    for (const auto& [name, loadings] : kinds) {
        if (!*loadings) continue;
        if (auto ok =
                check_loadings(**loadings, factors.count, std::string("factors.regimes.") + name);
            !ok) {
            return ok;
        }
    }
    if (factors.jumps) {
        const CommonJumps& j = *factors.jumps;
        if (!(std::isfinite(j.rate) && j.rate >= 0.0 && j.rate <= 1.0)) {
            return bad_spec("factors.jumps: rate must be within [0, 1]");
        }
        if (!std::isfinite(j.mean)) return bad_spec("factors.jumps: mean must be finite");
        if (!(std::isfinite(j.vol) && j.vol >= 0.0)) {
            return bad_spec("factors.jumps: vol must be finite and >= 0");
        }
    }
    return Unit{};
}

}  // namespace synth::spec
