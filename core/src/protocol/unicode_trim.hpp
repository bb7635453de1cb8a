#pragma once
#include <string_view>

namespace synth::protocol {

// Strips characters of the Unicode White_Space set from both ends of UTF-8 text.
// Only whole encoded characters are removed, so the result stays valid UTF-8.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace synth::protocol
