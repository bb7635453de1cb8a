#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bar_records.hpp"
#include "generate/generate.hpp"
#include "generate/run.hpp"

namespace {

using namespace synth::generate;
using synth::spec::FundingSpec;
using synth::spec::GenSpec;
using synth::spec::Regime;
using synth::spec::RegimeKind;
using synth::spec::SynthError;
using synth::test::expect_same_columns;

GenSpec make_spec(std::vector<Regime> regimes, std::uint64_t depth, double trade_rate,
                  std::uint64_t funding_interval) {
    GenSpec s;
    s.seed = 11;
    s.start_price = 100.0;
    for (const Regime& r : regimes) s.bars += r.len;
    s.regimes = std::move(regimes);
    s.microstructure.book_depth = depth;
    s.microstructure.spread_bps = 6.0;
    s.microstructure.trade_rate = trade_rate;
    if (funding_interval != 0) {
        s.microstructure.funding = FundingSpec{funding_interval, 0.0001, 0.5};
    }
    return s;
}

template <class T>
void append(Column<T>& into, const Column<T>& from) {
    for (std::size_t i = 0; i < from.size(); ++i) into.push_back(from[i]);
}

void append(ColumnBatch& into, const ColumnBatch& from) {
    into.book_depth = from.book_depth;
    append(into.ts, from.ts);
    for (auto c :
         {&ColumnBatch::open, &ColumnBatch::high, &ColumnBatch::low, &ColumnBatch::close,
          &ColumnBatch::volume, &ColumnBatch::level_price, &ColumnBatch::level_qty,
          &ColumnBatch::trade_price, &ColumnBatch::trade_qty, &ColumnBatch::funding_rate}) {
        append(into.*c, from.*c);
    }
    append(into.trade_ts, from.trade_ts);
    append(into.trade_seq, from.trade_seq);
    append(into.trade_side, from.trade_side);
    append(into.funding_ts, from.funding_ts);
}

struct BatchCase {
    const char* name;
    GenSpec spec;
};

class Batches : public ::testing::TestWithParam<BatchCase> {};

// Any batch size makes the bars of one whole-run batch, bit for bit, with the
// batch object reused from call to call as a caller would.
TEST_P(Batches, ConcatenateToTheWholeRun) {
    const GenSpec& spec = GetParam().spec;
    auto whole = generate(spec);
    ASSERT_TRUE(whole.ok()) << whole.error().render();
    for (std::uint64_t size : {std::uint64_t{1}, std::uint64_t{7}, spec.bars + 5}) {
        SCOPED_TRACE("batch size " + std::to_string(size));
        auto run = Run::start(spec);
        ASSERT_TRUE(run.ok());
        ColumnBatch batch, joined;
        std::uint64_t done = 0;
        while (run.value().bars_left() != 0) {
            auto made = run.value().advance(size, batch);
            ASSERT_TRUE(made.ok());
            ASSERT_EQ(made.value(), std::min(size, spec.bars - done));
            EXPECT_EQ(batch.first_bar, done);
            EXPECT_EQ(batch.bars(), made.value());
            done += made.value();
            append(joined, batch);
        }
        expect_same_columns(joined, whole.value());
        // A finished run makes empty batches.
        auto after = run.value().advance(size, batch);
        ASSERT_TRUE(after.ok());
        EXPECT_EQ(after.value(), 0u);
        EXPECT_EQ(batch.bars() + batch.trades() + batch.level_price.size(), 0u);
    }
}

GenSpec huge_prices() {
    GenSpec s = make_spec({{RegimeKind::trend, 9, 0, 0}}, 2, 0.0, 2);
    s.start_price = 1e305;  // stored as null throughout
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Specs, Batches,
    ::testing::Values(
        // Funding intervals of 3 and 10 straddle batches of 7.
        BatchCase{"trades_funding_depth1", make_spec({{RegimeKind::vol, 40, 0, 0.02}}, 1, 3.0, 3)},
        BatchCase{"range_regimes_straddle", make_spec({{RegimeKind::range, 5, 0.4, 0.03},
                                                       {RegimeKind::range, 9, 0.7, 0.02},
                                                       {RegimeKind::trend, 4, 0.01, 0.02},
                                                       {RegimeKind::crash, 6, 0.02, 0.04}},
                                                      4, 2.0, 10)},
        BatchCase{"deep_book_many_trades",
                  make_spec({{RegimeKind::crash, 12, -0.01, 0.02}}, 30, 40.0, 1)},
        BatchCase{"quiet", make_spec({{RegimeKind::trend, 15, 0.001, 0.01}}, 1, 0.0, 0)},
        BatchCase{"nulls", huge_prices()}),
    [](const auto& info) { return std::string(info.param.name); });

// Bars 0..9 are calm; from bar 10 the price multiplies by about e^200 a bar,
// and within a few bars the candle leaves the finite doubles.
TEST(Batches, NumericFailureInALaterBatchStays) {
    const GenSpec spec =
        make_spec({{RegimeKind::vol, 10, 0, 0.01}, {RegimeKind::trend, 5, 200, 0.01}}, 2, 1.0, 4);
    ASSERT_FALSE(generate(spec).ok());
    std::uint64_t failing_bar = 0;
    for (std::uint64_t size : {std::uint64_t{1}, std::uint64_t{7}, spec.bars + 5}) {
        SCOPED_TRACE("batch size " + std::to_string(size));
        auto run = Run::start(spec);
        ASSERT_TRUE(run.ok());
        ColumnBatch batch;
        std::uint64_t delivered = 0;
        for (;;) {
            auto made = run.value().advance(size, batch);
            if (!made.ok()) break;
            ASSERT_NE(made.value(), 0u) << "the run ended without its failure";
            delivered += made.value();
        }
        // One bar at a time finds the failing bar; larger batches deliver
        // exactly the whole batches before the one holding it.
        if (size == 1) {
            failing_bar = delivered;
            ASSERT_GT(failing_bar, 10u);
        }
        EXPECT_EQ(delivered, failing_bar / size * size);
        for (int again = 0; again < 2; ++again) {
            auto made = run.value().advance(size, batch);
            ASSERT_FALSE(made.ok());
            EXPECT_EQ(made.error().kind, SynthError::Kind::Numeric);
            EXPECT_EQ(made.error().message, "price walk produced a non-finite value");
        }
    }
}

TEST(Batches, StartReportsTheValidationError) {
    GenSpec spec = make_spec({{RegimeKind::vol, 3, 0, 0.01}}, 1, 0.0, 0);
    spec.bars = 4;
    auto run = Run::start(spec);
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error().kind, SynthError::Kind::BadSpec);
    EXPECT_EQ(run.error().message, generate(spec).error().message);
}

}  // namespace
