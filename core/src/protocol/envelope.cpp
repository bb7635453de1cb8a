#include "protocol/envelope.hpp"

#include <string_view>

#include "json/string_writer.hpp"

namespace synth::protocol {

std::string error_response(const spec::SynthError& error) {
    constexpr std::string_view kHead = R"({"ok":false,"error":)";
    std::string rendered = error.render();
    std::string out;
    // Escaping at most multiplies a byte by six; reserving for the common case
    // of no escapes keeps this to one allocation.
    out.reserve(kHead.size() + rendered.size() + 3);
    out.append(kHead);
    json::append_string(out, rendered);
    out.push_back('}');
    return out;
}

}  // namespace synth::protocol
