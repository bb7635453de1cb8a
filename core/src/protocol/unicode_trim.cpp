#include "protocol/unicode_trim.hpp"

#include <array>

namespace synth::protocol {
namespace {

// The multi-byte members of White_Space, as UTF-8 byte sequences. The single-byte
// members (tab to carriage return, space) are checked directly.
constexpr std::array<std::string_view, 17> kWideSpaces = {
    "\xC2\x85",      // U+0085
    "\xC2\xA0",      // U+00A0
    "\xE1\x9A\x80",  // U+1680
    "\xE2\x80\x80",  // U+2000
    "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A",  // U+200A
    "\xE2\x80\xA8",  // U+2028
    "\xE2\x80\xA9",  // U+2029
    "\xE2\x80\xAF",  // U+202F
};
constexpr std::string_view kMediumMathSpace = "\xE2\x81\x9F";   // U+205F
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";  // U+3000

bool is_narrow_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_wide_space(std::string_view candidate) {
    if (candidate == kMediumMathSpace || candidate == kIdeographicSpace) return true;
    for (std::string_view space : kWideSpaces) {
        if (candidate == space) return true;
    }
    return false;
}

// Length of the white space character at the front of text, or 0.
std::size_t leading_space(std::string_view text) {
    if (text.empty()) return 0;
    if (is_narrow_space(text.front())) return 1;
    for (std::size_t len : {2u, 3u}) {
        if (text.size() >= len && is_wide_space(text.substr(0, len))) return len;
    }
    return 0;
}

// Length of the white space character at the back of text, or 0. A match always
// starts at a lead byte, so on valid UTF-8 it is a whole character.
std::size_t trailing_space(std::string_view text) {
    if (text.empty()) return 0;
    if (is_narrow_space(text.back())) return 1;
    for (std::size_t len : {2u, 3u}) {
        if (text.size() >= len && is_wide_space(text.substr(text.size() - len))) return len;
    }
    return 0;
}

}  // namespace

std::string_view trim_unicode_space(std::string_view text) {
    while (std::size_t n = leading_space(text)) text.remove_prefix(n);
    while (std::size_t n = trailing_space(text)) text.remove_suffix(n);
    return text;
}

}  // namespace synth::protocol
