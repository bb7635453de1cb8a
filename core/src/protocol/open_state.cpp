#include "protocol/unicode_trim.hpp"
#include "spec/decode.hpp"
#include "spec/validate.hpp"
#include "synth/synth.hpp"

namespace synth::protocol {

Result<SynthState, spec::SynthError> open_state(std::string_view spec_text) {
    // Positions in decoding errors count from the trimmed text.
    std::string_view text = trim_unicode_space(spec_text);
    if (text.empty() || text == "{}") return SynthState{};

    auto decoded = spec::parse_spec(text);
    if (!decoded) return Err{std::move(decoded).error()};
    auto checked = spec::validate(decoded.value());
    if (!checked) return Err{std::move(checked).error()};
    return SynthState{std::move(decoded).value()};
}

}  // namespace synth::protocol
