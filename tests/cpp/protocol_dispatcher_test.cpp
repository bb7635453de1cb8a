// The dispatcher's answers, byte for byte, and what each command does to the state.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "synth/synth.hpp"

namespace synth::protocol {
namespace {

constexpr std::string_view kSpec =
    R"({"seed":7,"bars":4,"start_price":100.0,"regimes":[{"kind":"trend","len":4,)"
    R"("drift":0.001,"vol":0.02}],"microstructure":{"book_depth":2,"spread_bps":5.0,)"
    R"("trade_rate":2.0,"funding":{"interval_bars":2,"base_rate":0.0001,"sensitivity":0.5}}})";
constexpr std::string_view kOtherSpec =
    R"({"seed":8,"bars":2,"start_price":50.0,"regimes":[["range",2,0.0,0.01]],)"
    R"("microstructure":[1,1.0,0.0]})";

std::string with_spec(std::string_view command, std::string_view spec) {
    std::string out(command);
    out.pop_back();  // the closing brace
    out.append(R"(,"spec":)").append(spec).push_back('}');
    return out;
}

SynthState state_with(std::string_view spec_text) {
    auto opened = open_state(spec_text);
    EXPECT_TRUE(opened.ok()) << opened.error().render();
    return opened.ok() ? std::move(opened).value() : SynthState{};
}

std::string error_envelope(std::string_view escaped) {
    return std::string(R"({"ok":false,"error":")") + std::string(escaped) + "\"}";
}

struct Row {
    const char* name;
    std::string command;
    bool has_spec;
    std::string response;
};

class DispatcherTable : public ::testing::TestWithParam<Row> {};

TEST_P(DispatcherTable, AnswersExactlyAndKeepsState) {
    const Row& row = GetParam();
    SynthState state = row.has_spec ? state_with(kSpec) : SynthState{};
    const SynthState before = state;
    Response response = command(state, row.command);
    EXPECT_EQ(response.status, Response::Status::ok);
    EXPECT_EQ(response.text, row.response);
    EXPECT_EQ(state.spec, before.spec);
}

const std::string kVersionAnswer = R"({"version":")" + std::string(synth::kVersion) + "\"}";

INSTANTIATE_TEST_SUITE_P(
    Commands, DispatcherTable,
    ::testing::Values(
        Row{"version_without_spec", R"({"cmd":"version"})", false, kVersionAnswer},
        Row{"version_with_spec", R"({"cmd":"version"})", true, kVersionAnswer},
        Row{"other_members_ignored", R"({"cmd":"version","spec":7,"other":[1]})", false,
            kVersionAnswer},
        Row{"trailing_whitespace", "{\"cmd\":\"version\"} \t\r\n", false, kVersionAnswer},
        Row{"leading_whitespace", " \n{\"cmd\":\"version\"}", false, kVersionAnswer},
        Row{"last_duplicate_wins", R"({"cmd":"x","cmd":"version"})", false, kVersionAnswer},
        Row{"trailing_characters", R"({"cmd":"version"} x)", false,
            error_envelope("parse: trailing characters at line 1 column 19")},
        Row{"empty_text", "", false,
            error_envelope("parse: EOF while parsing a value at line 1 column 0")},
        Row{"recursion_limit", std::string(128, '['), false,
            error_envelope("parse: recursion limit exceeded at line 1 column 128")},
        Row{"deepest_allowed", std::string(127, '[') + std::string(127, ']'), false,
            error_envelope("bad spec: missing cmd")},
        Row{"array", "[]", false, error_envelope("bad spec: missing cmd")},
        Row{"empty_object", "{}", true, error_envelope("bad spec: missing cmd")},
        Row{"cmd_not_string", R"({"cmd":5})", false, error_envelope("bad spec: missing cmd")},
        Row{"cmd_null", R"({"cmd":null,"spec":1})", false, error_envelope("bad spec: missing cmd")},
        Row{"string_document", R"("version")", false, error_envelope("bad spec: missing cmd")},
        Row{"case_sensitive", R"({"cmd":"Version"})", false,
            error_envelope("bad spec: unknown cmd: Version")},
        Row{"empty_name", R"({"cmd":""})", false, error_envelope("bad spec: unknown cmd: ")},
        Row{"name_escaped_back", R"({"cmd":"a\"b\\c\u0001\t/\u00e9"})", false,
            error_envelope(R"(bad spec: unknown cmd: a\"b\\c\u0001\t/)"
                           "\xC3\xA9")},
        Row{"set_spec_without_spec", R"({"cmd":"set_spec"})", true,
            error_envelope("bad spec: set_spec requires a spec")},
        Row{"set_spec_empty_spec", R"({"cmd":"set_spec","spec":{}})", true,
            error_envelope("parse: missing field `seed`")},
        Row{"set_spec_invalid",
            with_spec(R"({"cmd":"set_spec"})", R"([1,0,1.0,0,60,[],[1,1.0,1.0]])"), true,
            error_envelope("bad spec: bars must be > 0")},
        Row{"set_spec_null", R"({"cmd":"set_spec","spec":null})", true,
            error_envelope("parse: invalid type: null, expected struct GenSpec")},
        Row{"generate_without_spec", R"({"cmd":"generate"})", false,
            error_envelope("bad spec: no spec set")},
        Row{"stream_without_spec", R"({"cmd":"generate_stream"})", false,
            error_envelope("bad spec: no spec set")},
        Row{"generate_inline_null", R"({"cmd":"generate","spec":null})", true,
            error_envelope("parse: invalid type: null, expected struct GenSpec")},
        Row{"stream_inline_invalid",
            with_spec(R"({"cmd":"generate_stream"})", R"([1,2,-1.0,0,60,[],[1,1.0,1.0]])"), true,
            error_envelope("bad spec: start_price must be finite and > 0")}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Dispatcher, SetSpecReplacesTheCurrentSpec) {
    SynthState state = state_with(kSpec);
    EXPECT_EQ(command(state, with_spec(R"({"cmd":"set_spec"})", kOtherSpec)).text,
              R"({"ok":true})");
    EXPECT_EQ(state.spec, state_with(kOtherSpec).spec);

    SynthState fresh;
    EXPECT_EQ(command(fresh, with_spec(R"({"cmd":"set_spec","x":0})", kSpec)).text,
              R"({"ok":true})");
    EXPECT_EQ(fresh.spec, state_with(kSpec).spec);
}

