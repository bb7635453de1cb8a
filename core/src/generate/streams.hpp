#pragma once
// Extension streams: each extension draws from its own SeededRng, derived from
// a seed and a fixed stream number, never from a run's classic stream.
#include <cstdint>

#include "generate/rng.hpp"

namespace synth::generate {

enum class Stream : std::uint64_t {
    universe_factors = 6,
    universe_jumps = 7,
};

// The stream's seed is the SplitMix64 mix of seed + stream * golden gamma.
inline SeededRng stream_rng(std::uint64_t seed, Stream stream) {
    std::uint64_t x = seed + static_cast<std::uint64_t>(stream) * 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x = x ^ (x >> 31);
    return SeededRng::from_seed(x);
}

}  // namespace synth::generate
