#include "spec/validate_extensions.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/number_format.hpp"

namespace synth::spec {

namespace {

bool finite_non_negative(double x) {
    return std::isfinite(x) && x >= 0.0;
}

// Where a list of regimes sits: "regimes" or "chain.states".
struct RegimeList {
    std::string_view path;
};

// "{list}[{index}].{member}: {message}"
Err<SynthError> regime_fault(RegimeList list, std::size_t index, std::string_view member,
                             std::string_view message) {
    std::string out(list.path);
    out.push_back('[');
    json::append_u64(out, index);
    out.append("].").append(member).append(": ").append(message);
    return bad_spec(std::move(out));
}

Result<Unit, SynthError> check_garch(const Garch& g, RegimeList list, std::size_t index) {
    if (!finite_non_negative(g.alpha)) {
        return regime_fault(list, index, "garch", "alpha must be finite and >= 0");
    }
    if (!finite_non_negative(g.gamma)) {
        return regime_fault(list, index, "garch", "gamma must be finite and >= 0");
    }
    if (!finite_non_negative(g.beta)) {
        return regime_fault(list, index, "garch", "beta must be finite and >= 0");
    }
    // Below 1 keeps the long-run variance vol^2 positive and the recursion
    // stationary.
    if (!((g.alpha + (g.gamma * 0.5)) + g.beta < 1.0)) {
        return regime_fault(list, index, "garch", "alpha + gamma/2 + beta must be below 1");
    }
    return Unit{};
}

Result<Unit, SynthError> check_jumps(const Jumps& j, RegimeList list, std::size_t index) {
    if (!finite_non_negative(j.rate)) {
        return regime_fault(list, index, "jumps", "rate must be finite and >= 0");
    }
    if (!std::isfinite(j.mean)) return regime_fault(list, index, "jumps", "mean must be finite");
    if (!finite_non_negative(j.vol)) {
        return regime_fault(list, index, "jumps", "vol must be finite and >= 0");
    }
    return Unit{};
}

// Largest clustering: beyond it the mean activity would sit in rare,
// enormous bars.
constexpr double kMaxClustering = 1.0;

// Every trade time, up to the end of the last bar, in nanoseconds fits in an
// i64: (start_ts + bars * bar_secs) * 10^9, and start_ts * 10^9 before it.
bool tick_times_fit(const GenSpec& spec) {
    constexpr std::int64_t kNanos = 1000000000;
    std::int64_t n = 0, span = 0, end = 0, scaled = 0;
    return !__builtin_mul_overflow(spec.start_ts, kNanos, &scaled) &&
           spec.bars <= static_cast<std::uint64_t>(INT64_MAX) &&
           !__builtin_mul_overflow(static_cast<std::int64_t>(spec.bars), spec.bar_secs, &span) &&
           !__builtin_add_overflow(span, spec.start_ts, &end) &&
           !__builtin_mul_overflow(end, kNanos, &n);
}

Result<Unit, SynthError> check_ticks(const GenSpec& spec) {
    const Ticks& t = *spec.microstructure.ticks;
    if (!(std::isfinite(t.clustering) && t.clustering >= 0.0 && t.clustering <= kMaxClustering)) {
        return bad_spec("microstructure.ticks: clustering must be between 0 and 1");
    }
    if (!tick_times_fit(spec)) {
        return bad_spec(
            "microstructure.ticks: start_ts + bars * bar_secs in nanoseconds overflows i64");
    }
    return Unit{};
}

Result<Unit, SynthError> check_members(const std::vector<Regime>& regimes, RegimeList list) {
    for (std::size_t i = 0; i < regimes.size(); ++i) {
        const Regime& r = regimes[i];
        if (r.garch) {
            if (auto ok = check_garch(*r.garch, list, i); !ok) return ok;
        }
        // The Student-t variance exists only above 2 degrees of freedom.
        if (r.tails && !(std::isfinite(r.tails->df) && r.tails->df > 2.0)) {
            return regime_fault(list, i, "tails", "df must be finite and > 2");
        }
        if (r.jumps) {
            if (auto ok = check_jumps(*r.jumps, list, i); !ok) return ok;
        }
    }
    return Unit{};
}

// "chain.{rest}"
Err<SynthError> chain_fault(std::string_view rest) {
    std::string out = "chain.";
    out.append(rest);
    return bad_spec(std::move(out));
}

// "chain.states[{index}]: {message}"
Err<SynthError> state_fault(std::size_t index, std::string_view message) {
    std::string out = "chain.states[";
    json::append_u64(out, index);
    out.append("]: ").append(message);
    return bad_spec(std::move(out));
}

// "chain.transitions[{row}]{detail}"
Err<SynthError> row_fault(std::size_t row, std::string_view detail) {
    std::string out = "chain.transitions[";
    json::append_u64(out, row);
    out.append("]").append(detail);
    return bad_spec(std::move(out));
}

// A row's weights are summed left to right, as the draw sums them.
constexpr double kRowSumTolerance = 1e-9;

Result<Unit, SynthError> check_chain(const Chain& chain) {
    const std::size_t k = chain.states.size();
    if (k == 0) return chain_fault("states must not be empty");
    for (std::size_t i = 0; i < k; ++i) {
        const Regime& s = chain.states[i];
        if (s.len == 0) return state_fault(i, "len must be > 0");
        if (!std::isfinite(s.drift)) return state_fault(i, "drift must be finite");
        if (!finite_non_negative(s.vol)) return state_fault(i, "vol must be finite and >= 0");
    }
    if (auto ok = check_members(chain.states, RegimeList{"chain.states"}); !ok) return ok;
    if (chain.transitions.size() != k) {
        return chain_fault("transitions must have one row per state");
    }
    for (std::size_t i = 0; i < k; ++i) {
        const std::vector<double>& row = chain.transitions[i];
        if (row.size() != k) return row_fault(i, " must have one weight per state");
        double sum = 0.0;
        for (const double w : row) {
            if (!finite_non_negative(w)) return row_fault(i, ": weights must be finite and >= 0");
            sum += w;
        }
        if (!(std::fabs(sum - 1.0) <= kRowSumTolerance)) return row_fault(i, " must sum to 1");
    }
    if (chain.start >= k) return chain_fault("start must be below the number of states");
    return Unit{};
}

}  // namespace

Result<Unit, SynthError> validate_extensions(const GenSpec& spec) {
    if (auto ok = check_members(spec.regimes, RegimeList{"regimes"}); !ok) return ok;
    if (spec.microstructure.ticks) {
        if (auto ok = check_ticks(spec); !ok) return ok;
    }
    if (spec.factors) {
        if (auto ok = validate_factors(*spec.factors); !ok) return ok;
    }
    if (spec.chain) return check_chain(*spec.chain);
    return Unit{};
}

}  // namespace synth::spec
