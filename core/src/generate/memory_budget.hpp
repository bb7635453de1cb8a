#pragma once
// Refuses a run whose output cannot fit in this machine's memory before
// anything is reserved, so an oversized bars or book_depth is reported as a
// memory error instead of failing inside an allocation.
#include <cstdint>
#include <optional>

#include "base/result.hpp"
#include "spec/error.hpp"

namespace synth::generate {

// Bytes a run of `bars` bars with `book_depth` levels per side needs, trades
// not counted (unknown in advance); nullopt when the estimate overflows u64.
std::optional<std::uint64_t> estimate_run_bytes(std::uint64_t bars, std::uint64_t book_depth);

// Physical memory of the machine in bytes; nullopt when it cannot be read.
std::optional<std::uint64_t> physical_memory_bytes();

// Memory error when the estimate overflows or exceeds `available` bytes.
Result<Unit, spec::SynthError> check_memory_budget(std::uint64_t bars, std::uint64_t book_depth,
                                                   std::optional<std::uint64_t> available);

}  // namespace synth::generate
