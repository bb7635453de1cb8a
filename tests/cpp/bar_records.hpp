#pragma once
// Plain per-bar records for the tests: a shape that is obvious to build or
// compute by hand, converted to and from the generator's column batches, and a
// bit-for-bit comparison of two batches.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "generate/batch.hpp"

namespace synth::test {

using generate::ColumnBatch;
using generate::Side;

struct Candle {
    std::int64_t ts = 0;
    double open = 0.0, high = 0.0, low = 0.0, close = 0.0, volume = 0.0;
};
struct Level {
    double price = 0.0, qty = 0.0;
};
struct Trade {
    std::int64_t ts = 0;
    std::uint64_t seq = 0;
    double price = 0.0, qty = 0.0;
    Side side = Side::buy;
};
struct Funding {
    std::int64_t ts = 0;
    double rate = 0.0;
};
// The book, trades and funding point carry the candle's timestamp.
struct Bar {
    Candle candle;
    std::vector<Level> bids, asks;  // best first
    std::vector<Trade> trades;
    std::optional<Funding> funding;
};

// Every bar needs `depth` levels a side.
inline ColumnBatch to_batch(const std::vector<Bar>& bars, std::size_t depth,
                            std::uint64_t first_bar = 0) {
    ColumnBatch b;
    b.reset(first_bar, bars.size(), depth, 0, 0);
    for (const Bar& bar : bars) {
        EXPECT_EQ(bar.bids.size(), depth);
        EXPECT_EQ(bar.asks.size(), depth);
        const Candle& c = bar.candle;
        b.ts.push_back(c.ts);
        b.open.push_back(c.open);
        b.high.push_back(c.high);
        b.low.push_back(c.low);
        b.close.push_back(c.close);
        b.volume.push_back(c.volume);
        for (const auto* side : {&bar.bids, &bar.asks}) {
            for (const Level& l : *side) {
                b.level_price.push_back(l.price);
                b.level_qty.push_back(l.qty);
            }
        }
        for (const Trade& t : bar.trades) {
            b.trade_ts.push_back(t.ts);
            b.trade_seq.push_back(t.seq);
            b.trade_price.push_back(t.price);
            b.trade_qty.push_back(t.qty);
            b.trade_side.push_back(static_cast<std::uint8_t>(t.side));
        }
        if (bar.funding) {
            b.funding_ts.push_back(bar.funding->ts);
            b.funding_rate.push_back(bar.funding->rate);
        }
    }
    return b;
}

// A bar's trades and funding point are the next ones with its timestamp;
// every trade and funding point must belong to a bar.
inline std::vector<Bar> to_bars(const ColumnBatch& b) {
    std::vector<Bar> bars(b.bars());
    const std::size_t depth = b.book_depth;
    std::size_t t = 0, f = 0;
    for (std::size_t j = 0; j < bars.size(); ++j) {
        Bar& bar = bars[j];
        bar.candle = {b.ts[j], b.open[j], b.high[j], b.low[j], b.close[j], b.volume[j]};
        for (std::size_t k = 0; k < depth; ++k) {
            const std::size_t bid = j * 2 * depth + k;
            bar.bids.push_back({b.level_price[bid], b.level_qty[bid]});
            bar.asks.push_back({b.level_price[bid + depth], b.level_qty[bid + depth]});
        }
        for (; t < b.trades() && b.trade_ts[t] == b.ts[j]; ++t) {
            bar.trades.push_back({b.trade_ts[t], b.trade_seq[t], b.trade_price[t], b.trade_qty[t],
                                  static_cast<Side>(b.trade_side[t])});
        }
        if (f < b.funding_points() && b.funding_ts[f] == b.ts[j]) {
            bar.funding = Funding{b.funding_ts[f], b.funding_rate[f]};
            ++f;
        }
    }
    EXPECT_EQ(t, b.trades()) << "trades outside their bars";
    EXPECT_EQ(f, b.funding_points()) << "funding outside its bars";
    return bars;
}

template <class T>
std::uint64_t bits_of(T v) {
    if constexpr (sizeof(T) == 8) {
        return std::bit_cast<std::uint64_t>(v);
    } else {
        return static_cast<std::uint64_t>(v);
    }
}

template <class T>
void expect_same_column(const char* name, const generate::Column<T>& got,
                        const generate::Column<T>& want) {
    ASSERT_EQ(got.size(), want.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (bits_of(got[i]) != bits_of(want[i])) {
            ADD_FAILURE() << name << "[" << i << "]: " << +got[i] << " != " << +want[i];
            return;
        }
    }
}

// Equal bits in every column (so NaNs compare by their bits), same depth.
inline void expect_same_columns(const ColumnBatch& got, const ColumnBatch& want) {
    EXPECT_EQ(got.book_depth, want.book_depth);
#define SYNTH_SAME_COLUMN(c) expect_same_column(#c, got.c, want.c)
    SYNTH_SAME_COLUMN(ts);
    SYNTH_SAME_COLUMN(open);
    SYNTH_SAME_COLUMN(high);
    SYNTH_SAME_COLUMN(low);
    SYNTH_SAME_COLUMN(close);
    SYNTH_SAME_COLUMN(volume);
    SYNTH_SAME_COLUMN(level_price);
    SYNTH_SAME_COLUMN(level_qty);
    SYNTH_SAME_COLUMN(trade_ts);
    SYNTH_SAME_COLUMN(trade_seq);
    SYNTH_SAME_COLUMN(trade_price);
    SYNTH_SAME_COLUMN(trade_qty);
    SYNTH_SAME_COLUMN(trade_side);
    SYNTH_SAME_COLUMN(funding_ts);
    SYNTH_SAME_COLUMN(funding_rate);
#undef SYNTH_SAME_COLUMN
}

}  // namespace synth::test
