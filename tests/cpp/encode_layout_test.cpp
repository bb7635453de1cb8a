#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bar_records.hpp"
#include "encode/grouped.hpp"
#include "encode/stream.hpp"
#include "generate/generate.hpp"
#include "support/number_paths.hpp"

namespace {

using namespace synth::test;
using synth::encode::encode_grouped;
using synth::encode::encode_stream;
using synth::encode::NumberPath;

// The layout example: one bar, one level a side, one trade, no funding.
Bar example_bar() {
    Bar bar;
    bar.candle = Candle{1700000000, 100.0, 100.5, 99.75, 100.25, 1234.5};
    bar.bids = {Level{100.2, 5.5}};
    bar.asks = {Level{100.3, 7.25}};
    bar.trades = {Trade{1700000000, 0, 100.26, 0.75, Side::buy}};
    return bar;
}

std::vector<Bar> bars_of(std::vector<Bar> bars) {
    return bars;
}

ColumnBatch batch_of(const std::vector<Bar>& bars) {
    return to_batch(bars, bars.empty() ? 0 : bars[0].bids.size());
}

std::string grouped(const std::vector<Bar>& bars, NumberPath path = NumberPath::fast) {
    return encode_grouped(batch_of(bars), path);
}

std::string stream(const std::vector<Bar>& bars, NumberPath path = NumberPath::fast) {
    return encode_stream(batch_of(bars), path);
}

const std::string kCandle =
    R"({"ts":1700000000,"open":100.0,"high":100.5,"low":99.75,"close":100.25,"volume":1234.5})";
const std::string kSnapshot =
    R"({"ts":1700000000,"bids":[{"price":100.2,"qty":5.5}],"asks":[{"price":100.3,"qty":7.25}]})";
const std::string kTrade = R"({"ts":1700000000,"seq":0,"price":100.26,"qty":0.75,"side":"buy"})";

TEST(EncodeLayoutTest, GroupedExampleByteForByte) {
    const std::string want = R"({"candles":[)" + kCandle + R"(],"book_snapshots":[)" + kSnapshot +
                             R"(],"trades":[)" + kTrade + "]}";
    EXPECT_EQ(grouped(bars_of({example_bar()})), want);
    EXPECT_EQ(grouped(bars_of({example_bar()}), NumberPath::general), want);
}

TEST(EncodeLayoutTest, StreamExampleByteForByte) {
    const std::string want = R"({"events":[{"type":"trade","trade":)" + kTrade +
                             R"(},{"type":"book","snapshot":)" + kSnapshot +
                             R"(},{"type":"candle","candle":)" + kCandle + "}]}";
    EXPECT_EQ(stream(bars_of({example_bar()})), want);
    EXPECT_EQ(stream(bars_of({example_bar()}), NumberPath::general), want);
}

TEST(EncodeLayoutTest, FundingMemberAndEventFollowTheCandle) {
    Bar first = example_bar();
    first.funding = Funding{1700000000, -0.0};
    Bar second = example_bar();
    second.candle.ts = 1700003600;
    second.trades = {Trade{1700003600, 1, 100.0, 1.5, Side::sell}};

    const std::string g = grouped(bars_of({first, second}));
    const std::string tail = R"(],"funding":[{"ts":1700000000,"rate":-0.0}]})";
    ASSERT_GE(g.size(), tail.size());
    EXPECT_EQ(g.substr(g.size() - tail.size()), tail);
    EXPECT_NE(g.find(R"("trades":[)" + kTrade +
                     R"(,{"ts":1700003600,"seq":1,"price":100.0,"qty":1.5,"side":"sell"}])"),
              std::string::npos)
        << g;

    const std::string s = stream(bars_of({first, second}));
    const std::string order =
        R"(},{"type":"candle","candle":)" + kCandle +
        R"(},{"type":"funding","sample":{"ts":1700000000,"rate":-0.0}},{"type":"trade","trade":{"ts":1700003600,"seq":1,)";
    EXPECT_NE(s.find(order), std::string::npos) << s;
}

TEST(EncodeLayoutTest, EmptyListsAndNoBars) {
    Bar quiet = example_bar();
    quiet.trades.clear();
    const std::string g = grouped(bars_of({quiet}));
    EXPECT_EQ(g, R"({"candles":[)" + kCandle + R"(],"book_snapshots":[)" + kSnapshot +
                     R"(],"trades":[]})");
    EXPECT_EQ(stream(bars_of({quiet})), R"({"events":[{"type":"book","snapshot":)" + kSnapshot +
                                            R"(},{"type":"candle","candle":)" + kCandle + "}]}");
    EXPECT_EQ(grouped({}), R"({"candles":[],"book_snapshots":[],"trades":[]})");
    EXPECT_EQ(stream({}), R"({"events":[]})");

    Bar bookless = quiet;
    bookless.bids.clear();
    bookless.asks.clear();
    EXPECT_NE(grouped(bars_of({bookless})).find(R"("bids":[],"asks":[])"), std::string::npos);
}

// Deep books cross the writer's internal blocks and buffer chunks at every
// offset: books of several depths, with numbers of the longest form mixed in
// at shifting levels, must still come out as the plain concatenation of their
// level texts.
TEST(EncodeLayoutTest, DeepBooksByteForByte) {
    const std::string longest = "-2.2250738585072014e-308";
    for (std::size_t depth : {1, 2, 63, 64, 65, 127, 128, 129, 700, 3}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        std::vector<Bar> bars;
        std::string want_books;
        for (std::size_t round = 0; round < 12; ++round) {
            Bar bar = example_bar();
            bar.trades.clear();
            bar.bids.clear();
            bar.asks.clear();
            std::string bids;
            std::string asks;
            for (std::size_t k = 0; k < depth; ++k) {
                const bool wide = (k + round) % 5 == 0;
                const double price = wide ? -2.2250738585072014e-308 : static_cast<double>(k) + 0.5;
                const std::string price_text = wide ? longest : std::to_string(k) + ".5";
                const std::string qty_text = std::to_string(k + round) + ".0";
                const std::string level =
                    R"({"price":)" + price_text + R"(,"qty":)" + qty_text + "}";
                bar.bids.push_back(Level{price, static_cast<double>(k + round)});
                bar.asks.push_back(Level{price, static_cast<double>(k + round)});
                bids += (k == 0 ? "" : ",") + level;
                asks += (k == 0 ? "" : ",") + level;
            }
            if (!want_books.empty()) want_books += ",";
            want_books += R"({"ts":1700000000,"bids":[)" + bids + R"(],"asks":[)" + asks + "]}";
            bars.push_back(bar);
        }
        std::string candles;
        for (std::size_t i = 0; i < bars.size(); ++i) candles += (i == 0 ? "" : ",") + kCandle;
        const std::string want = R"({"candles":[)" + candles + R"(],"book_snapshots":[)" +
                                 want_books + R"(],"trades":[]})";
        EXPECT_EQ(grouped(bars), want);
        EXPECT_EQ(grouped(bars, NumberPath::general), want);
    }
}

struct ValueCase {
    double value;
    const char* text;
};

class EncodeValueTest : public ::testing::TestWithParam<ValueCase> {};

// Every number slot of every record writes the value by the float rules.
TEST_P(EncodeValueTest, EveryNumberSlot) {
    const double v = GetParam().value;
    const std::string t = GetParam().text;
    // The book, trades and funding carry the candle's timestamp.
    const std::int64_t ts = std::numeric_limits<std::int64_t>::min();
    Bar bar;
    bar.candle = Candle{ts, v, v, v, v, v};
    bar.bids = {Level{v, v}};
    bar.asks = {Level{v, v}};
    bar.trades = {Trade{ts, 18446744073709551615ULL, v, v, Side::sell}};
    bar.funding = Funding{ts, v};
    const std::string level = R"({"price":)" + t + R"(,"qty":)" + t + "}";
    const std::string want =
        R"({"candles":[{"ts":-9223372036854775808,"open":)" + t + R"(,"high":)" + t + R"(,"low":)" +
        t + R"(,"close":)" + t + R"(,"volume":)" + t +
        R"(}],"book_snapshots":[{"ts":-9223372036854775808,"bids":[)" + level + R"(],"asks":[)" +
        level + R"(]}],"trades":[{"ts":-9223372036854775808,"seq":18446744073709551615,"price":)" +
        t + R"(,"qty":)" + t + R"(,"side":"sell"}],"funding":[{"ts":-9223372036854775808,"rate":)" +
        t + "}]}";
    EXPECT_EQ(grouped(bars_of({bar})), want);
    EXPECT_EQ(grouped(bars_of({bar}), NumberPath::general), want);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodeValueTest,
    ::testing::Values(ValueCase{0.0, "0.0"}, ValueCase{-0.0, "-0.0"},
                      ValueCase{0.00000123, "1.23e-6"}, ValueCase{0.00001234, "0.00001234"},
                      ValueCase{0.0000015, "1.5e-6"}, ValueCase{100.12345678, "100.12345678"},
                      ValueCase{-3.5, "-3.5"}, ValueCase{1e16, "1e+16"},
                      ValueCase{std::numeric_limits<double>::quiet_NaN(), "null"},
                      ValueCase{std::numeric_limits<double>::infinity(), "null"},
                      ValueCase{-std::numeric_limits<double>::infinity(), "null"}));

// Values that left the finite range are stored as the null NaN; both shapes
// write each of them as null, on both number paths.
TEST(EncodeLayoutTest, GeneratedNullsAreWrittenAsNull) {
    synth::spec::GenSpec spec;
    spec.seed = 3;
    spec.bars = 4;
    spec.start_price = 1e305;  // its rounding overflows
    spec.regimes = {{synth::spec::RegimeKind::trend, 4, 0.0, 0.0}};
    spec.microstructure.book_depth = 2;
    const auto made = synth::generate::generate(spec);
    ASSERT_TRUE(made.ok());
    const ColumnBatch& b = made.value();
    std::size_t nulls = 0;
    for (const auto* c :
         {&b.open, &b.high, &b.low, &b.close, &b.volume, &b.level_price, &b.level_qty}) {
        for (double v : c->view()) nulls += std::isnan(v) ? 1 : 0;
    }
    ASSERT_EQ(nulls, 4u * (4 + 2 * 2));  // open, high, low, close and every level price
    const auto count = [](const std::string& text, const std::string& word) {
        std::size_t n = 0;
        for (std::size_t at = text.find(word); at != std::string::npos;
             at = text.find(word, at + 1))
            ++n;
        return n;
    };
    for (NumberPath path : {NumberPath::fast, NumberPath::general}) {
        const std::string g = encode_grouped(b, path);
        const std::string s = encode_stream(b, path);
        EXPECT_EQ(count(g, ":null"), nulls) << g;
        EXPECT_EQ(count(s, ":null"), nulls) << s;
        EXPECT_NE(g.find(R"({"ts":1700000000,"open":null,"high":null,"low":null,"close":null,)"),
                  std::string::npos)
            << g;
    }
}

}  // namespace
