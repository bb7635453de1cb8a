#include "support/json_writer.hpp"

#include "json/number_format.hpp"

namespace synth::json {

Writer& Writer::begin_object() {
    separate();
    out_.push_back('{');
    first_ = true;
    return *this;
}

Writer& Writer::end_object() {
    out_.push_back('}');
    first_ = false;
    return *this;
}

Writer& Writer::begin_array() {
    separate();
    out_.push_back('[');
    first_ = true;
    return *this;
}

Writer& Writer::end_array() {
    out_.push_back(']');
    first_ = false;
    return *this;
}

Writer& Writer::key(std::string_view k) {
    separate();
    append_string(out_, k);
    out_.push_back(':');
    first_ = true;
    return *this;
}

Writer& Writer::string(std::string_view s) {
    separate();
    append_string(out_, s);
    return *this;
}

Writer& Writer::i64(std::int64_t v) {
    separate();
    append_i64(out_, v);
    return *this;
}

Writer& Writer::u64(std::uint64_t v) {
    separate();
    append_u64(out_, v);
    return *this;
}

Writer& Writer::f64(double v) {
    separate();
    append_f64(out_, v);
    return *this;
}

Writer& Writer::boolean(bool v) {
    separate();
    out_.append(v ? "true" : "false");
    return *this;
}

Writer& Writer::null() {
    separate();
    out_.append("null");
    return *this;
}

Writer& Writer::raw(std::string_view json) {
    separate();
    out_.append(json);
    return *this;
}

}  // namespace synth::json
