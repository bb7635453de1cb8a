#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bar_records.hpp"
#include "encode/grouped.hpp"
#include "encode/size_estimate.hpp"
#include "encode/stream.hpp"
#include "support/json_writer.hpp"
#include "support/number_paths.hpp"

namespace {

using namespace synth::test;
using synth::encode::encode_grouped;
using synth::encode::encode_stream;
using synth::encode::NumberPath;
using synth::json::Writer;

// Bars with `trades[j]` trades on bar j and funding on every `funding_every`-th
// bar (0: never); numbers drawn from `value`.
template <class Value>
std::vector<Bar> make_bars(const std::vector<std::size_t>& trades, std::size_t depth,
                           std::size_t funding_every, Value value) {
    std::vector<Bar> bars(trades.size());
    std::uint64_t seq = 0;
    for (std::size_t j = 0; j < bars.size(); ++j) {
        const std::int64_t ts = 1700000000 + static_cast<std::int64_t>(j) * 60;
        Bar& bar = bars[j];
        bar.candle = Candle{ts, value(), value(), value(), value(), value()};
        for (std::size_t k = 0; k < depth; ++k) {
            bar.bids.push_back(Level{value(), value()});
            bar.asks.push_back(Level{value(), value()});
        }
        for (std::size_t m = 0; m < trades[j]; ++m) {
            bar.trades.push_back(
                Trade{ts, seq++, value(), value(), m % 3 == 1 ? Side::sell : Side::buy});
        }
        if (funding_every != 0 && (j + 1) % funding_every == 0) bar.funding = Funding{ts, value()};
    }
    return bars;
}

// Reference documents through the general Writer, an independent path.
void ref_candle(Writer& w, const Candle& c) {
    w.begin_object().key("ts").i64(c.ts).key("open").f64(c.open).key("high").f64(c.high);
    w.key("low").f64(c.low).key("close").f64(c.close).key("volume").f64(c.volume).end_object();
}
void ref_snapshot(Writer& w, const Bar& s) {
    w.begin_object().key("ts").i64(s.candle.ts);
    for (const auto* side : {&s.bids, &s.asks}) {
        w.key(side == &s.bids ? "bids" : "asks").begin_array();
        for (const Level& l : *side) {
            w.begin_object().key("price").f64(l.price).key("qty").f64(l.qty).end_object();
        }
        w.end_array();
    }
    w.end_object();
}
void ref_trade(Writer& w, const Trade& t) {
    w.begin_object().key("ts").i64(t.ts).key("seq").u64(t.seq).key("price").f64(t.price);
    w.key("qty").f64(t.qty).key("side").string(t.side == Side::sell ? "sell" : "buy").end_object();
}
void ref_funding(Writer& w, const Funding& f) {
    w.begin_object().key("ts").i64(f.ts).key("rate").f64(f.rate).end_object();
}

std::string ref_grouped(const std::vector<Bar>& bars) {
    Writer w;
    w.begin_object().key("candles").begin_array();
    for (const Bar& b : bars) ref_candle(w, b.candle);
    w.end_array().key("book_snapshots").begin_array();
    for (const Bar& b : bars) ref_snapshot(w, b);
    w.end_array().key("trades").begin_array();
    for (const Bar& b : bars) {
        for (const Trade& t : b.trades) ref_trade(w, t);
    }
    w.end_array();
    bool any_funding = false;
    for (const Bar& b : bars) any_funding = any_funding || b.funding.has_value();
    if (any_funding) {
        w.key("funding").begin_array();
        for (const Bar& b : bars) {
            if (b.funding) ref_funding(w, *b.funding);
        }
        w.end_array();
    }
    return w.end_object().take();
}

std::string ref_stream(const std::vector<Bar>& bars) {
    Writer w;
    w.begin_object().key("events").begin_array();
    for (const Bar& b : bars) {
        for (const Trade& t : b.trades) {
            w.begin_object().key("type").string("trade").key("trade");
            ref_trade(w, t);
            w.end_object();
        }
        w.begin_object().key("type").string("book").key("snapshot");
        ref_snapshot(w, b);
        w.end_object().begin_object().key("type").string("candle").key("candle");
        ref_candle(w, b.candle);
        w.end_object();
        if (b.funding) {
            w.begin_object().key("type").string("funding").key("sample");
            ref_funding(w, *b.funding);
            w.end_object();
        }
    }
    return w.end_array().end_object().take();
}

struct DocCase {
    const char* name;
    std::vector<std::size_t> trades;
    std::size_t depth;
    std::size_t funding_every;
};

class EncodeDocumentTest : public ::testing::TestWithParam<DocCase> {};

// Documents far larger than one output chunk, with mixed number forms, match the
// reference on both number paths and in both shapes.
TEST_P(EncodeDocumentTest, MatchesReferenceWriter) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::size_t i = 0;
    auto value = [&] {
        const double x = u(rng);
        switch (i++ % 5) {
            case 0:
                return std::round(x * 1e10) / 1e8;  // 0 .. 100
            case 1:
                return std::round(x * 1e3) / 1e8;  // exponent form
            case 2:
                return x;  // 16-17 digits
            case 3:
                return -std::round(x * 1e15) / 1e8;  // large, negative
            default:
                return std::round(x * 4) / 1e8 * 1e8 * 2.5e7;  // whole numbers
        }
    };
    const std::vector<Bar> bars =
        make_bars(GetParam().trades, GetParam().depth, GetParam().funding_every, value);
    const ColumnBatch batch = to_batch(bars, GetParam().depth);
    const std::string want_grouped = ref_grouped(bars);
    const std::string want_stream = ref_stream(bars);
    for (NumberPath path : {NumberPath::fast, NumberPath::general}) {
        EXPECT_EQ(encode_grouped(batch, path), want_grouped);
        EXPECT_EQ(encode_stream(batch, path), want_stream);
    }
}

