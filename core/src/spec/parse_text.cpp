// Decoding a spec straight from its text, record by record in document order.
// Unlike a parsed tree, this sees repeated keys and knows where every token
// sits, so each error carries the position at which it was found.
#include <cstdint>
#include <limits>
#include <string>
#include <variant>

#include "json/lexer.hpp"
#include "json/messages.hpp"
#include "json/number_format.hpp"
#include "spec/decode.hpp"
#include "spec/describe.hpp"
#include "spec/fields.hpp"
#include "spec/messages.hpp"

namespace synth::spec {

namespace {

using json::JsonError;
using json::kEnd;
using json::Lexer;
using json::Number;

template <class T>
using Read = Result<T, JsonError>;
using Status = Read<Unit>;

// A value read up to the point where a field can judge it. Arrays and objects
// are only looked at, not consumed.
struct Scalar {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool flag = false;
    Number number;
    std::string text;
};

std::string describe(const Scalar& s) {
    switch (s.kind) {
        case Scalar::Kind::null:
            return std::string(kDescribeNull);
        case Scalar::Kind::boolean:
            return describe_bool(s.flag);
        case Scalar::Kind::string:
            return describe_string(s.text);
        case Scalar::Kind::array:
            return std::string(kDescribeSequence);
        case Scalar::Kind::object:
            return std::string(kDescribeMap);
        case Scalar::Kind::number:
            break;
    }
    switch (s.number.kind) {
        case Number::Kind::u64:
            return describe_u64(s.number.u);
        case Number::Kind::i64:
            return describe_i64(s.number.i);
        case Number::Kind::f64:
            break;
    }
    return describe_f64(s.number.f);
}

class TextDecoder {
  public:
    TextDecoder(std::string_view text, Dialect dialect) : lex_(text), dialect_(dialect) {}

    Read<GenSpec> document() {
        GenSpec spec;
        if (auto ok = record(spec); !ok) return Err{std::move(ok).error()};
        if (auto ok = lex_.finish(); !ok) return Err{std::move(ok).error()};
        return spec;
    }

  private:
    // ---- single values -------------------------------------------------

    Read<Scalar> scalar() {
        Scalar s;
        int c = lex_.skip_whitespace();
        switch (c) {
            case kEnd:
                return Err{lex_.error_peek(json::messages::kEofValue)};
            case 'n':
                if (auto ok = lex_.read_literal("null"); !ok) return Err{std::move(ok).error()};
                return s;
            case 't':
            case 'f': {
                s.kind = Scalar::Kind::boolean;
                s.flag = c == 't';
                if (auto ok = lex_.read_literal(s.flag ? "true" : "false"); !ok) {
                    return Err{std::move(ok).error()};
                }
                return s;
            }
            case '"': {
                auto text = lex_.read_string();
                if (!text) return Err{std::move(text).error()};
                s.kind = Scalar::Kind::string;
                s.text = std::move(text).value();
                return s;
            }
            case '[':
                s.kind = Scalar::Kind::array;
                return s;
            case '{':
                s.kind = Scalar::Kind::object;
                return s;
            default:
                break;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            auto number = lex_.read_number();
            if (!number) return Err{std::move(number).error()};
            s.kind = Scalar::Kind::number;
            s.number = number.value();
            return s;
        }
        return Err{lex_.error_peek(json::messages::kExpectedValue)};
    }

    // A value error sits just after the offending token, or before an offending
    // array or object, which is never consumed.
    JsonError value_error(std::string message) { return lex_.error_here(std::move(message)); }

    Status unsigned_field(std::uint64_t* out, std::string_view expected) {
        auto s = scalar();
        if (!s) return Err{std::move(s).error()};
        const Scalar& v = s.value();
        if (v.kind == Scalar::Kind::number && v.number.kind == Number::Kind::u64) {
            *out = v.number.u;
            return Unit{};
        }
        if (v.kind == Scalar::Kind::number && v.number.kind == Number::Kind::i64) {
            std::string text;
            json::append_i64(text, v.number.i);
            return Err{value_error(invalid_integer(text, expected))};
        }
        return Err{value_error(invalid_type(describe(v), expected))};
    }

    Status signed_field(std::int64_t* out) {
        auto s = scalar();
        if (!s) return Err{std::move(s).error()};
        const Scalar& v = s.value();
        if (v.kind == Scalar::Kind::number && v.number.kind == Number::Kind::i64) {
            *out = v.number.i;
            return Unit{};
        }
        if (v.kind == Scalar::Kind::number && v.number.kind == Number::Kind::u64) {
            if (v.number.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                std::string text;
                json::append_u64(text, v.number.u);
                return Err{value_error(invalid_integer(text, kExpectedI64))};
            }
            *out = static_cast<std::int64_t>(v.number.u);
            return Unit{};
        }
        return Err{value_error(invalid_type(describe(v), kExpectedI64))};
    }

