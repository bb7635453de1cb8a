#pragma once
// Compact JSON output into one growing buffer, for tests and fuzz targets that
// build expected texts: no whitespace anywhere, members in the order the caller
// writes them. Strings and numbers go through the product's own writers.
#include <cstdint>
#include <string>
#include <string_view>

#include "json/string_writer.hpp"

namespace synth::json {

// Tracks separators so callers only say what comes next. Commas are decided by a
// single flag: a value or key is the first of its container exactly when it
// directly follows an opening bracket or a key.
class Writer {
  public:
    Writer() = default;
    explicit Writer(std::size_t reserve) { out_.reserve(reserve); }

    Writer& begin_object();
    Writer& end_object();
    Writer& begin_array();
    Writer& end_array();
    Writer& key(std::string_view k);
    Writer& string(std::string_view s);
    Writer& i64(std::int64_t v);
    Writer& u64(std::uint64_t v);
    Writer& f64(double v);
    Writer& boolean(bool v);
    Writer& null();
    // Appends text that is already a complete JSON value.
    Writer& raw(std::string_view json);

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

  private:
    void separate() {
        if (!first_) out_.push_back(',');
        first_ = false;
    }

    std::string out_;
    bool first_ = true;
};

}  // namespace synth::json
