#pragma once
// Refuses a run whose output cannot fit in this machine's memory before
// anything is reserved, so an oversized bars, book_depth or trade_rate is
// reported as a memory error instead of failing inside an allocation or
// having the process killed when overcommitted pages are touched.
#include <cstdint>
#include <optional>

#include "base/result.hpp"
#include "spec/error.hpp"

namespace synth::generate {

// Trades a bar draws on average (none when trade_rate is not above 0). Once
// exp(-trade_rate) is 0 the classic count is the number of uniforms whose
// product stays above 0, about 745 on average; below that the mean is
// trade_rate. The tick model's mean is trade_rate at any rate.
inline double mean_trades_per_bar(double trade_rate, bool ticks = false) {
    if (!(trade_rate > 0.0)) return 0.0;
    return ticks || trade_rate < 746.0 ? trade_rate : 746.0;
}

// Peak bytes of a whole command for a run of `bars` bars with `book_depth`
// levels per side and `trade_rate` trades per bar on average: the columns of
// the whole run, the response text and the caller's copy of that text.
// nullopt when the estimate overflows u64.
std::optional<std::uint64_t> estimate_run_bytes(std::uint64_t bars, std::uint64_t book_depth,
                                                double trade_rate, bool ticks = false);

// Peak bytes of one batch of `bars` bars in columns, without any text;
// `extra_per_bar` counts optional per-bar columns (labels), and a tick run's
// trades (`ticks`) hold one more column.
std::optional<std::uint64_t> estimate_batch_bytes(std::uint64_t bars, std::uint64_t book_depth,
                                                  double trade_rate,
                                                  std::uint64_t extra_per_bar = 0,
                                                  bool ticks = false);

// Physical memory of the machine in bytes; nullopt when it cannot be read.
std::optional<std::uint64_t> physical_memory_bytes();

// Memory error when the estimate overflows or exceeds `available` bytes.
Result<Unit, spec::SynthError> check_memory_budget(std::uint64_t bars, std::uint64_t book_depth,
                                                   double trade_rate,
                                                   std::optional<std::uint64_t> available);

// The same for one batch of a run made batch by batch.
Result<Unit, spec::SynthError> check_batch_budget(std::uint64_t bars, std::uint64_t book_depth,
                                                  double trade_rate,
                                                  std::optional<std::uint64_t> available,
                                                  std::uint64_t extra_per_bar = 0,
                                                  bool ticks = false);

// Bytes a wide book (one row per bar, 4 * book_depth + 1 columns) costs
// beyond its values, whatever the bars: its header text twice (ours and the
// caller's copy) and per column the objects a table keeps (name, field,
// array). nullopt when the estimate overflows u64.
std::optional<std::uint64_t> estimate_wide_book_bytes(std::uint64_t book_depth);

// Memory error when a wide book of `book_depth` levels cannot fit.
Result<Unit, spec::SynthError> check_wide_book_budget(std::uint64_t book_depth,
                                                      std::optional<std::uint64_t> available);

}  // namespace synth::generate
