// Spec decoding from text on arbitrary bytes: every error is a positioned text
// of a fixed form, and a spec decoded from text is exactly the spec decoded from
// the parsed document. The extended dialect reads a superset (dialects.hpp).
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
    auto decoded = synth::spec::parse_spec(text);
    auto extended = synth::spec::parse_spec(text, synth::spec::Dialect::extended);
    synth::fuzz::check_dialects(decoded, extended);
    if (extended) {
        auto tree = synth::json::read(text);
        require(tree.ok(), "extended spec text decodes but does not parse");
        auto from_value =
            synth::spec::spec_from_value(tree.value(), synth::spec::Dialect::extended);
        require(from_value.ok() && from_value.value() == extended.value(),
                "text and tree decode different extended specs");
    }
    if (!decoded) {
        const SynthError& e = decoded.error();
        require(e.kind == SynthError::Kind::Parse, "text decoding error is not a parse error",
                e.message);
        auto p = synth::fuzz::split_position(e.message);
        require(p.has_value(), "text decoding error without position", e.message);
        if (synth::fuzz::is_reader_message(p->message)) {
            synth::fuzz::check_reader_error(text, e.message);
        } else {
            synth::fuzz::checked_index(text, p->line, p->column);
            synth::fuzz::check_decoder_message(p->message, true);
        }
        return 0;
    }
    // Text decoding rejects everything the tree would silently resolve
    // (repeated keys, long arrays), so whatever it accepts decodes the same way
    // from the tree.
    auto tree = synth::json::read(text);
    require(tree.ok(), "spec text decodes but does not parse");
    auto from_value = synth::spec::spec_from_value(tree.value());
    require(from_value.ok(), "spec decodes from text but not from its tree",
            from_value.ok() ? std::string_view() : from_value.error().message);
    require(from_value.value() == decoded.value(), "text and tree decode different specs");
    (void)synth::spec::validate(decoded.value());
    return 0;
}
