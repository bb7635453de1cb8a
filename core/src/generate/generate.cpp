#include "generate/generate.hpp"

#include "generate/memory_budget.hpp"
#include "generate/run.hpp"
#include "spec/validate.hpp"

namespace synth::generate {

Result<ColumnBatch, spec::SynthError> generate(const spec::GenSpec& spec) {
    // Validation comes first, then the whole run's memory, judged before the
    // run allocates anything of its own.
    if (auto valid = spec::validate(spec); !valid.ok()) {
        return Err{std::move(valid).error()};
    }
    const spec::Microstructure& micro = spec.microstructure;
    if (auto budget = check_memory_budget(spec.bars, micro.book_depth, micro.trade_rate,
                                          physical_memory_bytes());
        !budget.ok()) {
        return Err{std::move(budget).error()};
    }
    auto run = Run::start(spec);
    if (!run) return Err{std::move(run).error()};
    ColumnBatch batch;
    auto made = run.value().advance(spec.bars, batch);
    if (!made) return Err{std::move(made).error()};
    return batch;
}

}  // namespace synth::generate
