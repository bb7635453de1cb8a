#include "generate/chain.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>

#include "generate/streams.hpp"

namespace synth::generate {

namespace {

std::size_t next_state(const std::vector<double>& row, double u) {
    double total = 0.0;
    for (const double w : row) total += w;
    const double target = u * total;
    double running = 0.0;
    std::size_t last_positive = 0;
    for (std::size_t j = 0; j < row.size(); ++j) {
        running += row[j];
        if (row[j] > 0.0) {
            last_positive = j;
            if (target < running) return j;
        }
    }
    return last_positive;
}

}  // namespace

Result<std::vector<spec::Regime>, spec::SynthError> draw_chain_schedule(const spec::Chain& chain,
                                                                        std::uint64_t bars,
                                                                        std::uint64_t seed,
                                                                        std::size_t max_regimes) {
    SeededRng rng = stream_rng(seed, Stream::regime_chain);
    std::vector<spec::Regime> schedule;
    std::size_t state = static_cast<std::size_t>(chain.start);
    std::size_t previous = chain.states.size();  // no state yet
    std::uint64_t covered = 0;
    while (covered < bars) {
        const std::uint64_t n = std::min(chain.states[state].len, bars - covered);
        if (state == previous) {
            schedule.back().len += n;
        } else {
            if (schedule.size() == max_regimes) {
                std::string message = "a regime chain over ";
                message.append(std::to_string(bars))
                    .append(" bars draws more regimes than this machine has memory for");
                return spec::memory_error(std::move(message));
            }
            schedule.push_back(chain.states[state]);
            schedule.back().len = n;
        }
        covered += n;
        previous = state;
        if (covered < bars) state = next_state(chain.transitions[state], rng.next_f64());
    }
    return schedule;
}

Result<spec::GenSpec, spec::SynthError> with_drawn_schedule(
    const spec::GenSpec& spec, std::optional<std::uint64_t> available) {
    if (!spec.chain) return spec;
    const std::size_t max_regimes =
        available ? static_cast<std::size_t>(*available / 4 / sizeof(spec::Regime))
                  : std::numeric_limits<std::size_t>::max();
    auto schedule = draw_chain_schedule(*spec.chain, spec.bars, spec.seed, max_regimes);
    if (!schedule) return Err{std::move(schedule).error()};
    spec::GenSpec drawn = spec;
    drawn.regimes = std::move(schedule).value();
    drawn.chain.reset();
    return drawn;
}

}  // namespace synth::generate