    Status float_field(double* out) {
        auto s = scalar();
        if (!s) return Err{std::move(s).error()};
        const Scalar& v = s.value();
        if (v.kind != Scalar::Kind::number) {
            return Err{value_error(invalid_type(describe(v), kExpectedF64))};
        }
        switch (v.number.kind) {
            case Number::Kind::u64:
                *out = static_cast<double>(v.number.u);
                break;
            case Number::Kind::i64:
                *out = static_cast<double>(v.number.i);
                break;
            case Number::Kind::f64:
                *out = v.number.f;
                break;
        }
        return Unit{};
    }

    Status kind_name(const std::string& name, RegimeKind* out) {
        auto kind = kind_from_name(name);
        if (!kind) return Err{value_error(unknown_variant(name))};
        *out = *kind;
        return Unit{};
    }

    // A kind is its name as a string, or an object of one member: the name
    // mapped to null.
    Status kind_field(RegimeKind* out) {
        int c = lex_.skip_whitespace();
        if (c == '"') {
            auto name = lex_.read_string();
            if (!name) return Err{std::move(name).error()};
            return kind_name(name.value(), out);
        }
        if (c == kEnd) return Err{lex_.error_peek(json::messages::kEofValue)};
        if (c != '{') return Err{lex_.error_peek(json::messages::kExpectedValue)};
        if (auto ok = lex_.enter(); !ok) return ok;
        lex_.bump();
        c = lex_.skip_whitespace();
        if (c == kEnd) return Err{lex_.error_peek(json::messages::kEofValue)};
        if (c == '}') return Err{lex_.error_peek(json::messages::kExpectedValue)};
        if (c != '"') return Err{lex_.error_peek(json::messages::kKeyMustBeString)};
        auto name = lex_.read_string();
        if (!name) return Err{std::move(name).error()};
        if (auto ok = kind_name(name.value(), out); !ok) return ok;
        if (auto ok = lex_.colon(); !ok) return ok;
        auto unit = scalar();
        if (!unit) return Err{std::move(unit).error()};
        if (unit.value().kind != Scalar::Kind::null) {
            return Err{value_error(invalid_type(describe(unit.value()), kExpectedUnit))};
        }
        c = lex_.skip_whitespace();
        if (c == kEnd) return Err{lex_.error_peek(json::messages::kEofObject)};
        if (c != '}') return Err{lex_.error_peek(json::messages::kExpectedValue)};
        lex_.bump();
        lex_.leave();
        return Unit{};
    }

    // ---- records -----------------------------------------------------------

    // An error found by a record itself is stamped after skipping whitespace
    // and, if it is next, the record's closing bracket.
    JsonError record_error(std::string message, int closing) {
        if (lex_.skip_whitespace() == closing) lex_.bump();
        return lex_.error_here(std::move(message));
    }

    // Reads one field's value into the member the field map hands over.
    struct FieldReader {
        TextDecoder& d;
        Status operator()(std::uint64_t& out, std::string_view expected) const {
            return d.unsigned_field(&out, expected);
        }
        Status operator()(std::int64_t& out) const { return d.signed_field(&out); }
        Status operator()(double& out) const { return d.float_field(&out); }
        Status operator()(RegimeKind& out) const { return d.kind_field(&out); }
        Status operator()(std::vector<Regime>& out) const { return d.regime_list(&out); }
        Status operator()(std::vector<std::vector<double>>& out) const { return d.rows(&out); }
        Status operator()(Microstructure& out) const { return d.record(out); }
        template <class R>
        Status operator()(std::optional<R>& out) const {
            return d.optional_record(&out);
        }
    };

    // null stands for an absent record (funding, extension members).
    template <class R>
    Status optional_record(std::optional<R>* out) {
        if (lex_.skip_whitespace() == 'n') {
            if (auto ok = lex_.read_literal("null"); !ok) return ok;
            out->reset();
            return Unit{};
        }
        R value;
        if (auto ok = record(value); !ok) return ok;
        *out = std::move(value);
        return Unit{};
    }

    // A record in its object or array form. Fields never read keep the values
    // of a fresh record, which are the defaults.
    template <class T>
    Status record(T& target) {
        int c = lex_.skip_whitespace();
        if (c == '{' || c == '[') {
            if (auto ok = lex_.enter(); !ok) return ok;
            lex_.bump();
            auto ok = c == '{' ? object_form(target) : array_form(target);
            if (ok) lex_.leave();
            return ok;
        }
        auto s = scalar();
        if (!s) return Err{std::move(s).error()};
        return Err{
            value_error(invalid_type(describe(s.value()), expected_struct(RecordOf<T>::value)))};
    }

