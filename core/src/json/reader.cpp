#include "json/reader.hpp"

#include "json/lexer.hpp"

namespace synth::json {

namespace {

class TreeBuilder {
public:
    explicit TreeBuilder(std::string_view text) : lex_(text) {}

    Result<JsonValue, JsonError> document() {
        auto value = parse_value();
        if (!value) return value;
        if (auto end = lex_.finish(); !end) return Err{std::move(end).error()};
        return value;
    }

private:
    Result<JsonValue, JsonError> parse_value() {
        switch (lex_.skip_whitespace()) {
            case kEnd:
                return Err{lex_.error_peek("EOF while parsing a value")};
            case 'n':
                return literal("null", JsonValue{});
            case 't':
                return literal("true", JsonValue{true});
            case 'f':
                return literal("false", JsonValue{false});
            case '"': {
                auto text = lex_.read_string();
                if (!text) return Err{std::move(text).error()};
                return JsonValue{std::move(text).value()};
            }
            case '[':
                return parse_array();
            case '{':
                return parse_object();
            default:
                break;
        }
        int c = lex_.peek();
        if (c == '-' || (c >= '0' && c <= '9')) {
            auto number = lex_.read_number();
            if (!number) return Err{std::move(number).error()};
            const Number& n = number.value();
            switch (n.kind) {
                case Number::Kind::u64: return JsonValue{n.u};
                case Number::Kind::i64: return JsonValue{n.i};
                case Number::Kind::f64: return JsonValue{n.f};
            }
        }
        return Err{lex_.error_peek("expected value")};
    }

    Result<JsonValue, JsonError> literal(std::string_view word, JsonValue value) {
        if (auto ok = lex_.read_literal(word); !ok) return Err{std::move(ok).error()};
        return value;
    }

    Result<JsonValue, JsonError> parse_array() {
        if (auto ok = lex_.enter(); !ok) return Err{std::move(ok).error()};
        lex_.bump();
        JsonArray items;
        bool first = true;
        while (true) {
            int c = lex_.skip_whitespace();
            if (c == ']') break;
            if (c == kEnd) return Err{lex_.error_peek("EOF while parsing a list")};
            if (!first) {
                if (c != ',') return Err{lex_.error_peek("expected `,` or `]`")};
                lex_.bump();
                c = lex_.skip_whitespace();
                if (c == ']') return Err{lex_.error_peek("trailing comma")};
                if (c == kEnd) return Err{lex_.error_peek("EOF while parsing a value")};
            }
            first = false;
            auto item = parse_value();
            if (!item) return item;
            items.push_back(std::move(item).value());
        }
        lex_.bump();
        lex_.leave();
        return JsonValue{std::move(items)};
    }

    Result<JsonValue, JsonError> parse_object() {
        if (auto ok = lex_.enter(); !ok) return Err{std::move(ok).error()};
        lex_.bump();
        JsonObject members;
        bool first = true;
        while (true) {
            int c = lex_.skip_whitespace();
            if (c == '}') break;
            if (c == kEnd) return Err{lex_.error_peek("EOF while parsing an object")};
            if (!first) {
                if (c != ',') return Err{lex_.error_peek("expected `,` or `}`")};
                lex_.bump();
                c = lex_.skip_whitespace();
                if (c == '}') return Err{lex_.error_peek("trailing comma")};
                if (c == kEnd) return Err{lex_.error_peek("EOF while parsing a value")};
            }
            first = false;
            if (c != '"') return Err{lex_.error_peek("key must be a string")};
            auto key = lex_.read_string();
            if (!key) return Err{std::move(key).error()};
            c = lex_.skip_whitespace();
            if (c == kEnd) return Err{lex_.error_peek("EOF while parsing an object")};
            if (c != ':') return Err{lex_.error_peek("expected `:`")};
            lex_.bump();
            auto value = parse_value();
            if (!value) return value;
            // A repeated key keeps its last value.
            members.insert_or_assign(std::move(key).value(), std::move(value).value());
        }
        lex_.bump();
        lex_.leave();
        return JsonValue{std::move(members)};
    }

    Lexer lex_;
};

}  // namespace

Result<JsonValue, JsonError> read(std::string_view text) { return TreeBuilder(text).document(); }

}  // namespace synth::json
