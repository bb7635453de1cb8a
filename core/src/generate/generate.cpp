#include "generate/generate.hpp"

#include "generate/memory_budget.hpp"
#include "generate/run.hpp"

namespace synth::generate {

Result<ColumnBatch, spec::SynthError> generate(const spec::GenSpec& spec) {
    auto run = Run::start(spec);
    if (!run) return Err{std::move(run).error()};
    const spec::Microstructure& micro = spec.microstructure;
    if (auto budget = check_memory_budget(spec.bars, micro.book_depth, micro.trade_rate,
                                          physical_memory_bytes());
        !budget.ok()) {
        return Err{std::move(budget).error()};
    }
    ColumnBatch batch;
    auto made = run.value().advance(spec.bars, batch);
    if (!made) return Err{std::move(made).error()};
    return batch;
}

}  // namespace synth::generate
