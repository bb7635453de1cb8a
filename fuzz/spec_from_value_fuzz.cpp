// Spec decoding from a parsed document: every error is an unpositioned text of a
// fixed form; validation of whatever decodes answers a known message. The
// extended dialect reads a superset (dialects.hpp).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dialects.hpp"
#include "invariants.hpp"
#include "json/reader.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"

using synth::fuzz::require;
using synth::spec::SynthError;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tree = synth::json::read(text);
    if (!tree) return 0;
    auto decoded = synth::spec::spec_from_value(tree.value());
    synth::fuzz::check_dialects(
        decoded, synth::spec::spec_from_value(tree.value(), synth::spec::Dialect::extended));
    if (!decoded) {
        const SynthError& e = decoded.error();
        require(e.kind == SynthError::Kind::Parse, "tree decoding error is not a parse error",
                e.message);
        require(!synth::fuzz::split_position(e.message).has_value(),
                "tree decoding error carries a position", e.message);
        synth::fuzz::check_decoder_message(e.message, false);
        return 0;
    }
    auto again = synth::spec::spec_from_value(tree.value());
    require(again.ok() && again.value() == decoded.value(), "decoding changed the tree");
    auto valid = synth::spec::validate(decoded.value());
    if (!valid) {
        require(valid.error().kind == SynthError::Kind::BadSpec, "validation error kind");
        require(synth::fuzz::is_validation_message(valid.error().message),
                "unknown validation message", valid.error().message);
    }
    return 0;
}
