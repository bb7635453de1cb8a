#include "json/lexer.hpp"

#include <cmath>
#include <limits>

#include "json/messages.hpp"
#include "json/pow10.hpp"

namespace synth::json {

namespace {

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// True when significand * 10 + digit no longer fits 64 bits.
bool overflows(std::uint64_t significand, unsigned digit) {
    return significand >= kMaxU64 / 10 && (significand > kMaxU64 / 10 || digit > kMaxU64 % 10);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

JsonError Lexer::error_at(std::string message, std::size_t index) const {
    // Columns count bytes from the last line feed before the position.
    std::size_t line_start = 0;
    std::uint64_t line = 1;
    for (std::size_t k = 0; k < index; ++k) {
        if (text_[k] == '\n') {
            ++line;
            line_start = k + 1;
        }
    }
    return JsonError{std::move(message), line, index - line_start};
}

int Lexer::skip_whitespace() {
    while (index_ < text_.size()) {
        char c = text_[index_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++index_;
    }
    return peek();
}

Result<Unit, JsonError> Lexer::enter() {
    if (--budget_ == 0) return Err{error_peek(messages::kRecursionLimit)};
    return Unit{};
}

Result<bool, JsonError> Lexer::next_element(bool first) {
    int c = skip_whitespace();
    if (c == ']') return false;
    if (c == kEnd) return Err{error_peek(messages::kEofList)};
    if (!first) {
        if (c != ',') return Err{error_peek(messages::kExpectedCommaOrBracket)};
        bump();
        c = skip_whitespace();
        if (c == ']') return Err{error_peek(messages::kTrailingComma)};
        if (c == kEnd) return Err{error_peek(messages::kEofValue)};
    }
    return true;
}

Result<bool, JsonError> Lexer::next_key(bool first) {
    int c = skip_whitespace();
    if (c == '}') return false;
    if (c == kEnd) return Err{error_peek(messages::kEofObject)};
    if (!first) {
        if (c != ',') return Err{error_peek(messages::kExpectedCommaOrBrace)};
        bump();
        c = skip_whitespace();
        if (c == '}') return Err{error_peek(messages::kTrailingComma)};
        if (c == kEnd) return Err{error_peek(messages::kEofValue)};
    }
    if (c != '"') return Err{error_peek(messages::kKeyMustBeString)};
    return true;
}

Result<Unit, JsonError> Lexer::colon() {
    const int c = skip_whitespace();
    if (c == ':') {
        bump();
        return Unit{};
    }
    if (c == kEnd) return Err{error_peek(messages::kEofObject)};
    return Err{error_peek(messages::kExpectedColon)};
}

Result<Unit, JsonError> Lexer::finish() {
    if (skip_whitespace() != kEnd) return Err{error_peek(messages::kTrailingCharacters)};
    return Unit{};
}

Result<Unit, JsonError> Lexer::read_literal(std::string_view word) {
    for (char expected : word) {
        if (index_ >= text_.size()) return Err{error_here(messages::kEofValue)};
        char c = text_[index_++];
        if (c != expected) return Err{error_here(messages::kExpectedIdent)};
    }
    return Unit{};
}

Result<std::string, JsonError> Lexer::read_string() {
    ++index_;  // opening quote
    std::string out;
    std::size_t run = index_;
    while (true) {
        while (index_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[index_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++index_;
        }
        if (index_ >= text_.size()) return Err{error_here(messages::kEofString)};
        out.append(text_.substr(run, index_ - run));
        char c = text_[index_++];
        if (c == '"') return out;
        if (c != '\\') {
            return Err{error_here(messages::kControlCharacter)};
        }
        if (auto escaped = read_escape(out); !escaped) return Err{std::move(escaped).error()};
        run = index_;
    }
}

Result<std::uint16_t, JsonError> Lexer::read_hex4() {
    if (text_.size() - index_ < 4) {
        index_ = text_.size();
        return Err{error_here(messages::kEofString)};
    }
    std::uint16_t value = 0;
    bool valid = true;
    for (int k = 0; k < 4; ++k) {
        int h = hex_value(text_[index_ + static_cast<std::size_t>(k)]);
        if (h < 0) valid = false;
        value = static_cast<std::uint16_t>((value << 4) | (h & 0xF));
    }
    index_ += 4;  // errors inside an escape sit just past its four digits
    if (!valid) return Err{error_here(messages::kInvalidEscape)};
    return value;
}

Result<Unit, JsonError> Lexer::read_escape(std::string& out) {
    if (index_ >= text_.size()) return Err{error_here(messages::kEofString)};
    char c = text_[index_++];
    switch (c) {
        case '"':
            out.push_back('"');
            return Unit{};
        case '\\':
            out.push_back('\\');
            return Unit{};
        case '/':
            out.push_back('/');
            return Unit{};
        case 'b':
            out.push_back('\b');
            return Unit{};
        case 'f':
            out.push_back('\f');
            return Unit{};
        case 'n':
            out.push_back('\n');
            return Unit{};
        case 'r':
            out.push_back('\r');
            return Unit{};
        case 't':
            out.push_back('\t');
            return Unit{};
        case 'u':
            break;
        default:
            return Err{error_here(messages::kInvalidEscape)};
    }
    auto first = read_hex4();
    if (!first) return Err{std::move(first).error()};
    std::uint32_t unit = first.value();
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return Err{error_here(messages::kLoneSurrogate)};
    }
    if (unit < 0xD800 || unit > 0xDBFF) {
        append_utf8(out, unit);
        return Unit{};
    }
    // A leading surrogate must be followed directly by \u and a trailing one.
    for (char expected : {'\\', 'u'}) {
        if (index_ >= text_.size()) return Err{error_here(messages::kEofString)};
        if (text_[index_++] != expected) return Err{error_here(messages::kHexEscapeEnd)};
    }
    auto second = read_hex4();
    if (!second) return Err{std::move(second).error()};
    std::uint32_t low = second.value();
    if (low < 0xDC00 || low > 0xDFFF) {
        return Err{error_here(messages::kLoneSurrogate)};
    }
    append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    return Unit{};
}

Result<Number, JsonError> Lexer::read_number() {
    bool negative = false;
    if (peek() == '-') {
        negative = true;
        ++index_;
    }
    if (index_ >= text_.size()) return Err{error_here(messages::kEofValue)};
    char first = text_[index_++];
    if (!is_digit(first)) return Err{error_here(messages::kInvalidNumber)};
    std::uint64_t significand = static_cast<std::uint64_t>(first - '0');
    if (first == '0') {
        if (is_digit(peek())) return Err{error_peek(messages::kInvalidNumber)};
    } else {
        while (is_digit(peek())) {
            unsigned digit = static_cast<unsigned>(peek() - '0');
            if (overflows(significand, digit)) {
                // Too long for an integer: the dropped digits raise the exponent.
                std::int64_t exponent = 0;
                while (is_digit(peek())) {
                    ++index_;
                    ++exponent;
                }
                return read_float(negative, significand, exponent);
            }
            ++index_;
            significand = significand * 10 + digit;
        }
    }
    int next = peek();
    if (next == '.' || next == 'e' || next == 'E') return read_float(negative, significand, 0);
    Number number;
    if (!negative) {
        number.kind = Number::Kind::u64;
        number.u = significand;
    } else if (significand >= 1 && significand <= (std::uint64_t{1} << 63)) {
        number.kind = Number::Kind::i64;
        number.i = static_cast<std::int64_t>(0 - significand);  // wraps to INT64_MIN for 2^63
    } else {
        number.kind = Number::Kind::f64;
        number.f = -static_cast<double>(significand);
    }
    return number;
}

// Continues a number at "." or an exponent marker (or after an integer part
// too long for 64 bits).
Result<Number, JsonError> Lexer::read_float(bool negative, std::uint64_t significand,
                                            std::int64_t exponent) {
    if (peek() == '.') {
        ++index_;
        std::int64_t fraction_digits = 0;
        bool overflowed = false;
        while (is_digit(peek())) {
            unsigned digit = static_cast<unsigned>(peek() - '0');
            if (overflows(significand, digit)) {
                overflowed = true;
                while (is_digit(peek())) ++index_;
                break;
            }
            ++index_;
            significand = significand * 10 + digit;
            ++fraction_digits;
        }
        if (!overflowed && fraction_digits == 0) {
            if (peek() == kEnd) return Err{error_peek(messages::kEofValue)};
            return Err{error_peek(messages::kInvalidNumber)};
        }
        exponent -= fraction_digits;
    }
    if (peek() == 'e' || peek() == 'E') return read_exponent(negative, significand, exponent);
    return compose(negative, significand, exponent);
}

Result<Number, JsonError> Lexer::read_exponent(bool negative, std::uint64_t significand,
                                               std::int64_t exponent) {
    ++index_;  // e or E
    bool positive = true;
    if (peek() == '+') {
        ++index_;
    } else if (peek() == '-') {
        positive = false;
        ++index_;
    }
    if (index_ >= text_.size()) return Err{error_here(messages::kEofValue)};
    char first = text_[index_++];
    if (!is_digit(first)) return Err{error_here(messages::kInvalidNumber)};
    std::int32_t value = first - '0';
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    while (is_digit(peek())) {
        std::int32_t digit = peek() - '0';
        ++index_;
        if (value >= kMax / 10 && (value > kMax / 10 || digit > kMax % 10)) {
            // The explicit exponent is beyond any double: infinity is an error,
            // zero (or a vanishing value) is read as zero.
            if (significand != 0 && positive) return Err{error_here(messages::kNumberOutOfRange)};
            while (is_digit(peek())) ++index_;
            Number number;
            number.kind = Number::Kind::f64;
            number.f = negative ? -0.0 : 0.0;
            return number;
        }
        value = value * 10 + digit;
    }
    exponent = positive ? exponent + value : exponent - value;
    return compose(negative, significand, exponent);
}

// One conversion of the significand, then one scaling by a tabled power of ten.
Result<Number, JsonError> Lexer::compose(bool negative, std::uint64_t significand,
                                         std::int64_t exponent) {
    double f = static_cast<double>(significand);
    while (true) {
        std::int64_t magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude <= 308) {
            if (exponent >= 0) {
                f *= kPow10[magnitude];
                if (std::isinf(f)) return Err{error_here(messages::kNumberOutOfRange)};
            } else {
                f /= kPow10[magnitude];
            }
            break;
        }
        if (f == 0.0) break;
        if (exponent >= 0) return Err{error_here(messages::kNumberOutOfRange)};
        f /= 1e308;
        exponent += 308;
    }
    Number number;
    number.kind = Number::Kind::f64;
    number.f = negative ? -f : f;
    return number;
}

}  // namespace synth::json
