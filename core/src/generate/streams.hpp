#pragma once
// Every extension draws from a stream of its own, never from the classic one,
// so the classic draw pattern is untouched and turning one extension on leaves
// the draws of every other extension unchanged.
//
// Stream `id` of a run seeded with `seed` is the SeededRng seeded with
//     mix(seed XOR mix(id))
// where mix is the SplitMix64 output mixing step (splitmix_mix, the step that
// seeds every SeededRng). The numbers below are fixed forever; a new stream
// takes the next free number.
#include <cstdint>

#include "generate/rng.hpp"

namespace synth::generate {

enum class Stream : std::uint64_t {
    tails = 1,             // Student-t innovations (chi-square draws)
    jumps = 2,             // jump counts and sizes
    tick_arrivals = 3,     // tick arrival times
    tick_prices = 4,       // tick prices and quantities
    regime_chain = 5,      // regime chain transitions
    universe_factors = 6,  // shared factors, seeded from the universe's factor seed
    universe_jumps = 7,    // jumps common to a universe's assets
};

inline std::uint64_t stream_seed(std::uint64_t seed, Stream id) {
    return splitmix_mix(seed ^ splitmix_mix(static_cast<std::uint64_t>(id)));
}

inline SeededRng stream_rng(std::uint64_t seed, Stream id) {
    return SeededRng::from_seed(stream_seed(seed, id));
}

}  // namespace synth::generate
