// Regime chains: the text and value forms decode alike, validation names the
// offending path, and a run draws its schedule once from its own stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "generate/chain.hpp"
#include "generate/run.hpp"
#include "json/reader.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"

namespace synth::generate {
namespace {

const char* const kChainSpec = R"({"seed":3,"bars":400,"start_price":100.0,"regimes":[],
 "microstructure":{"book_depth":2,"spread_bps":1.0,"trade_rate":1.0},
 "chain":{"states":[{"kind":"trend","len":1,"drift":0.001,"vol":0.01},
                    {"kind":"crash","len":5,"drift":0.02,"vol":0.05,"tails":{"df":5.0}}],
          "transitions":[[0.9,0.1],[0.25,0.75]],"start":1}})";

constexpr std::size_t kMany = 1 << 20;

spec::GenSpec decoded(const std::string& text) {
    auto spec = spec::parse_spec(text, spec::Dialect::extended);
    EXPECT_TRUE(spec.ok()) << (spec.ok() ? "" : spec.error().message);
    return spec.ok() ? spec.value() : spec::GenSpec{};
}

std::vector<double> closes(const spec::GenSpec& spec) {
    auto run = Run::start(spec);
    EXPECT_TRUE(run.ok());
    ColumnBatch batch;
    EXPECT_TRUE(run.value().advance(spec.bars, batch).ok());
    const auto view = batch.close.view();
    return {view.begin(), view.end()};
}

TEST(Chain, TextAndValueDecodeAlikeAndClassicRejectsIt) {
    const spec::GenSpec from_text = decoded(kChainSpec);
    auto tree = json::read(kChainSpec);
    ASSERT_TRUE(tree.ok());
    auto from_value = spec::spec_from_value(tree.value(), spec::Dialect::extended);
    ASSERT_TRUE(from_value.ok());
    EXPECT_EQ(from_text, from_value.value());
    ASSERT_TRUE(from_text.chain.has_value());
    EXPECT_EQ(from_text.chain->transitions[1][0], 0.25);
    EXPECT_TRUE(spec::validate(from_text).ok());
    auto classic = spec::parse_spec(kChainSpec);
    ASSERT_FALSE(classic.ok());
    EXPECT_NE(classic.error().message.find("unknown field `chain`"), std::string::npos);
}

TEST(Chain, ValidationNamesThePath) {
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {R"("regimes":[])", R"("regimes":[{"kind":"vol","len":400,"drift":0.0,"vol":0.01}])",
         "regimes must be empty when a chain is given"},
        {R"([[0.9,0.1],[0.25,0.75]])", R"([[0.9,0.1]])",
         "chain.transitions must have one row per state"},
        {R"([[0.9,0.1],[0.25,0.75]])", R"([[0.9,0.1],[0.25]])",
         "chain.transitions[1] must have one weight per state"},
        {R"([[0.9,0.1],[0.25,0.75]])", R"([[0.9,0.2],[0.25,0.75]])",
         "chain.transitions[0] must sum to 1"},
        {R"([[0.9,0.1],[0.25,0.75]])", R"([[1.1,-0.1],[0.25,0.75]])",
         "chain.transitions[0]: weights must be finite and >= 0"},
        {R"("start":1)", R"("start":2)", "chain.start must be below the number of states"},
        {R"("len":5)", R"("len":0)", "chain.states[1]: len must be > 0"},
        {R"("df":5.0)", R"("df":2.0)", "chain.states[1].tails: df must be finite and > 2"},
    };
    for (const auto& c : cases) {
        std::string text = kChainSpec;
        text.replace(text.find(c.from), std::string(c.from).size(), c.to);
        auto valid = spec::validate(decoded(text));
        ASSERT_FALSE(valid.ok()) << c.message;
        EXPECT_EQ(valid.error().message, c.message);
    }
}

TEST(Chain, ScheduleCoversTheBarsInVisitsOfTheStatesLength) {
    const spec::GenSpec spec = decoded(kChainSpec);
    const auto drawn = draw_chain_schedule(*spec.chain, spec.bars, spec.seed, kMany);
    ASSERT_TRUE(drawn.ok());
    const std::vector<spec::Regime>& schedule = drawn.value();
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        total += schedule[i].len;
        if (i > 0) {
            EXPECT_NE(schedule[i].kind, schedule[i - 1].kind);  // visits merged
        }
        // a crash stretch is whole visits of 5 bars, except a cut at the end
        if (schedule[i].kind == spec::RegimeKind::crash && i + 1 < schedule.size()) {
            EXPECT_EQ(schedule[i].len % 5, 0u);
        }
    }
    EXPECT_EQ(total, spec.bars);
    EXPECT_EQ(schedule.front().kind, spec::RegimeKind::crash);  // start state
    EXPECT_GT(schedule.size(), 10u);
    EXPECT_EQ(schedule, draw_chain_schedule(*spec.chain, spec.bars, spec.seed, kMany).value());
    EXPECT_NE(schedule, draw_chain_schedule(*spec.chain, spec.bars, spec.seed + 1, kMany).value());
    // more regimes than allowed: a memory error, not an allocation failure
    const auto capped = draw_chain_schedule(*spec.chain, spec.bars, spec.seed, 3);
    ASSERT_FALSE(capped.ok());
    EXPECT_EQ(capped.error().kind, spec::SynthError::Kind::Memory);
}

TEST(Chain, RunEqualsTheRunOfItsDrawnSchedule) {
    const spec::GenSpec spec = decoded(kChainSpec);
    const auto drawn = with_drawn_schedule(spec, std::nullopt);
    ASSERT_TRUE(drawn.ok());
    EXPECT_FALSE(drawn.value().chain.has_value());
    EXPECT_EQ(closes(spec), closes(drawn.value()));
}

}  // namespace
}  // namespace synth::generate
