// The JSON reader on arbitrary bytes: every error has a fixed message and a
// position consistent with the text; every document it accepts survives being
// written compactly and read again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "invariants.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"
#include "support/json_writer.hpp"

namespace {

using synth::fuzz::require;
using synth::json::JsonValue;

void write(synth::json::Writer& w, const JsonValue& v) {
    if (v.is_null()) {
        w.null();
    } else if (const bool* b = v.as_bool()) {
        w.boolean(*b);
    } else if (const std::uint64_t* u = v.as_u64()) {
        w.u64(*u);
    } else if (const std::int64_t* i = v.as_i64()) {
        w.i64(*i);
    } else if (const double* f = v.as_f64()) {
        w.f64(*f);
    } else if (const std::string* s = v.as_string()) {
        w.string(*s);
    } else if (const auto* a = v.as_array()) {
        w.begin_array();
        for (const JsonValue& e : *a) write(w, e);
        w.end_array();
    } else {
        w.begin_object();
        for (const auto& [key, member] : *v.as_object()) {
            w.key(key);
            write(w, member);
        }
        w.end_object();
    }
}

// Floats may come back one step away: the reader's conversion is not
// correctly rounded for long texts with large exponents.
bool same(const JsonValue& a, const JsonValue& b) {
    if (a.data.index() != b.data.index()) return false;
    if (const double* x = a.as_f64()) {
        double y = *b.as_f64();
        require(std::isfinite(*x), "reader produced a non-finite number");
        return std::signbit(*x) == std::signbit(y) &&
               (*x == y || std::nextafter(*x, y) == y ||
                std::nextafter(std::nextafter(*x, y), y) == y);
    }
    if (const auto* arr = a.as_array()) {
        const auto& other = *b.as_array();
        if (arr->size() != other.size()) return false;
        for (std::size_t i = 0; i < arr->size(); ++i) {
            if (!same((*arr)[i], other[i])) return false;
        }
        return true;
    }
    if (const auto* obj = a.as_object()) {
        const auto& other = *b.as_object();
        if (obj->size() != other.size()) return false;
        auto it = other.begin();
        for (const auto& [key, member] : *obj) {
            if (key != it->first || !same(member, it->second)) return false;
            ++it;
        }
        return true;
    }
    if (const bool* x = a.as_bool()) return *x == *b.as_bool();
    if (const std::uint64_t* x = a.as_u64()) return *x == *b.as_u64();
    if (const std::int64_t* x = a.as_i64()) return *x == *b.as_i64();
    if (const std::string* x = a.as_string()) return *x == *b.as_string();
    return true;  // both null
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = synth::json::read(text);
    if (!parsed) {
        require(parsed.error().line >= 1, "reader error without a line");
        synth::fuzz::check_reader_error(text, parsed.error().render());
        return 0;
    }
    synth::json::Writer writer;
    write(writer, parsed.value());
    const std::string& written = writer.text();
    auto again = synth::json::read(written);
    require(again.ok(), "written document does not read back", written);
    require(same(parsed.value(), again.value()), "written document reads back different", written);
    // Compact output has no whitespace outside strings, so writing the second
    // reading gives the same text unless a float moved.
    return 0;
}
