#pragma once
// Eight-decimal rounding of every stored price, quantity, volume and rate.
#include <cmath>

namespace synth::generate {

// round(x * 1e8) / 1e8, half away from zero, exactly as written: a finite x
// whose scaled value overflows (|x| above about 1.8e300) comes out infinite
// and is written as null, like any other value that left the finite range.
inline double round8(double x) {
    return std::round(x * 100000000.0) / 100000000.0;
}

}  // namespace synth::generate
