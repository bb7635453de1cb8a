#pragma once
// Properties every fuzz target checks on top of "no crash": the fixed forms of
// error texts and the consistency of their positions with the input. A broken
// property aborts, which libFuzzer records as a crash with the input.
#include <cstddef>
#include <optional>
#include <string_view>

namespace synth::fuzz {

// Prints what broke and aborts.
[[noreturn]] void fail(std::string_view what, std::string_view detail);

inline void require(bool holds, std::string_view what, std::string_view detail = {}) {
    if (!holds) fail(what, detail);
}

// A position suffix " at line L column C" split off a rendered error.
struct Positioned {
    std::string_view message;
    std::size_t line = 0;
    std::size_t column = 0;
};

// Splits the suffix off; nullopt when the text does not end with one.
std::optional<Positioned> split_position(std::string_view rendered);

// The byte index that (line, column) stands for in `text`, checked: line >= 1,
// the index lies within the text and no line feed sits between the start of
// its line and the index. Aborts otherwise.
std::size_t checked_index(std::string_view text, std::size_t line, std::size_t column);

// True for the fixed messages of the JSON reader.
bool is_reader_message(std::string_view message);

// Checks a rendered reader error against the text it came from: a known
// message, a consistent position, and what each message says about the byte
// at that position (an end-of-text error sits at the end, and so on).
void check_reader_error(std::string_view text, std::string_view rendered);

// Checks a spec decoding message (no position suffix) has one of the decoder's
// fixed forms. `from_text` admits the forms only text decoding produces.
void check_decoder_message(std::string_view message, bool from_text);

// True for the fixed messages of spec validation.
bool is_validation_message(std::string_view message);

}  // namespace synth::fuzz
