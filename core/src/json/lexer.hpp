#pragma once
// The token layer of the reader. The tree builder drives it, and so does the
// spec decoder, which reads records straight from the text in document order.
// Every error carries the byte position at which it was detected.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "json/error.hpp"

namespace synth::json {

// A number as its literal was read: non-negative integers that fit 64 bits are
// u64, negative integers of magnitude 1..2^63 are i64, everything else is f64.
struct Number {
    enum class Kind { u64, i64, f64 };
    Kind kind = Kind::u64;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0.0;
};

inline constexpr int kEnd = -1;
inline constexpr int kNestingBudget = 128;

class Lexer {
  public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::size_t index() const { return index_; }
    int peek() const {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEnd;
    }
    void bump() { ++index_; }
    // Skips whitespace and returns the next byte, not consumed, or kEnd.
    int skip_whitespace();

    // An error positioned after everything consumed so far.
    JsonError error_here(std::string message) const { return error_at(std::move(message), index_); }
    // An error positioned just past the next byte, which was only looked at.
    JsonError error_peek(std::string message) const {
        return error_at(std::move(message), index_ < text_.size() ? index_ + 1 : index_);
    }
    JsonError error_at(std::string message, std::size_t index) const;

    // Each reader below is called with the lexer on the token's first byte.
    Result<std::string, JsonError> read_string();
    Result<Number, JsonError> read_number();
    // Reads one of true, false, null.
    Result<Unit, JsonError> read_literal(std::string_view word);

    // Punctuation inside an array or object, after its opening bracket. Each
    // returns true when an element (or a member's key, a string) follows, and
    // false at the closing bracket, which is left for the caller to consume.
    Result<bool, JsonError> next_element(bool first);
    Result<bool, JsonError> next_key(bool first);
    // The ":" after a key.
    Result<Unit, JsonError> colon();

    // Takes one from the nesting budget before an opening bracket is consumed.
    Result<Unit, JsonError> enter();
    void leave() { ++budget_; }

    // After the value only whitespace may follow.
    Result<Unit, JsonError> finish();

  private:
    Result<Unit, JsonError> read_escape(std::string& out);
    Result<std::uint16_t, JsonError> read_hex4();
    Result<Number, JsonError> read_float(bool negative, std::uint64_t significand,
                                         std::int64_t exponent);
    Result<Number, JsonError> read_exponent(bool negative, std::uint64_t significand,
                                            std::int64_t exponent);
    Result<Number, JsonError> compose(bool negative, std::uint64_t significand,
                                      std::int64_t exponent);

    std::string_view text_;
    std::size_t index_ = 0;
    int budget_ = kNestingBudget;
};

}  // namespace synth::json
