#include "spec/validate.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

#include "spec/validate_extensions.hpp"

namespace synth::spec {

namespace {

// NaN fails every comparison, so these reject it along with the infinities;
// -0.0 compares equal to 0.
bool finite_positive(double x) {
    return std::isfinite(x) && x > 0.0;
}
bool finite_non_negative(double x) {
    return std::isfinite(x) && x >= 0.0;
}

// The regime lengths must add up to bars exactly; a sum past the unsigned range
// can never equal it, so it must not wrap around into a match.
bool lengths_sum_to(const std::vector<Regime>& regimes, std::uint64_t bars) {
    std::uint64_t sum = 0;
    for (const Regime& r : regimes) {
        if (__builtin_add_overflow(sum, r.len, &sum)) return false;
    }
    return sum == bars;
}

// start_ts + (bars - 1) * bar_secs in signed 64-bit arithmetic, each step
// checked on its own (a product that overflows fails even if start_ts would
// bring the sum back into range). bars >= 1 here.
bool last_timestamp_fits(std::uint64_t bars, std::int64_t bar_secs, std::int64_t start_ts) {
    const std::uint64_t n_unsigned = bars - 1;
    if (n_unsigned > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return false;
    }
    const auto n = static_cast<std::int64_t>(n_unsigned);
    std::int64_t product = 0;
    if (__builtin_mul_overflow(n, bar_secs, &product)) return false;
    std::int64_t last = 0;
    return !__builtin_add_overflow(product, start_ts, &last);
}

}  // namespace

Result<Unit, SynthError> validate(const GenSpec& spec) {
    if (spec.bars == 0) return bad_spec("bars must be > 0");
    if (!finite_positive(spec.start_price)) return bad_spec("start_price must be finite and > 0");
    if (spec.bar_secs <= 0) return bad_spec("bar_secs must be > 0");
    if (spec.regimes.empty()) return bad_spec("regimes must not be empty");
    for (const Regime& r : spec.regimes) {
        if (r.len == 0) return bad_spec("regime len must be > 0");
        if (!std::isfinite(r.drift)) return bad_spec("regime drift must be finite");
        if (!finite_non_negative(r.vol)) return bad_spec("regime vol must be finite and >= 0");
    }
    if (!lengths_sum_to(spec.regimes, spec.bars)) {
        return bad_spec("sum of regime lengths must equal bars");
    }
    const Microstructure& micro = spec.microstructure;
    if (micro.book_depth == 0) return bad_spec("book_depth must be > 0");
    if (!finite_non_negative(micro.spread_bps)) {
        return bad_spec("spread_bps must be finite and >= 0");
    }
    if (!finite_non_negative(micro.trade_rate)) {
        return bad_spec("trade_rate must be finite and >= 0");
    }
    if (micro.funding) {
        if (micro.funding->interval_bars == 0) {
            return bad_spec("funding.interval_bars must be > 0");
        }
        if (!std::isfinite(micro.funding->base_rate) ||
            !std::isfinite(micro.funding->sensitivity)) {
            return bad_spec("funding base_rate and sensitivity must be finite");
        }
    }
    if (!last_timestamp_fits(spec.bars, spec.bar_secs, spec.start_ts)) {
        return bad_spec("start_ts + (bars - 1) * bar_secs overflows i64");
    }
    // Extension members come after every classic check, so a classic spec's
    // first fault is reported as it always was.
    return validate_extensions(spec);
}

}  // namespace synth::spec
