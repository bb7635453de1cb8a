#pragma once
// A batch of consecutive bars as columns, one array per field, filled by the
// run and read by every output: the JSON writers, the CSV writer and the
// tables handed to Python without a copy.
//
// Every price, quantity, volume and rate is already rounded to eight decimals;
// a value that left the finite range is stored as kNull (round8.hpp), which
// the JSON writers write as null. Timestamps are seconds.
#include <cstdint>

#include "generate/column.hpp"

namespace synth::generate {

enum class Side : std::uint8_t { buy = 0, sell = 1 };

struct ColumnBatch {
    std::uint64_t first_bar = 0;  // index in the run of the batch's first bar
    std::uint64_t book_depth = 0;
    // Trades carry their own times (trade_ts_ns) and the book is stamped
    // with the bar's close: a run of the tick model.
    bool tick_times = false;

    // Candles, one entry per bar; the book, trades and funding of a bar carry
    // the same timestamp.
    Column<std::int64_t> ts;
    Column<double> open, high, low, close, volume;

    // Book levels, bars x 2 x book_depth: per bar the bids, level 0 (best,
    // highest) first, then the asks, level 0 (best, lowest) first. This is the
    // long table's row order, and each side is a (bars, depth) view with a row
    // stride of 2 x depth.
    Column<double> level_price, level_qty;
    // The snapshot's timestamp, one per bar, filled in tick runs only: the
    // bar's close time (ts + bar_secs), the book after the bar's last trade.
    Column<std::int64_t> snapshot_ts;

    // Trades, bar by bar, in the order drawn. trade_ts is the bar's open
    // time; trade_ts_ns, filled in tick runs only, the trade's own time in
    // nanoseconds since the epoch.
    Column<std::int64_t> trade_ts;
    Column<std::int64_t> trade_ts_ns;
    Column<std::uint64_t> trade_seq;
    Column<double> trade_price, trade_qty;
    Column<std::uint8_t> trade_side;  // Side values

    // Funding points, on funding bars only.
    Column<std::int64_t> funding_ts;
    Column<double> funding_rate;

    // Labels, one entry per bar, only when the run was asked for them: the
    // regime's index and kind (RegimeKind values), the conditional vol used and
    // the jump added to the log return (0 when none), both unrounded.
    static constexpr std::size_t kLabelBytesPerBar =
        sizeof(std::int64_t) + sizeof(std::uint8_t) + 2 * sizeof(double);
    bool labels = false;
    Column<std::int64_t> label_regime;
    Column<std::uint8_t> label_kind;
    Column<double> label_sigma, label_jump;

    // The book snapshots' times: their own column in a tick run; in a
    // classic run the bars' times, so the classic bar loop stores nothing more.
    const Column<std::int64_t>& book_times() const { return tick_times ? snapshot_ts : ts; }
    Column<std::int64_t>& book_times() { return tick_times ? snapshot_ts : ts; }

    std::size_t bars() const { return ts.size(); }
    std::size_t trades() const { return trade_ts.size(); }
    std::size_t funding_points() const { return funding_ts.size(); }

    // Empties every column and reserves room for `bars` bars, their levels
    // and about `expected_trades` trades (the trade columns grow beyond it
    // when a batch draws more), their labels when `with_labels`, and
    // trade_ts_ns only for `ticks`.
    void reset(std::uint64_t first, std::size_t bars, std::size_t depth,
               std::size_t expected_trades, std::size_t funding_points, bool with_labels = false,
               bool ticks = false);
};

}  // namespace synth::generate
