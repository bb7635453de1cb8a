// Digests the C library's exp, log and cos over a million arguments in the
// ranges the generator uses, so two platforms can be compared function by
// function when their golden digests differ. Prints "function sha256".
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "sha256.hpp"

namespace {

// A fixed xorshift stream: the arguments must be the same everywhere.
std::uint64_t next(std::uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

double unit(std::uint64_t& s) {
    return static_cast<double>(next(s) >> 11) * 0x1.0p-53;
}

template <class F>
void probe(const char* name, F f, double lo, double hi) {
    std::uint64_t s = 0x9E3779B97F4A7C15ULL;
    std::string bits;
    bits.reserve(8 * 1000000);
    for (int i = 0; i < 1000000; ++i) {
        double x = lo + (hi - lo) * unit(s);
        double y = f(x);
        char b[8];
        std::memcpy(b, &y, 8);
        bits.append(b, 8);
    }
    std::printf("%s %s\n", name, synth::golden::sha256_hex(bits).c_str());
}

}  // namespace

int main() {
    // exp of log returns and of -trade_rate, log of uniforms in (0, 1], cos of
    // angles in [0, 2 pi) for the normal draws.
    probe("exp", [](double x) { return std::exp(x); }, -800.0, 5.0);
    probe("exp_small", [](double x) { return std::exp(x); }, -0.5, 0.5);
    probe("log", [](double x) { return std::log(x); }, 0x1.0p-53, 1.0);
    probe("log_wide", [](double x) { return std::log(x); }, 1e-300, 1e300);
    probe("cos", [](double x) { return std::cos(x); }, 0.0, 6.283185307179586);
    return 0;
}
