#include "spec/validate_extensions.hpp"

#include <cmath>
#include <string>
#include <string_view>

#include "json/number_format.hpp"

namespace synth::spec {

namespace {

bool finite_non_negative(double x) {
    return std::isfinite(x) && x >= 0.0;
}

// "regimes[{index}].{member}: {message}"
Err<SynthError> regime_fault(std::size_t index, std::string_view member, std::string_view message) {
    std::string out = "regimes[";
    json::append_u64(out, index);
    out.append("].").append(member).append(": ").append(message);
    return bad_spec(std::move(out));
}

Result<Unit, SynthError> check_garch(const Garch& g, std::size_t index) {
    if (!finite_non_negative(g.alpha)) {
        return regime_fault(index, "garch", "alpha must be finite and >= 0");
    }
    if (!finite_non_negative(g.gamma)) {
        return regime_fault(index, "garch", "gamma must be finite and >= 0");
    }
    if (!finite_non_negative(g.beta)) {
        return regime_fault(index, "garch", "beta must be finite and >= 0");
    }
    // Below 1 keeps the long-run variance vol^2 positive and the recursion
    // stationary.
    if (!((g.alpha + (g.gamma * 0.5)) + g.beta < 1.0)) {
        return regime_fault(index, "garch", "alpha + gamma/2 + beta must be below 1");
    }
    return Unit{};
}

Result<Unit, SynthError> check_jumps(const Jumps& j, std::size_t index) {
    if (!finite_non_negative(j.rate)) {
        return regime_fault(index, "jumps", "rate must be finite and >= 0");
    }
    if (!std::isfinite(j.mean)) return regime_fault(index, "jumps", "mean must be finite");
    if (!finite_non_negative(j.vol)) {
        return regime_fault(index, "jumps", "vol must be finite and >= 0");
    }
    return Unit{};
}

}  // namespace

Result<Unit, SynthError> validate_extensions(const GenSpec& spec) {
    for (std::size_t i = 0; i < spec.regimes.size(); ++i) {
        const Regime& r = spec.regimes[i];
        if (r.garch) {
            if (auto ok = check_garch(*r.garch, i); !ok) return ok;
        }
        // The Student-t variance exists only above 2 degrees of freedom.
        if (r.tails && !(std::isfinite(r.tails->df) && r.tails->df > 2.0)) {
            return regime_fault(i, "tails", "df must be finite and > 2");
        }
        if (r.jumps) {
            if (auto ok = check_jumps(*r.jumps, i); !ok) return ok;
        }
    }
    return Unit{};
}

}  // namespace synth::spec
