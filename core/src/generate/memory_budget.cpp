#include "generate/memory_budget.hpp"

#include <unistd.h>

#include <string>

#include "generate/records.hpp"

namespace synth::generate {
namespace {

// Response text per book level (both sides share it) and per bar beyond the
// book: generous upper bounds of the encoded JSON.
constexpr std::uint64_t kTextPerLevel = 40;
constexpr std::uint64_t kTextPerBar = 200;

bool add(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}
bool mul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

}  // namespace

std::optional<std::uint64_t> estimate_run_bytes(std::uint64_t bars, std::uint64_t book_depth) {
    // One level in memory plus its share of the response text, both sides.
    const std::uint64_t per_level = 2 * (sizeof(BookLevel) + kTextPerLevel);
    // The record, its return-history entry and the text around its book.
    const std::uint64_t per_bar_fixed = sizeof(BarRecord) + sizeof(double) + kTextPerBar;
    std::uint64_t levels = 0;
    std::uint64_t per_bar = 0;
    std::uint64_t total = 0;
    // The level scales computed once per run.
    std::uint64_t scales = 0;
    if (!mul(book_depth, per_level, levels) || !add(levels, per_bar_fixed, per_bar) ||
        !mul(bars, per_bar, total) || !mul(book_depth, sizeof(double), scales) ||
        !add(total, scales, total)) {
        return std::nullopt;
    }
    return total;
}

std::optional<std::uint64_t> physical_memory_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) {
        return std::nullopt;
    }
    std::uint64_t bytes = 0;
    if (!mul(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size), bytes)) {
        return std::nullopt;
    }
    return bytes;
}

Result<Unit, spec::SynthError> check_memory_budget(std::uint64_t bars, std::uint64_t book_depth,
                                                   std::optional<std::uint64_t> available) {
    const std::optional<std::uint64_t> needed = estimate_run_bytes(bars, book_depth);
    if (needed && (!available || *needed <= *available)) {
        return Unit{};
    }
    std::string message = "a run of ";
    message.append(std::to_string(bars))
        .append(" bars with book_depth ")
        .append(std::to_string(book_depth))
        .append(" needs more memory than this machine has");
    return spec::memory_error(std::move(message));
}

}  // namespace synth::generate
