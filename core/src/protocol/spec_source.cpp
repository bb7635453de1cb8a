#include "json/reader.hpp"
#include "protocol/unicode_trim.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"
#include "synth/columns.hpp"

namespace synth::protocol {
namespace {

Result<spec::GenSpec, spec::SynthError> validated(Result<spec::GenSpec, spec::SynthError> decoded) {
    if (!decoded) return decoded;
    auto checked = spec::validate(decoded.value());
    if (!checked) return Err{std::move(checked).error()};
    return decoded;
}

Result<spec::GenSpec, spec::SynthError> from_text(std::string_view text, spec::Dialect dialect) {
    // Positions in decoding errors count from the trimmed text, as for a handle.
    return validated(spec::parse_spec(trim_unicode_space(text), dialect));
}

Result<spec::GenSpec, spec::SynthError> from_document(std::string_view document,
                                                      spec::Dialect dialect) {
    auto parsed = json::read(document);
    if (!parsed) return spec::parse_error(parsed.error().render());
    return validated(spec::spec_from_value(parsed.value(), dialect));
}

}  // namespace

Result<spec::GenSpec, spec::SynthError> spec_from_text(std::string_view text) {
    return from_text(text, spec::Dialect::classic);
}

Result<spec::GenSpec, spec::SynthError> spec_from_document(std::string_view document) {
    return from_document(document, spec::Dialect::classic);
}

Result<spec::GenSpec, spec::SynthError> extended_spec_from_text(std::string_view text) {
    return from_text(text, spec::Dialect::extended);
}

Result<spec::GenSpec, spec::SynthError> extended_spec_from_document(std::string_view document) {
    return from_document(document, spec::Dialect::extended);
}

}  // namespace synth::protocol