TEST(Dispatcher, FailedSetSpecLeavesPreviousSpecInUse) {
    SynthState state = state_with(kSpec);
    const std::string first = command(state, R"({"cmd":"generate"})").text;
    command(state, with_spec(R"({"cmd":"set_spec"})", R"([1,0,1.0,0,60,[],[1,1.0,1.0]])"));
    EXPECT_EQ(command(state, R"({"cmd":"generate"})").text, first);
}

TEST(Dispatcher, InlineSpecServesOneCallOnly) {
    for (std::string_view name : {"generate", "generate_stream"}) {
        const std::string plain = std::string(R"({"cmd":")") + std::string(name) + "\"}";
        SynthState inline_state;
        const Response inline_answer = command(inline_state, with_spec(plain, kSpec));
        EXPECT_FALSE(inline_state.spec.has_value());

        SynthState set_state;
        command(set_state, with_spec(R"({"cmd":"set_spec"})", kSpec));
        const Response set_answer = command(set_state, plain);
        EXPECT_EQ(inline_answer.text, set_answer.text) << name;
        EXPECT_EQ(command(set_state, plain).text, set_answer.text) << name;

        // An inline spec wins over the current one and leaves it in place.
        SynthState other = state_with(kOtherSpec);
        EXPECT_EQ(command(other, with_spec(plain, kSpec)).text, set_answer.text) << name;
        EXPECT_EQ(other.spec, state_with(kOtherSpec).spec);
    }
}

TEST(Dispatcher, DataResponsesHaveNoEnvelope) {
    SynthState state = state_with(kSpec);
    const std::string grouped = command(state, R"({"cmd":"generate"})").text;
    const std::string stream = command(state, R"({"cmd":"generate_stream"})").text;
    EXPECT_EQ(grouped.rfind(R"({"candles":[{"ts":1700000000,)", 0), 0u) << grouped;
    EXPECT_NE(grouped.find(R"(],"funding":[{"ts":1700003600,"rate":)"), std::string::npos);
    EXPECT_EQ(stream.rfind(R"({"events":[)", 0), 0u) << stream;
    EXPECT_EQ(grouped.find("\"ok\""), std::string::npos);
    EXPECT_EQ(stream.find("\"ok\""), std::string::npos);
}

TEST(Dispatcher, MemoryExhaustionIsNotAnErrorResponse) {
    constexpr std::string_view kHuge =
        R"({"seed":1,"bars":1000000000000000,"start_price":1.0,"regimes":[{"kind":"vol",)"
        R"("len":1000000000000000,"drift":0.0,"vol":0.01}],)"
        R"("microstructure":{"book_depth":1,"spread_bps":1.0,"trade_rate":1.0}})";
    SynthState state = state_with(kSpec);
    for (std::string_view name : {"generate", "generate_stream"}) {
        const std::string cmd = std::string(R"({"cmd":")") + std::string(name) + "\"}";
        Response answer = command(state, with_spec(cmd, kHuge));
        EXPECT_EQ(answer.status, Response::Status::out_of_memory);
        EXPECT_EQ(answer.text.rfind("out of memory: ", 0), 0u) << answer.text;
        EXPECT_EQ(state.spec, state_with(kSpec).spec);
    }

    // A spec that validates is stored even if it cannot be run; the handle then
    // answers the memory condition again and stays usable.
    EXPECT_EQ(command(state, with_spec(R"({"cmd":"set_spec"})", kHuge)).text, R"({"ok":true})");
    EXPECT_EQ(command(state, R"({"cmd":"generate"})").status, Response::Status::out_of_memory);
    EXPECT_EQ(command(state, R"({"cmd":"version"})").text, kVersionAnswer);
}

}  // namespace
}  // namespace synth::protocol
