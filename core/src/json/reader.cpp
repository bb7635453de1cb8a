#include "json/reader.hpp"

#include "json/lexer.hpp"
#include "json/messages.hpp"

namespace synth::json {

namespace {

using Status = Result<Unit, JsonError>;

// Values are built in place in their final slot, so no tree is moved around
// while it is being read.
class TreeBuilder {
  public:
    explicit TreeBuilder(std::string_view text) : lex_(text) {}

    Status document(JsonValue& out) {
        if (auto ok = parse_value(out); !ok) return ok;
        return lex_.finish();
    }

  private:
    Status parse_value(JsonValue& out) {
        const int c = lex_.skip_whitespace();
        switch (c) {
            case kEnd:
                return Err{lex_.error_peek(messages::kEofValue)};
            case 'n':
                out.data = std::monostate{};
                return lex_.read_literal("null");
            case 't':
            case 'f':
                out.data = c == 't';
                return lex_.read_literal(c == 't' ? "true" : "false");
            case '"': {
                auto text = lex_.read_string();
                if (!text) return Err{std::move(text).error()};
                out.data = std::move(text).value();
                return Unit{};
            }
            case '[':
                return parse_array(out.data.emplace<JsonArray>());
            case '{':
                return parse_object(out.data.emplace<JsonObject>());
            default:
                break;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            auto number = lex_.read_number();
            if (!number) return Err{std::move(number).error()};
            const Number& n = number.value();
            switch (n.kind) {
                case Number::Kind::u64:
                    out.data = n.u;
                    break;
                case Number::Kind::i64:
                    out.data = n.i;
                    break;
                case Number::Kind::f64:
                    out.data = n.f;
                    break;
            }
            return Unit{};
        }
        return Err{lex_.error_peek(messages::kExpectedValue)};
    }

    Status parse_array(JsonArray& items) {
        if (auto ok = lex_.enter(); !ok) return ok;
        lex_.bump();
        for (bool first = true;; first = false) {
            auto more = lex_.next_element(first);
            if (!more) return Err{std::move(more).error()};
            if (!more.value()) break;
            if (auto ok = parse_value(items.emplace_back()); !ok) return ok;
        }
        lex_.bump();
        lex_.leave();
        return Unit{};
    }

    Status parse_object(JsonObject& members) {
        if (auto ok = lex_.enter(); !ok) return ok;
        lex_.bump();
        for (bool first = true;; first = false) {
            auto more = lex_.next_key(first);
            if (!more) return Err{std::move(more).error()};
            if (!more.value()) break;
            auto key = lex_.read_string();
            if (!key) return Err{std::move(key).error()};
            if (auto ok = lex_.colon(); !ok) return ok;
            // A repeated key keeps its last value: the slot is simply read again.
            if (auto ok = parse_value(members[std::move(key).value()]); !ok) return ok;
        }
        lex_.bump();
        lex_.leave();
        return Unit{};
    }

    Lexer lex_;
};

}  // namespace

Result<JsonValue, JsonError> read(std::string_view text) {
    // Built inside the result and returned as the same object: the tree is
    // never moved.
    Result<JsonValue, JsonError> result{JsonValue{}};
    if (auto ok = TreeBuilder(text).document(result.value()); !ok) {
        result = Err{std::move(ok).error()};
    }
    return result;
}

}  // namespace synth::json
