#pragma once
// Eight-decimal rounding of every stored price, quantity, volume and rate.
#include <cmath>

namespace synth::generate {

// round(x * 1e8) / 1e8, half away from zero. A finite x so large that x * 1e8
// overflows is already a whole number, so it is kept as it is instead of turning
// into infinity.
inline double round8(double x) {
    const double scaled = x * 100000000.0;
    if (std::isinf(scaled) && std::isfinite(x)) {
        return x;
    }
    return std::round(scaled) / 100000000.0;
}

}  // namespace synth::generate
