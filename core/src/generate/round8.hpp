#pragma once
// Eight-decimal rounding of every stored price, quantity, volume and rate.
#include <cmath>
#include <limits>

namespace synth::generate {

// round(x * 1e8) / 1e8, half away from zero, exactly as written: a finite x
// whose scaled value overflows (|x| above about 1.8e300) comes out infinite
// and is written as null, like any other value that left the finite range.
inline double round8(double x) {
    return std::round(x * 100000000.0) / 100000000.0;
}

// The one NaN that every non-finite stored value becomes (bit pattern
// 0x7FF8000000000000, the NaN a reader makes of null), so that equal runs
// hold equal bits whatever NaN or infinity the arithmetic produced.
inline constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

// What a batch stores for x: round8(x), or kNull when that is not finite.
inline double stored8(double x) {
    const double r = round8(x);
    return std::isfinite(r) ? r : kNull;
}

}  // namespace synth::generate
