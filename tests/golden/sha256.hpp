#pragma once
// A small SHA-256, enough to digest response texts without a crypto library.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace synth::golden {

std::array<std::uint8_t, 32> sha256(std::string_view data);

// Lower-case hexadecimal of the digest.
std::string sha256_hex(std::string_view data);

}  // namespace synth::golden
