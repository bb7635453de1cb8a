#pragma once
// The run's only source of randomness: xoshiro256++ seeded by four SplitMix64
// outputs, with uniform and normal doubles on top. Every draw of a run goes
// through one instance, in one fixed order, so a seed fixes the whole output.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace synth::generate {

// Smallest positive normal double: keeps log() of a zero uniform finite.
inline constexpr double kMinUniformForLog = 2.2250738585072014e-308;
// 2 pi as a double (bit pattern 0x401921FB54442D18).
inline constexpr double kTwoPi = 6.283185307179586;

// Box-Muller, cosine branch only; the sine partner is never kept, so every
// normal costs exactly two uniforms.
inline double normal_from_uniforms(double u1, double u2) {
    const double u1c = std::max(u1, kMinUniformForLog);
    const double r = std::sqrt(std::log(u1c) * -2.0);
    return std::cos(u2 * kTwoPi) * r;
}

// The SplitMix64 output mixing step: a bijection of the 64-bit words.
inline constexpr std::uint64_t splitmix_mix(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class SeededRng {
  public:
    static SeededRng from_seed(std::uint64_t seed) {
        SeededRng rng;
        std::uint64_t* words[4] = {&rng.s0_, &rng.s1_, &rng.s2_, &rng.s3_};
        for (std::uint64_t k = 1; k <= 4; ++k) {
            *words[k - 1] = splitmix_mix(seed + k * 0x9E3779B97F4A7C15ULL);
        }
        return rng;
    }

    std::uint64_t next_u64() {
        const std::uint64_t result = std::rotl(s0_ + s3_, 23) + s0_;
        const std::uint64_t t = s1_ << 17;
        s2_ ^= s0_;
        s3_ ^= s1_;
        s1_ ^= s2_;
        s0_ ^= s3_;
        s2_ ^= t;
        s3_ = std::rotl(s3_, 45);
        return result;
    }

    // Exactly (x >> 11) / 2^53: 0 is possible, 1 is not.
    double next_f64() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

    double next_normal() {
        const double u1 = next_f64();
        const double u2 = next_f64();
        return normal_from_uniforms(u1, u2);
    }

    std::uint64_t s0() const { return s0_; }
    std::uint64_t s1() const { return s1_; }
    std::uint64_t s2() const { return s2_; }
    std::uint64_t s3() const { return s3_; }

  private:
    SeededRng() = default;
    std::uint64_t s0_ = 0;
    std::uint64_t s1_ = 0;
    std::uint64_t s2_ = 0;
    std::uint64_t s3_ = 0;
};

}  // namespace synth::generate
