#pragma once
#include <cstdint>
#include <string>

namespace synth::json {

// A reader error. Line 0 means the error has no position.
struct JsonError {
    std::string message;
    std::uint64_t line = 0;
    std::uint64_t column = 0;

    std::string render() const {
        if (line == 0) return message;
        return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
    }
};

}  // namespace synth::json
