#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bar_records.hpp"
#include "generate/factors.hpp"
#include "generate/generate.hpp"
#include "generate/run.hpp"

namespace {

using namespace synth::generate;
using synth::spec::CommonJumps;
using synth::spec::FactorSpec;
using synth::spec::Garch;
using synth::spec::GenSpec;
using synth::spec::Jumps;
using synth::spec::Regime;
using synth::spec::RegimeKind;
using synth::spec::Tails;
using synth::test::expect_same_columns;

GenSpec asset(std::uint64_t seed, bool dynamic = false) {
    GenSpec s;
    s.seed = seed;
    s.start_price = 50.0;
    s.regimes = {Regime{RegimeKind::trend, 40, 0.0002, 0.01},
                 Regime{RegimeKind::crash, 20, 0.003, 0.03},
                 Regime{RegimeKind::range, 30, 0.05, 0.01}};
    if (dynamic) {  // every path of the bar: GARCH with Student-t, jumps, classic
        s.regimes[0].garch = Garch{0.06, 0.1, 0.88};
        s.regimes[0].tails = Tails{5.0};
        s.regimes[1].jumps = Jumps{0.2, -0.02, 0.03};
    }
    s.bars = 90;
    s.microstructure.book_depth = 2;
    s.microstructure.spread_bps = 4.0;
    s.microstructure.trade_rate = 1.5;
    return s;
}

FactorSpec factors(std::vector<double> loadings) {
    FactorSpec f;
    f.seed = 99;
    f.count = loadings.size();
    f.loadings = std::move(loadings);
    return f;
}

ColumnBatch whole(const GenSpec& spec, std::shared_ptr<const FactorPath> path = nullptr) {
    auto run = Run::start(spec, RunOptions{}, std::move(path));
    EXPECT_TRUE(run.ok()) << run.error().render();
    ColumnBatch batch;
    EXPECT_TRUE(run.value().advance(spec.bars, batch).ok());
    return batch;
}

// Zero loadings leave every bar of the asset's own run as it is, bit for bit,
// with regime dynamics too.
TEST(Factors, ZeroLoadingsGiveTheStandaloneRun) {
    for (const bool dynamic : {false, true}) {
        GenSpec with = asset(5, dynamic);
        with.factors = factors({0.0, 0.0, 0.0});
        with.factors->jumps = CommonJumps{0.2, -3.0, 1.0};
        expect_same_columns(whole(with), whole(asset(5, dynamic)));
    }
    auto classic = generate(asset(5));
    ASSERT_TRUE(classic.ok());
    expect_same_columns(whole(asset(5)), classic.value());
}

// A shared path read by the run gives the bars of the path the run draws
// itself, whatever the path's length beyond the run.
TEST(Factors, SharedPathEqualsOwnDraws) {
    for (const bool dynamic : {false, true}) {
        GenSpec spec = asset(8, dynamic);
        spec.factors = factors({0.6, 0.3});
        spec.factors->regimes.crash = std::vector<double>{0.9, 0.1};
        spec.factors->jumps = CommonJumps{0.05, -4.0, 1.0};
        const ColumnBatch own = whole(spec);
        auto path = FactorPath::draw(factor_key(*spec.factors), spec.bars + 10);
        expect_same_columns(whole(spec, path), own);
        EXPECT_NE(own.close[10], whole(asset(8, dynamic)).close[10]);
    }
}

TEST(Factors, Validation) {
    struct Case {
        std::vector<double> loadings;
        std::uint64_t count;
        const char* message;
    } cases[] = {
        {{0.5}, 2, "factors.loadings: must have one entry per factor (2), not 1"},
        {{0.8, 0.7}, 2, "factors.loadings: sum of squared loadings must be <= 1"},
        {{}, 0, "factors: count must be > 0"},
    };
    for (const Case& c : cases) {
        GenSpec spec = asset(1);
        spec.factors = factors(c.loadings);
        spec.factors->count = c.count;
        auto run = Run::start(spec);
        ASSERT_FALSE(run.ok());
        EXPECT_EQ(run.error().render(), std::string("bad spec: ") + c.message);
    }
    GenSpec spec = asset(1);
    spec.factors = factors({0.5});
    spec.factors->regimes.crash = std::vector<double>{1.5};
    auto run = Run::start(spec);
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error().render(),
              "bad spec: factors.regimes.crash: sum of squared loadings must be <= 1");
}

}  // namespace