std::vector<std::size_t> pattern(std::size_t bars, std::size_t a, std::size_t b) {
    std::vector<std::size_t> t(bars);
    for (std::size_t j = 0; j < bars; ++j) t[j] = j % 2 == 0 ? a : b;
    return t;
}

INSTANTIATE_TEST_SUITE_P(Table, EncodeDocumentTest,
                         ::testing::Values(DocCase{"no_trades", pattern(300, 0, 0), 1, 0},
                                           DocCase{"deep_book", pattern(40, 1, 3), 120, 7},
                                           DocCase{"many_trades", pattern(60, 50, 0), 2, 1},
                                           DocCase{"funding_each_bar", pattern(500, 2, 1), 3, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The buffer is sized from a sample of the records; a list whose sampled
// records are short while the rest are long must still come out whole.
TEST(EncodeDocumentTest, OutgrowsAnUnderestimate) {
    const std::size_t n = 5000;
    std::vector<bool> sampled(n);
    for (std::size_t k = 0; k < 256; ++k) sampled[k * n / 256] = true;
    std::vector<Bar> bars = make_bars(std::vector<std::size_t>(n, 0), 1, 0, [] { return 1.0; });
    for (std::size_t j = 0; j < n; ++j) {
        if (sampled[j]) continue;
        bars[j].candle.volume = bars[j].candle.close = -0.1 - 0.2 - static_cast<double>(j);
        bars[j].bids[0].qty = bars[j].asks[0].price = 1e-7 / 3;
    }
    const std::string want = ref_grouped(bars);
    const ColumnBatch batch = to_batch(bars, 1);
    const std::size_t estimate =
        synth::encode::with_headroom(synth::encode::estimate_grouped(batch));
    ASSERT_LT(estimate, want.size());  // the case really outgrows its estimate
    EXPECT_EQ(encode_grouped(batch), want);
}

// Grouped: the trades of every bar in bar order, funding on its own bar.
TEST(BuildTest, GroupedListsInBarOrder) {
    const std::vector<Bar> bars = make_bars({3, 0, 2}, 4, 2, [] { return 1.0; });
    const std::string g = encode_grouped(to_batch(bars, 4));
    std::size_t at = g.find(R"("trades":[)");
    for (std::size_t k = 0; k < 5; ++k) {
        const std::size_t next = g.find(R"("seq":)" + std::to_string(k) + ",", at);
        ASSERT_NE(next, std::string::npos) << k;
        at = next;
    }
    EXPECT_NE(g.find(R"("funding":[{"ts":)" + std::to_string(bars[1].candle.ts) + ","),
              std::string::npos);
}

// The event types in the order written.
std::vector<std::string> event_types(const std::string& text) {
    std::vector<std::string> types;
    const std::string key = R"({"type":")";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const std::size_t begin = at + key.size();
        types.push_back(text.substr(begin, text.find('"', begin) - begin));
    }
    return types;
}

TEST(BuildTest, StreamOrdersEachBarTradesBookCandleFunding) {
    const std::vector<Bar> bars = make_bars({2, 0, 1}, 1, 2, [] { return 1.0; });
    const std::string s = encode_stream(to_batch(bars, 1));
    const std::vector<std::string> want = {"trade",  "trade",   "book",  "candle", "book",
                                           "candle", "funding", "trade", "book",   "candle"};
    EXPECT_EQ(event_types(s), want);
    EXPECT_NE(s.find(R"({"type":"trade","trade":{"ts":)" + std::to_string(bars[2].candle.ts) +
                     R"(,"seq":2,)"),
              std::string::npos);
}

}  // namespace
