// The whole dispatcher on arbitrary command texts. Each input holds up to four
// commands separated by NUL bytes (a NUL is never valid JSON outside a string),
// applied in turn to a handle without a spec and to one with a small spec. Every
// response is checked against what the command must answer: the error text
// exactly, the shape of data documents, and a state that changes only on a
// successful set_spec.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "invariants.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"
#include "synth/synth.hpp"

namespace {

using synth::fuzz::require;
using synth::json::JsonObject;
using synth::json::JsonValue;
using synth::protocol::Response;
using synth::protocol::SynthState;
using synth::spec::GenSpec;
using synth::spec::SynthError;

constexpr std::string_view kBaseSpec =
    R"({"seed":3,"bars":3,"start_price":100.0,"regimes":[{"kind":"trend","len":3,)"
    R"("drift":0.001,"vol":0.02}],"microstructure":{"book_depth":2,"spread_bps":5.0,)"
    R"("trade_rate":1.0,"funding":{"interval_bars":2,"base_rate":0.0001,"sensitivity":0.5}}})";

// Keeps runs small so time goes into input handling rather than generation. A
// bar costs its book levels and its trades; a trade rate far above 745 draws
// about as many trades as 745 does, since the Poisson limit underflows to 0.
bool too_costly(const GenSpec& spec) {
    const std::uint64_t bars = spec.bars;
    const std::uint64_t depth = spec.microstructure.book_depth;
    if (bars > 2000 || depth >= 2000 || bars * (depth + 1) > 2000) return true;
    const double rate = std::min(spec.microstructure.trade_rate, 800.0);
    return static_cast<double>(bars) * rate > 20000.0;
}

const JsonValue* member(const JsonObject& object, std::string_view key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

// The response must be exactly the error envelope around `expected`.
void expect_error(const Response& r, const JsonValue& doc, const std::string& expected) {
    require(r.text.rfind(R"({"ok":false,"error":")", 0) == 0 && r.text.back() == '}',
            "error envelope has the wrong layout", r.text);
    const JsonObject* o = doc.as_object();
    require(o != nullptr && o->size() == 2, "error envelope members", r.text);
    const JsonValue* ok = member(*o, "ok");
    const JsonValue* error = member(*o, "error");
    require(ok && ok->as_bool() && !*ok->as_bool(), "error envelope ok member", r.text);
    require(error && error->as_string() && *error->as_string() == expected,
            "error text differs from the expected", r.text + "\n  expected: " + expected);
}

void expect_data(const Response& r, const JsonValue& doc, const GenSpec& spec, bool grouped) {
    const JsonObject* o = doc.as_object();
    require(o != nullptr, "data response is not an object", r.text);
    auto list = [&](std::string_view key) -> const synth::json::JsonArray* {
        const JsonValue* v = member(*o, key);
        return v ? v->as_array() : nullptr;
    };
    if (!grouped) {
        require(r.text.rfind(R"({"events":[)", 0) == 0 && o->size() == 1, "stream document layout",
                r.text);
        const auto* events = list("events");
        require(events != nullptr, "stream without events", r.text);
        std::uint64_t candles = 0;
        for (const JsonValue& e : *events) {
            const JsonObject* eo = e.as_object();
            require(
                eo && eo->size() == 2 && member(*eo, "type") && member(*eo, "type")->as_string(),
                "stream event layout", r.text);
            if (*member(*eo, "type")->as_string() == "candle") ++candles;
        }
        require(candles == spec.bars, "stream candle count differs from bars", r.text);
        return;
    }
    require(r.text.rfind(R"({"candles":[)", 0) == 0, "grouped document layout", r.text);
    const auto* candles = list("candles");
    const auto* books = list("book_snapshots");
    const auto* trades = list("trades");
    require(candles && books && trades, "grouped document lists", r.text);
    require(candles->size() == spec.bars && books->size() == spec.bars,
            "grouped list lengths differ from bars", r.text);
    const auto* funding = list("funding");
    require(o->size() == (funding ? 4u : 3u), "grouped document members", r.text);
    require(!funding || (!funding->empty() && spec.microstructure.funding.has_value()),
            "funding member without funding points", r.text);
}

void check_command(SynthState& state, std::string_view cmd) {
    auto tree = synth::json::read(cmd);

    // Decide what a successful run would generate, and skip costly ones.
    std::optional<synth::Result<GenSpec, SynthError>> inline_spec;
    const JsonObject* object = tree ? tree.value().as_object() : nullptr;
    const JsonValue* name_value = object ? member(*object, "cmd") : nullptr;
    const std::string* name = name_value ? name_value->as_string() : nullptr;
    const JsonValue* spec_value = object ? member(*object, "spec") : nullptr;
    if (name != nullptr && spec_value != nullptr) {
        auto decoded = synth::spec::spec_from_value(*spec_value);
        if (decoded) {
            auto valid = synth::spec::validate(decoded.value());
            if (!valid) decoded = synth::Err{valid.error()};
        }
        inline_spec = std::move(decoded);
    }
    const bool runs = name != nullptr && (*name == "generate" || *name == "generate_stream");
    if (runs) {
        const GenSpec* chosen = nullptr;
        if (inline_spec) {
            chosen = inline_spec->ok() ? &inline_spec->value() : nullptr;
        } else if (state.spec) {
            chosen = &*state.spec;
        }
        if (chosen != nullptr && too_costly(*chosen)) return;
    }

    const std::optional<GenSpec> before = state.spec;
    const Response r = synth::protocol::command(state, cmd);
    require(r.status == Response::Status::ok, "small command reported out of memory", r.text);
    auto doc = synth::json::read(r.text);
    require(doc.ok(), "response is not JSON", r.text);

    bool changed = false;
    auto spec_error = [&](const SynthError& e) {
        if (e.kind == SynthError::Kind::Parse) {
            synth::fuzz::check_decoder_message(e.message, false);
        } else {
            require(synth::fuzz::is_validation_message(e.message), "unknown validation message",
                    e.message);
        }
        expect_error(r, doc.value(), e.render());
    };

    if (!tree) {
        std::string rendered = tree.error().render();
        synth::fuzz::check_reader_error(cmd, rendered);
        expect_error(r, doc.value(), "parse: " + rendered);
    } else if (name == nullptr) {
        expect_error(r, doc.value(), "bad spec: missing cmd");
    } else if (*name == "version") {
        require(r.text == R"({"version":")" + std::string(synth::kVersion) + "\"}",
                "version response", r.text);
    } else if (*name == "set_spec") {
        if (!inline_spec) {
            expect_error(r, doc.value(), "bad spec: set_spec requires a spec");
        } else if (!inline_spec->ok()) {
            spec_error(inline_spec->error());
        } else {
            require(r.text == R"({"ok":true})", "set_spec response", r.text);
            require(state.spec == inline_spec->value(), "set_spec stored another spec");
            changed = true;
        }
    } else if (runs) {
        const GenSpec* chosen = nullptr;
        if (inline_spec && !inline_spec->ok()) {
            spec_error(inline_spec->error());
        } else if (inline_spec) {
            chosen = &inline_spec->value();
        } else if (before) {
            chosen = &*before;
        } else {
            expect_error(r, doc.value(), "bad spec: no spec set");
        }
        if (chosen != nullptr) {
            if (r.text.rfind(R"({"ok":false,)", 0) == 0) {
                expect_error(r, doc.value(), "numeric: price walk produced a non-finite value");
            } else {
                expect_data(r, doc.value(), *chosen, *name == "generate");
            }
        }
    } else {
        expect_error(r, doc.value(), "bad spec: unknown cmd: " + *name);
    }
    if (!changed) require(state.spec == before, "state changed without a successful set_spec");
}

SynthState base_state() {
    auto opened = synth::protocol::open_state(kBaseSpec);
    require(opened.ok(), "base spec does not open");
    return std::move(opened).value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> commands;
    while (commands.size() < 3) {
        std::size_t nul = input.find('\0');
        if (nul == std::string_view::npos) break;
        commands.push_back(input.substr(0, nul));
        input.remove_prefix(nul + 1);
    }
    commands.push_back(input);

    static const SynthState kBase = base_state();
    SynthState empty;
    SynthState with_spec = kBase;
    for (SynthState* state : {&empty, &with_spec}) {
        for (std::string_view cmd : commands) check_command(*state, cmd);
    }
    return 0;
}
