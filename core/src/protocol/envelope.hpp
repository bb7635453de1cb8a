#pragma once
#include <string>

#include "spec/error.hpp"

namespace synth::protocol {

// The failure response: {"ok":false,"error":M} with M the rendered error as a
// JSON string.
std::string error_response(const spec::SynthError& error);

}  // namespace synth::protocol
