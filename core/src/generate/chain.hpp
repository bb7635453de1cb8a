#pragma once
// A regime chain's schedule, drawn once at the start of a run from the chain's
// own stream (Stream::regime_chain), so that every seed gets its own history
// and the classic stream is untouched.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/result.hpp"
#include "spec/error.hpp"
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
// A schedule that would need more than `max_regimes` regimes is a memory
// error: a chain that switches on most bars of a very long run.
Result<std::vector<spec::Regime>, spec::SynthError> draw_chain_schedule(const spec::Chain& chain,
                                                                        std::uint64_t bars,
                                                                        std::uint64_t seed,
                                                                        std::size_t max_regimes);

// `spec` with its chain's drawn schedule as its regimes and no chain (a spec
// without a chain as it is), the schedule kept within a quarter of
// `available` bytes when that is known. The spec has passed validation.
Result<spec::GenSpec, spec::SynthError> with_drawn_schedule(const spec::GenSpec& spec,
                                                            std::optional<std::uint64_t> available);

}  // namespace synth::generate
