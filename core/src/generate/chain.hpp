#pragma once
// A regime chain's schedule, drawn once at the start of a run from the chain's
// own stream (Stream::regime_chain), so that every seed gets its own history
// and the classic stream is untouched.
#include <cstdint>
#include <vector>

#include "spec/model.hpp"

namespace synth::generate {

// The regime list a chain gives a run of `bars` bars seeded with `seed`:
//   state = start; bars covered = 0
//   repeat: the visit lasts n = min(states[state].len, bars - covered) bars;
//     it lengthens the last regime when that regime came from the same state,
//     else it appends a copy of states[state] with len n;
//     covered += n; if covered < bars:
//       u = next_f64 of the chain stream; t = u * (row sum, added left to right);
//       the next state is the first j whose running sum of row[0..j] exceeds t
//       (the last state with a positive weight when rounding leaves none).
// So a run of b bars takes one draw per visit but the last, and a state's
// consecutive visits form one regime (a range regime keeps its anchor).
std::vector<spec::Regime> draw_chain_schedule(const spec::Chain& chain, std::uint64_t bars,
                                              std::uint64_t seed);

// `spec` with its chain's drawn schedule as its regimes and no chain; a spec
// without a chain is returned as it is. The spec has passed validation.
spec::GenSpec with_drawn_schedule(const spec::GenSpec& spec);

}  // namespace synth::generate
