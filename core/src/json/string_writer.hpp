#pragma once
// JSON strings written into a growing buffer: the one piece of JSON output the
// product writes by hand (error messages in the envelope); records are written
// by the encoders' own writers.
#include <string>
#include <string_view>

namespace synth::json {

// Appends s as a quoted JSON string. Only '"', '\\' and bytes below 0x20 are
// escaped; "/", 0x7F and multi-byte UTF-8 sequences pass through unchanged.
void append_string(std::string& out, std::string_view s);

}  // namespace synth::json
