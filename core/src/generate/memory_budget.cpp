#include "generate/memory_budget.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace synth::generate {
namespace {

// Generous lengths of the encoded JSON: one book level with its separator, one
// trade event, and per bar the candle event, the snapshot frame and a funding
// event.
constexpr std::uint64_t kTextPerLevel = 48;
constexpr std::uint64_t kTextPerTrade = 112;
constexpr std::uint64_t kTextPerBar = 256;
// The response text exists twice at the end: ours and the caller's copy.
constexpr std::uint64_t kTextCopies = 2;
// Column bytes of a bar's candle, snapshot time and funding point, a level
// and a trade.
constexpr std::uint64_t kColumnsPerBar =
    2 * sizeof(std::int64_t) + 5 * sizeof(double) + sizeof(std::int64_t) + sizeof(double);
constexpr std::uint64_t kColumnsPerLevel = 2 * sizeof(double);
constexpr std::uint64_t kColumnsPerTrade =
    sizeof(std::int64_t) + sizeof(std::uint64_t) + 2 * sizeof(double) + sizeof(std::uint8_t);
// A trade of a tick run also has its own time.
constexpr std::uint64_t kColumnsPerTick = kColumnsPerTrade + sizeof(std::int64_t);
// The trade columns grow by doubling when a batch draws more than expected:
// while one grows, its old and new storage exist together.
constexpr std::uint64_t kTradeGrowth = 3;
// A wide book's header per level: ",bid_price_K,bid_qty_K,ask_price_K,ask_qty_K"
// is 40 bytes and four copies of the level number; "ts" and the line end.
constexpr std::uint64_t kWideHeaderPerLevel = 40;
constexpr std::uint64_t kWideHeaderFixed = 3;
// What a table library keeps per column besides the values: its name, a
// field of the schema, an array or series object. Generous.
constexpr std::uint64_t kBytesPerWideColumn = 1024;
// 2^64 as a double: a trade estimate at or above it cannot be counted.
constexpr double kTwoTo64 = 18446744073709551616.0;

bool add(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}
bool mul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

// Expected trades of the whole run, rounded up; nullopt beyond u64.
std::optional<std::uint64_t> expected_trades(std::uint64_t bars, double trade_rate, bool ticks) {
    if (!(trade_rate > 0.0)) return 0;
    const double total = mean_trades_per_bar(trade_rate, ticks) * static_cast<double>(bars);
    if (!(total < kTwoTo64)) return std::nullopt;
    return static_cast<std::uint64_t>(total) + 1;
}

// Bytes of `bars` bars in columns, and with their text when `text_copies` > 0.
std::optional<std::uint64_t> estimate_bytes(std::uint64_t bars, std::uint64_t book_depth,
                                            double trade_rate, std::uint64_t text_copies,
                                            bool ticks, std::uint64_t extra_per_bar = 0) {
    // Both sides of a level.
    const std::uint64_t per_level = 2 * (kColumnsPerLevel + text_copies * kTextPerLevel);
    std::uint64_t per_bar_fixed = kColumnsPerBar + text_copies * kTextPerBar;
    if (!add(per_bar_fixed, extra_per_bar, per_bar_fixed)) return std::nullopt;
    const std::uint64_t per_trade =
        kTradeGrowth * (ticks ? kColumnsPerTick : kColumnsPerTrade) + text_copies * kTextPerTrade;

    const std::optional<std::uint64_t> trades = expected_trades(bars, trade_rate, ticks);
    std::uint64_t levels = 0, per_bar = 0, total = 0, trade_bytes = 0, scales = 0;
    if (!trades || !mul(book_depth, per_level, levels) || !add(levels, per_bar_fixed, per_bar) ||
        !mul(bars, per_bar, total) || !mul(*trades, per_trade, trade_bytes) ||
        !add(total, trade_bytes, total) ||
        // The level scales computed once per run.
        !mul(book_depth, sizeof(double), scales) || !add(total, scales, total)) {
        return std::nullopt;
    }
    return total;
}

// Decimal digits of the largest level number, an upper bound for every level.
std::uint64_t level_digits(std::uint64_t book_depth) {
    std::uint64_t digits = 1;
    for (std::uint64_t top = book_depth > 0 ? book_depth - 1 : 0; top >= 10; top /= 10) ++digits;
    return digits;
}

Result<Unit, spec::SynthError> check(std::optional<std::uint64_t> needed,
                                     std::optional<std::uint64_t> available, const char* what,
                                     std::uint64_t bars, std::uint64_t book_depth) {
    if (needed && (!available || *needed <= *available)) {
        return Unit{};
    }
    std::string message = what;
    message.append(std::to_string(bars))
        .append(" bars with book_depth ")
        .append(std::to_string(book_depth))
        .append(" needs more memory than this machine has");
    return spec::memory_error(std::move(message));
}

}  // namespace

std::optional<std::uint64_t> estimate_run_bytes(std::uint64_t bars, std::uint64_t book_depth,
                                                double trade_rate, bool ticks) {
    return estimate_bytes(bars, book_depth, trade_rate, kTextCopies, ticks);
}

std::optional<std::uint64_t> estimate_batch_bytes(std::uint64_t bars, std::uint64_t book_depth,
                                                  double trade_rate, std::uint64_t extra_per_bar,
                                                  bool ticks) {
    return estimate_bytes(bars, book_depth, trade_rate, 0, ticks, extra_per_bar);
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
                                                   double trade_rate,
                                                   std::optional<std::uint64_t> available) {
    return check(estimate_run_bytes(bars, book_depth, trade_rate), available, "a run of ", bars,
                 book_depth);
}

Result<Unit, spec::SynthError> check_batch_budget(std::uint64_t bars, std::uint64_t book_depth,
                                                  double trade_rate,
                                                  std::optional<std::uint64_t> available,
                                                  std::uint64_t extra_per_bar, bool ticks) {
    return check(estimate_batch_bytes(bars, book_depth, trade_rate, extra_per_bar, ticks),
                 available, "a batch of ", bars, book_depth);
}

std::optional<std::uint64_t> estimate_wide_book_bytes(std::uint64_t book_depth) {
    const std::uint64_t per_level = kWideHeaderPerLevel + 4 * level_digits(book_depth);
    std::uint64_t header = 0, columns = 0, objects = 0, total = 0;
    if (!mul(book_depth, per_level, header) || !add(header, kWideHeaderFixed, header) ||
        !mul(header, kTextCopies, total) || !mul(book_depth, 4, columns) ||
        !add(columns, 1, columns) || !mul(columns, kBytesPerWideColumn, objects) ||
        !add(total, objects, total)) {
        return std::nullopt;
    }
    return total;
}

Result<Unit, spec::SynthError> check_wide_book_budget(std::uint64_t book_depth,
                                                      std::optional<std::uint64_t> available) {
    const std::optional<std::uint64_t> needed = estimate_wide_book_bytes(book_depth);
    if (needed && (!available || *needed <= *available)) {
        return Unit{};
    }
    return spec::memory_error("a wide book with book_depth " + std::to_string(book_depth) +
                              " needs more memory than this machine has");
}

}  // namespace synth::generate