    template <class T>
    Status object_form(T& target) {
        constexpr Record kind = RecordOf<T>::value;
        bool seen[kMaxFields] = {};
        for (bool first = true;; first = false) {
            auto more = lex_.next_key(first);
            if (!more) return Err{std::move(more).error()};
            if (!more.value()) break;
            auto key = lex_.read_string();
            if (!key) return Err{std::move(key).error()};
            auto index = field_index(kind, key.value(), dialect_);
            if (!index) return Err{record_error(unknown_field(key.value(), kind, dialect_), '}')};
            if (seen[*index]) return Err{record_error(duplicate_field(key.value()), '}')};
            seen[*index] = true;
            if (auto ok = lex_.colon(); !ok) return ok;
            if (auto ok = read_field(target, *index, FieldReader{*this}); !ok) return ok;
        }
        for (std::size_t k = 0; k < field_count(kind, dialect_); ++k) {
            if (!seen[k] && !field_has_default(kind, k)) {
                return Err{record_error(missing_field(field_names(kind, dialect_)[k]), '}')};
            }
        }
        lex_.bump();  // the closing brace
        return Unit{};
    }

    template <class T>
    Status array_form(T& target) {
        constexpr Record kind = RecordOf<T>::value;
        bool first = true;
        bool ended = false;
        for (std::size_t k = 0; k < field_count(kind, dialect_); ++k) {
            if (!ended) {
                auto more = lex_.next_element(first);
                if (!more) return Err{std::move(more).error()};
                ended = !more.value();
                first = false;
            }
            if (!ended) {
                if (auto ok = read_field(target, k, FieldReader{*this}); !ok) return ok;
            } else if (!field_has_default(kind, k)) {
                return Err{record_error(invalid_length_struct(k, kind), ']')};
            }
        }
        // Every field is taken: only the closing bracket may follow.
        int c = lex_.skip_whitespace();
        if (c == ']') {
            lex_.bump();
            return Unit{};
        }
        if (c == kEnd) return Err{lex_.error_peek(json::messages::kEofList)};
        if (c == ',') {
            lex_.bump();
            if (lex_.skip_whitespace() == ']')
                return Err{lex_.error_peek(json::messages::kTrailingComma)};
        }
        return Err{lex_.error_peek(json::messages::kTrailingCharacters)};
    }

    Status regime_list(std::vector<Regime>* out) {
        int c = lex_.skip_whitespace();
        if (c != '[') {
            auto s = scalar();
            if (!s) return Err{std::move(s).error()};
            return Err{value_error(invalid_type(describe(s.value()), kExpectedSequence))};
        }
        if (auto ok = lex_.enter(); !ok) return ok;
        lex_.bump();
        out->clear();
        for (bool first = true;; first = false) {
            auto more = lex_.next_element(first);
            if (!more) return Err{std::move(more).error()};
            if (!more.value()) break;
            Regime regime;
            if (auto ok = record(regime); !ok) return ok;
            out->push_back(regime);
        }
        lex_.bump();
        lex_.leave();
        return Unit{};
    }

    // A list of rows, each a list of f64 (a chain's transition matrix).
    Status rows(std::vector<std::vector<double>>* out) {
        if (auto ok = open_list(); !ok) return ok;
        out->clear();
        for (bool first = true;; first = false) {
            auto more = lex_.next_element(first);
            if (!more) return Err{std::move(more).error()};
            if (!more.value()) break;
            if (auto ok = open_list(); !ok) return ok;
            std::vector<double> row;
            for (bool first_value = true;; first_value = false) {
                auto value = lex_.next_element(first_value);
                if (!value) return Err{std::move(value).error()};
                if (!value.value()) break;
                double x = 0.0;
                if (auto ok = float_field(&x); !ok) return ok;
                row.push_back(x);
            }
            lex_.bump();
            lex_.leave();
            out->push_back(std::move(row));
        }
        lex_.bump();
        lex_.leave();
        return Unit{};
    }

    // The opening bracket of a list (consumed), or the invalid type of what stands there.
    Status open_list() {
        if (lex_.skip_whitespace() != '[') {
            auto s = scalar();
            if (!s) return Err{std::move(s).error()};
            return Err{value_error(invalid_type(describe(s.value()), kExpectedSequence))};
        }
        if (auto ok = lex_.enter(); !ok) return ok;
        lex_.bump();
        return Unit{};
    }

    Lexer lex_;
    Dialect dialect_;
};

}  // namespace

Result<GenSpec, SynthError> parse_spec(std::string_view text, Dialect dialect) {
    auto spec = TextDecoder(text, dialect).document();
    if (!spec) return parse_error(std::move(spec).error().render());
    return std::move(spec).value();
}

}  // namespace synth::spec
