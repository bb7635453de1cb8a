#pragma once
// What the Python binding needs of the core: the version, a handle's state, its
// construction from a spec text, and the command dispatcher.
#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"
#include "synth/version.hpp"

namespace synth {

namespace protocol {

// A handle's state: the current spec, which has always passed validation.
struct SynthState {
    std::optional<spec::GenSpec> spec;
};

// Builds a handle's state from the constructor's UTF-8 text: Unicode white space
// trimmed from both ends; empty or exactly "{}" means no spec; otherwise the text
// is decoded and validated (positions count from the trimmed text).
Result<SynthState, spec::SynthError> open_state(std::string_view spec_text);

struct Response {
    enum class Status { ok, out_of_memory };
    Status status = Status::ok;
    // The response JSON; for out_of_memory a message for the caller's MemoryError,
    // empty when the allocation failed mid-command.
    std::string text;
};

// Applies one command text to the state and answers with the response text.
// Never throws; memory exhaustion is reported as Status::out_of_memory and leaves
// the state as it was.
Response command(SynthState& state, std::string_view cmd_json) noexcept;

}  // namespace protocol
}  // namespace synth
