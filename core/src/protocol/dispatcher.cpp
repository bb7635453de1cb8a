#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/grouped.hpp"
#include "encode/stream.hpp"
#include "generate/generate.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"
#include "protocol/envelope.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"
#include "synth/synth.hpp"

namespace synth::protocol {
namespace {

using spec::GenSpec;
using spec::SynthError;

constexpr std::string_view kSetSpecOk = R"({"ok":true})";

enum class Shape { grouped, stream };

const json::JsonValue* member(const json::JsonObject& object, std::string_view key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

// A spec carried by a command: decoded from the parsed value, then validated.
Result<GenSpec, SynthError> checked_spec(const json::JsonValue& value) {
    auto decoded = spec::spec_from_value(value);
    if (!decoded) return decoded;
    auto checked = spec::validate(decoded.value());
    if (!checked) return Err{std::move(checked).error()};
    return decoded;
}

std::string version_response() {
    std::string out;
    constexpr std::string_view kHead = R"({"version":")";
    constexpr std::string_view kTail = R"("})";
    out.reserve(kHead.size() + kVersion.size() + kTail.size());
    // The version is fixed ASCII and goes in verbatim.
    out.append(kHead).append(kVersion).append(kTail);
    return out;
}

Result<std::string, SynthError> set_spec(SynthState& state, const json::JsonObject& command) {
    const json::JsonValue* value = member(command, "spec");
    if (value == nullptr) return spec::bad_spec("set_spec requires a spec");
    auto spec = checked_spec(*value);
    if (!spec) return Err{std::move(spec).error()};
    // The only place the state changes, after every check has passed.
    state.spec = std::move(spec).value();
    return std::string(kSetSpecOk);
}

Result<std::string, SynthError> run(const SynthState& state, const json::JsonObject& command,
                                    Shape shape) {
    // An inline spec serves this call only; otherwise the run works on a copy so
    // the state is never borrowed by a generation.
    const json::JsonValue* inline_spec = member(command, "spec");
    std::optional<GenSpec> chosen;
    if (inline_spec != nullptr) {
        auto spec = checked_spec(*inline_spec);
        if (!spec) return Err{std::move(spec).error()};
        chosen = std::move(spec).value();
    } else if (state.spec) {
        chosen = *state.spec;
    } else {
        return spec::bad_spec("no spec set");
    }

    auto made = generate::generate(*chosen);
    if (!made) return Err{std::move(made).error()};
    if (shape == Shape::grouped) return encode::encode_grouped(made.value());
    return encode::encode_stream(made.value());
}

Result<std::string, SynthError> dispatch(SynthState& state, std::string_view cmd_json) {
    auto parsed = json::read(cmd_json);
    if (!parsed) return spec::parse_error(parsed.error().render());

    const json::JsonObject* command = parsed.value().as_object();
    const json::JsonValue* cmd = command ? member(*command, "cmd") : nullptr;
    const std::string* name = cmd ? cmd->as_string() : nullptr;
    if (name == nullptr) return spec::bad_spec("missing cmd");

    if (*name == "version") return version_response();
    if (*name == "set_spec") return set_spec(state, *command);
    if (*name == "generate") return run(state, *command, Shape::grouped);
    if (*name == "generate_stream") return run(state, *command, Shape::stream);
    return spec::bad_spec("unknown cmd: " + *name);
}

Response respond(SynthState& state, std::string_view cmd_json) {
    auto result = dispatch(state, cmd_json);
    if (result) return Response{Response::Status::ok, std::move(result).value()};
    const SynthError& error = result.error();
    if (error.kind == SynthError::Kind::Memory) {
        return Response{Response::Status::out_of_memory, error.render()};
    }
    return Response{Response::Status::ok, error_response(error)};
}

}  // namespace

Response command(SynthState& state, std::string_view cmd_json) noexcept {
    // The one place core catches: an allocation that cannot be satisfied anywhere
    // in the command unwinds to here. Every step before the final assignment in
    // set_spec works on its own data, so the state is unchanged.
    try {
        return respond(state, cmd_json);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // No message text here: building one could need the memory that just ran
    // out. The caller words it.
    return Response{Response::Status::out_of_memory, std::string()};
}

}  // namespace synth::protocol
