#pragma once
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace synth::spec {

// The error value of every subsystem: a kind and a message. The prefix is added
// only when the error is shown. Memory is never written into a response: the
// dispatcher reports it as memory exhaustion, which the binding raises as
// MemoryError.
struct SynthError {
    enum class Kind { Parse, BadSpec, Numeric, Memory };
    Kind kind;
    std::string message;

    std::string render() const {
        std::string_view prefix = kind == Kind::Parse     ? "parse: "
                                  : kind == Kind::BadSpec ? "bad spec: "
                                  : kind == Kind::Numeric ? "numeric: "
                                                          : "out of memory: ";
        std::string out;
        out.reserve(prefix.size() + message.size());
        out.append(prefix).append(message);
        return out;
    }
};

inline Err<SynthError> parse_error(std::string message) {
    return Err{SynthError{SynthError::Kind::Parse, std::move(message)}};
}
inline Err<SynthError> bad_spec(std::string message) {
    return Err{SynthError{SynthError::Kind::BadSpec, std::move(message)}};
}
inline Err<SynthError> numeric_error(std::string message) {
    return Err{SynthError{SynthError::Kind::Numeric, std::move(message)}};
}
inline Err<SynthError> memory_error(std::string message) {
    return Err{SynthError{SynthError::Kind::Memory, std::move(message)}};
}

}  // namespace synth::spec
