#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "encode/grouped.hpp"
#include "encode/size_estimate.hpp"
#include "encode/stream.hpp"
#include "json/writer.hpp"

namespace {

using namespace synth::generate;
using synth::encode::build_grouped;
using synth::encode::build_stream;
using synth::encode::encode_grouped;
using synth::encode::encode_stream;
using synth::encode::EventStream;
using synth::encode::GeneratedSeries;
using synth::encode::NumberPath;
using synth::encode::StreamEvent;
using synth::json::Writer;

// Bars with `trades[j]` trades on bar j and funding on every `funding_every`-th
// bar (0: never); numbers drawn from `value`.
template <class Value>
std::vector<BarRecord> make_bars(const std::vector<std::size_t>& trades, std::size_t depth,
                                 std::size_t funding_every, Value value) {
    std::vector<BarRecord> bars(trades.size());
    std::uint64_t seq = 0;
    for (std::size_t j = 0; j < bars.size(); ++j) {
        const std::int64_t ts = 1700000000 + static_cast<std::int64_t>(j) * 60;
        BarRecord& bar = bars[j];
        bar.candle = Candle{ts, value(), value(), value(), value(), value()};
        bar.book.ts = ts;
        for (std::size_t k = 0; k < depth; ++k) {
            bar.book.bids.push_back(BookLevel{value(), value()});
            bar.book.asks.push_back(BookLevel{value(), value()});
        }
        for (std::size_t m = 0; m < trades[j]; ++m) {
            bar.trades.push_back(
                Trade{ts, seq++, value(), value(), m % 3 == 1 ? Side::sell : Side::buy});
        }
        if (funding_every != 0 && (j + 1) % funding_every == 0)
            bar.funding = FundingPoint{ts, value()};
    }
    return bars;
}

// Reference documents through the general Writer, an independent path.
void ref_candle(Writer& w, const Candle& c) {
    w.begin_object().key("ts").i64(c.ts).key("open").f64(c.open).key("high").f64(c.high);
    w.key("low").f64(c.low).key("close").f64(c.close).key("volume").f64(c.volume).end_object();
}
void ref_snapshot(Writer& w, const BookSnapshot& s) {
    w.begin_object().key("ts").i64(s.ts);
    for (const auto* side : {&s.bids, &s.asks}) {
        w.key(side == &s.bids ? "bids" : "asks").begin_array();
        for (const BookLevel& l : *side) {
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
void ref_funding(Writer& w, const FundingPoint& f) {
    w.begin_object().key("ts").i64(f.ts).key("rate").f64(f.rate).end_object();
}

std::string ref_grouped(const std::vector<BarRecord>& bars) {
    Writer w;
    w.begin_object().key("candles").begin_array();
    for (const BarRecord& b : bars) ref_candle(w, b.candle);
    w.end_array().key("book_snapshots").begin_array();
    for (const BarRecord& b : bars) ref_snapshot(w, b.book);
    w.end_array().key("trades").begin_array();
    for (const BarRecord& b : bars) {
        for (const Trade& t : b.trades) ref_trade(w, t);
    }
    w.end_array();
    bool any_funding = false;
    for (const BarRecord& b : bars) any_funding = any_funding || b.funding.has_value();
    if (any_funding) {
        w.key("funding").begin_array();
        for (const BarRecord& b : bars) {
            if (b.funding) ref_funding(w, *b.funding);
        }
        w.end_array();
    }
    return w.end_object().take();
}

std::string ref_stream(const std::vector<BarRecord>& bars) {
    Writer w;
    w.begin_object().key("events").begin_array();
    for (const BarRecord& b : bars) {
        for (const Trade& t : b.trades) {
            w.begin_object().key("type").string("trade").key("trade");
            ref_trade(w, t);
            w.end_object();
        }
        w.begin_object().key("type").string("book").key("snapshot");
        ref_snapshot(w, b.book);
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
    const std::vector<BarRecord> bars =
        make_bars(GetParam().trades, GetParam().depth, GetParam().funding_every, value);
    const std::string want_grouped = ref_grouped(bars);
    const std::string want_stream = ref_stream(bars);
    for (NumberPath path : {NumberPath::fast, NumberPath::general}) {
        EXPECT_EQ(encode_grouped(build_grouped(std::vector<BarRecord>(bars)), path), want_grouped);
        EXPECT_EQ(encode_stream(build_stream(std::vector<BarRecord>(bars)), path), want_stream);
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
    std::vector<BarRecord> bars =
        make_bars(std::vector<std::size_t>(n, 0), 1, 0, [] { return 1.0; });
    for (std::size_t j = 0; j < n; ++j) {
        if (sampled[j]) continue;
        bars[j].candle.volume = bars[j].candle.close = -0.1 - 0.2 - static_cast<double>(j);
        bars[j].book.bids[0].qty = bars[j].book.asks[0].price = 1e-7 / 3;
    }
    const std::string want = ref_grouped(bars);
    GeneratedSeries series = build_grouped(std::move(bars));
    const std::size_t estimate =
        synth::encode::with_headroom(synth::encode::estimate_candles(series.candles) +
                                     synth::encode::estimate_snapshots(series.book_snapshots));
    ASSERT_LT(estimate, want.size());  // the case really outgrows its estimate
    EXPECT_EQ(encode_grouped(series), want);
}

TEST(BuildTest, GroupedGathersInBarOrderAndMovesBooks) {
    std::vector<BarRecord> bars = make_bars({3, 0, 2}, 4, 2, [] { return 1.0; });
    const BookLevel* bids1 = bars[1].book.bids.data();
    const BookLevel* asks2 = bars[2].book.asks.data();
    GeneratedSeries s = build_grouped(std::move(bars));
    ASSERT_EQ(s.candles.size(), 3u);
    ASSERT_EQ(s.book_snapshots.size(), 3u);
    EXPECT_EQ(s.book_snapshots[1].bids.data(), bids1);  // moved, not copied
    EXPECT_EQ(s.book_snapshots[2].asks.data(), asks2);
    ASSERT_EQ(s.trades.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(s.trades[k].seq, k);
    EXPECT_EQ(s.trades[3].ts, s.candles[2].ts);
    ASSERT_EQ(s.funding.size(), 1u);
    EXPECT_EQ(s.funding[0].ts, s.candles[1].ts);
}

TEST(BuildTest, StreamOrdersEachBarTradesBookCandleFunding) {
    std::vector<BarRecord> bars = make_bars({2, 0, 1}, 1, 2, [] { return 1.0; });
    const BookLevel* bids0 = bars[0].book.bids.data();
    EventStream s = build_stream(std::move(bars));
    using K = StreamEvent::Kind;
    const std::vector<K> want = {K::trade,  K::trade,   K::book,  K::candle, K::book,
                                 K::candle, K::funding, K::trade, K::book,   K::candle};
    ASSERT_EQ(s.events.size(), want.size());
    EXPECT_EQ(s.events.capacity(), want.size());  // reserved exactly
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(s.events[k].kind(), want[k]) << k;
    EXPECT_EQ(std::get<BookSnapshot>(s.events[2].payload).bids.data(), bids0);
    EXPECT_EQ(std::get<Trade>(s.events[7].payload).seq, 2u);
}

}  // namespace
