#include "invariants.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "json/messages.hpp"

namespace synth::fuzz {
namespace {

constexpr std::string_view kLine = " at line ";
constexpr std::string_view kColumn = " column ";

// The reader's texts: its one catalogue.
constexpr const auto& kReaderMessages = json::messages::kAll;

struct Record {
    std::string_view name;
    std::string_view field_list;
    std::array<std::string_view, 7> fields;
    std::size_t count;
    // Bit i set when field i has no default.
    unsigned required;
};

constexpr std::array<Record, 4> kRecords = {{
    {"GenSpec",
     "one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, `regimes`, `microstructure`",
     {"seed", "bars", "start_price", "start_ts", "bar_secs", "regimes", "microstructure"},
     7,
     0b1100111},
    {"Regime", "one of `kind`, `len`, `drift`, `vol`", {"kind", "len", "drift", "vol"}, 4, 0b1111},
    {"Microstructure",
     "one of `book_depth`, `spread_bps`, `trade_rate`, `funding`",
     {"book_depth", "spread_bps", "trade_rate", "funding"},
     4,
     0b0111},
    {"FundingSpec",
     "one of `interval_bars`, `base_rate`, `sensitivity`",
     {"interval_bars", "base_rate", "sensitivity"},
     3,
     0b111},
}};

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool starts(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}
bool ends(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool parse_decimal(std::string_view digits, std::size_t& out) {
    if (digits.empty() || digits.size() > 19) return false;
    out = 0;
    for (char c : digits) {
        if (!is_digit(c)) return false;
        out = out * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

// Decimal integer as the error texts write it: optional '-', no leading zeros.
bool is_integer_text(std::string_view s) {
    if (starts(s, "-")) s.remove_prefix(1);
    if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
    for (char c : s) {
        if (!is_digit(c)) return false;
    }
    return true;
}

// A float as the writer prints it: fixed with a fraction, or d[.ddd]e[+-]E.
bool is_float_text(std::string_view s) {
    if (starts(s, "-")) s.remove_prefix(1);
    std::size_t e = s.find('e');
    std::string_view mantissa = s.substr(0, e);
    std::size_t dot = mantissa.find('.');
    auto all_digits = [](std::string_view d) {
        if (d.empty()) return false;
        for (char c : d) {
            if (!is_digit(c)) return false;
        }
        return true;
    };
    if (e == std::string_view::npos) {
        return dot != std::string_view::npos && all_digits(mantissa.substr(0, dot)) &&
               all_digits(mantissa.substr(dot + 1));
    }
    std::string_view exponent = s.substr(e + 1);
    if (exponent.empty() || (exponent[0] != '+' && exponent[0] != '-')) return false;
    exponent.remove_prefix(1);
    if (!all_digits(exponent) || exponent[0] == '0') return false;
    if (dot == std::string_view::npos) return mantissa.size() == 1 && all_digits(mantissa);
    return dot == 1 && all_digits(mantissa.substr(0, 1)) && all_digits(mantissa.substr(2));
}

bool is_hex(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f');
}

// The quoted form of a string in a value description: every '"' and '\\'
// escaped, control characters and 0x7F written as escapes, never raw.
bool is_quoted_text(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    s = s.substr(1, s.size() - 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c < 0x20 || c == 0x7F) return false;
        if (c != '\\') continue;
        if (++i == s.size()) return false;
        char e = s[i];
        if (e == '"' || e == '\\' || e == 't' || e == 'r' || e == 'n' || e == '0') continue;
        if (e != 'u' || i + 1 >= s.size() || s[i + 1] != '{') return false;
        std::size_t close = s.find('}', i + 2);
        if (close == std::string_view::npos || close == i + 2 || close - (i + 2) > 6) return false;
        if (s[i + 2] == '0') return false;
        for (std::size_t h = i + 2; h < close; ++h) {
            if (!is_hex(s[h])) return false;
        }
        i = close;
    }
    return true;
}

enum class Described { null_, boolean, integer, floating, string, sequence, map, bad };

Described describe_kind(std::string_view d) {
    if (d == "null") return Described::null_;
    if (d == "boolean `true`" || d == "boolean `false`") return Described::boolean;
    if (d == "sequence") return Described::sequence;
    if (d == "map") return Described::map;
    if (starts(d, "integer `") && ends(d, "`") && d.size() > 10 &&
        is_integer_text(d.substr(9, d.size() - 10))) {
        return Described::integer;
    }
    if (starts(d, "floating point `") && ends(d, "`") && d.size() > 17 &&
        is_float_text(d.substr(16, d.size() - 17))) {
        return Described::floating;
    }
    if (starts(d, "string ") && is_quoted_text(d.substr(7))) return Described::string;
    return Described::bad;
}

bool is_number_word(std::string_view w) {
    return w == "u64" || w == "usize" || w == "i64" || w == "f64";
}

void check_invalid_type(std::string_view rest, std::string_view message, bool from_text) {
    constexpr std::array<std::string_view, 11> kExpected = {"u64",
                                                            "usize",
                                                            "i64",
                                                            "f64",
                                                            "struct GenSpec",
                                                            "struct Regime",
                                                            "struct Microstructure",
                                                            "struct FundingSpec",
                                                            "a sequence",
                                                            "unit",
                                                            "string or map"};
    for (std::string_view word : kExpected) {
        std::string tail = ", expected " + std::string(word);
        if (!ends(rest, tail)) continue;
        Described d = describe_kind(rest.substr(0, rest.size() - tail.size()));
        require(d != Described::bad, "invalid type: malformed value description", message);
        // A number is the right kind of value for a number field; an integer
        // is only ever wrong for its range, a float only for integer fields.
        require(!(d == Described::integer && is_number_word(word)),
                "invalid type: integer refused by a number field", message);
        require(!(d == Described::floating && word == "f64"), "invalid type: float refused by f64",
                message);
        require(!(word == "string or map" && from_text), "kind value error from text", message);
        require(!(word == "unit" && d == Described::null_), "null refused as unit", message);
        return;
    }
    fail("invalid type: unknown expectation", message);
}

void check_invalid_value(std::string_view rest, std::string_view message, bool from_text) {
    if (rest == "map, expected map with a single key") {
        require(!from_text, "kind map error from text", message);
        return;
    }
    require(starts(rest, "integer `"), "invalid value: not an integer", message);
    std::size_t close = rest.find('`', 9);
    require(close != std::string_view::npos, "invalid value: unclosed integer", message);
    std::string_view number = rest.substr(9, close - 9);
    std::string_view word = rest.substr(close + 1);
    require(is_integer_text(number), "invalid value: malformed integer", message);
    if (word == ", expected u64" || word == ", expected usize") {
        require(starts(number, "-"), "invalid value: unsigned field refused a non-negative",
                message);
    } else {
        require(word == ", expected i64", "invalid value: unknown expectation", message);
        // Only a non-negative integer above the i64 range is refused.
        require(!starts(number, "-") &&
                    (number.size() > 19 ||
                     (number.size() == 19 && number > std::string_view("9223372036854775807"))),
                "invalid value: i64 refused an integer in range", message);
    }
}

bool names_field(std::string_view key) {
    for (const Record& r : kRecords) {
        for (std::size_t i = 0; i < r.count; ++i) {
            if (r.fields[i] == key) return true;
        }
    }
    return false;
}

void check_length(std::string_view rest, std::string_view message, bool from_text) {
    std::size_t comma = rest.find(", expected ");
    require(comma != std::string_view::npos, "invalid length: no expectation", message);
    std::size_t n = 0;
    require(parse_decimal(rest.substr(0, comma), n), "invalid length: malformed count", message);
    std::string_view tail = rest.substr(comma + 11);
    if (tail == "fewer elements in array") {
        require(!from_text, "array too long reported from text", message);
        require(n >= 4, "too-long array with too few elements", message);
        return;
    }
    for (const Record& r : kRecords) {
        std::string expected =
            "struct " + std::string(r.name) + " with " + std::to_string(r.count) + " elements";
        if (tail != expected) continue;
        require(n < r.count && ((r.required >> n) & 1U) != 0,
                "invalid length: index is not a required field", message);
        return;
    }
    fail("invalid length: unknown record", message);
}

}  // namespace

void fail(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "invariant broken: %.*s\n  %.*s\n", static_cast<int>(what.size()),
                 what.data(), static_cast<int>(detail.size()), detail.data());
    std::abort();
}

std::optional<Positioned> split_position(std::string_view rendered) {
    std::size_t at = rendered.rfind(kLine);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view tail = rendered.substr(at + kLine.size());
    std::size_t col = tail.find(kColumn);
    if (col == std::string_view::npos) return std::nullopt;
    Positioned p;
    p.message = rendered.substr(0, at);
    if (!parse_decimal(tail.substr(0, col), p.line) ||
        !parse_decimal(tail.substr(col + kColumn.size()), p.column)) {
        return std::nullopt;
    }
    // Decimal without leading zeros, as the suffix is always written.
    auto canonical = [](std::string_view d) { return d.size() == 1 || d[0] != '0'; };
    if (!canonical(tail.substr(0, col)) || !canonical(tail.substr(col + kColumn.size()))) {
        return std::nullopt;
    }
    return p;
}

std::size_t checked_index(std::string_view text, std::size_t line, std::size_t column) {
    require(line >= 1, "position line below 1");
    std::size_t start = 0;
    for (std::size_t l = 1; l < line; ++l) {
        std::size_t lf = text.find('\n', start);
        require(lf != std::string_view::npos, "position line beyond the text");
        start = lf + 1;
    }
    require(column <= text.size() - start, "position column beyond the text");
    std::size_t index = start + column;
    require(text.substr(start, column).find('\n') == std::string_view::npos,
            "position column crosses a line feed");
    return index;
}

bool is_reader_message(std::string_view message) {
    for (std::string_view m : kReaderMessages) {
        if (m == message) return true;
    }
    return false;
}

void check_reader_error(std::string_view text, std::string_view rendered) {
    std::optional<Positioned> p = split_position(rendered);
    require(p.has_value(), "reader error without position", rendered);
    require(is_reader_message(p->message), "unknown reader message", rendered);
    std::size_t i = checked_index(text, p->line, p->column);
    std::string_view m = p->message;
    if (starts(m, "EOF while")) {
        require(i == text.size(), "end-of-text error before the end", rendered);
        return;
    }
    require(i >= 1, "byte error at index 0", rendered);
    char at = text[i - 1];
    if (m == "trailing comma") {
        require(at == ']' || at == '}', "trailing comma not at a closing bracket", rendered);
    } else if (m == "recursion limit exceeded") {
        require(at == '[' || at == '{', "recursion limit not at an opening bracket", rendered);
    } else if (starts(m, "control character")) {
        require(static_cast<unsigned char>(at) < 0x20, "control character error at a plain byte",
                rendered);
    } else if (m == "number out of range") {
        require(is_digit(at), "number out of range not after a digit", rendered);
    } else if (m == "expected `,` or `]`" || m == "expected `,` or `}`" || m == "expected `:`" ||
               m == "key must be a string" || m == "expected value" || m == "trailing characters") {
        // A record array that ends in a surplus comma and then the text is
        // reported as trailing characters at the end of the text.
        require(!is_space(at) || (m == "trailing characters" && i == text.size()),
                "syntax error positioned at whitespace", rendered);
        require(!(m == "expected `:`" && at == ':'), "expected colon at a colon", rendered);
        require(!(m == "key must be a string" && at == '"'), "key error at a quote", rendered);
    }
}

void check_decoder_message(std::string_view message, bool from_text) {
    if (starts(message, "invalid type: ")) {
        check_invalid_type(message.substr(14), message, from_text);
    } else if (starts(message, "invalid value: ")) {
        check_invalid_value(message.substr(15), message, from_text);
    } else if (starts(message, "invalid length ")) {
        check_length(message.substr(15), message, from_text);
    } else if (starts(message, "unknown field `")) {
        for (const Record& r : kRecords) {
            std::string tail = "`, expected " + std::string(r.field_list);
            if (!ends(message, tail)) continue;
            std::string_view key = message.substr(15, message.size() - 15 - tail.size());
            for (std::size_t f = 0; f < r.count; ++f) {
                require(r.fields[f] != key, "unknown field names a field", message);
            }
            return;
        }
        fail("unknown field: unknown field list", message);
    } else if (starts(message, "duplicate field `") && ends(message, "`")) {
        require(from_text, "duplicate field from a value", message);
        require(names_field(message.substr(17, message.size() - 18)),
                "duplicate field that is not a field", message);
    } else if (starts(message, "missing field `") && ends(message, "`")) {
        std::string_view field = message.substr(15, message.size() - 16);
        bool required = false;
        for (const Record& r : kRecords) {
            for (std::size_t f = 0; f < r.count; ++f) {
                if (r.fields[f] == field && ((r.required >> f) & 1U) != 0) required = true;
            }
        }
        require(required, "missing field that has a default", message);
    } else if (starts(message, "unknown variant `")) {
        constexpr std::string_view kTail = "`, expected one of `trend`, `range`, `crash`, `vol`";
        require(ends(message, kTail), "unknown variant: wrong tail", message);
        std::string_view name = message.substr(17, message.size() - 17 - kTail.size());
        require(name != "trend" && name != "range" && name != "crash" && name != "vol",
                "unknown variant names a kind", message);
    } else {
        fail("unknown decoder message", message);
    }
}

bool is_validation_message(std::string_view message) {
    constexpr std::array<std::string_view, 14> kMessages = {
        "bars must be > 0",
        "start_price must be finite and > 0",
        "bar_secs must be > 0",
        "regimes must not be empty",
        "regime len must be > 0",
        "regime drift must be finite",
        "regime vol must be finite and >= 0",
        "sum of regime lengths must equal bars",
        "book_depth must be > 0",
        "spread_bps must be finite and >= 0",
        "trade_rate must be finite and >= 0",
        "funding.interval_bars must be > 0",
        "funding base_rate and sensitivity must be finite",
        "start_ts + (bars - 1) * bar_secs overflows i64",
    };
    for (std::string_view m : kMessages) {
        if (m == message) return true;
    }
    return false;
}

}  // namespace synth::fuzz
