#include "json/number_format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace synth::json {

void append_u64(std::string& out, std::uint64_t value) {
    char buf[20];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void append_i64(std::string& out, std::int64_t value) {
    char buf[20];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

namespace {

// Lays out digits d1..dn with decimal exponent e (value = d1.d2...dn x 10^e).
void append_layout(std::string& out, bool negative, const char* digits, int n, int e) {
    if (negative) out.push_back('-');
    if (e >= -5 && e <= 15) {
        if (e < 0) {
            out.append("0.");
            out.append(static_cast<std::size_t>(-e - 1), '0');
            out.append(digits, static_cast<std::size_t>(n));
        } else if (e < n - 1) {
            out.append(digits, static_cast<std::size_t>(e + 1));
            out.push_back('.');
            out.append(digits + e + 1, static_cast<std::size_t>(n - e - 1));
        } else {
            out.append(digits, static_cast<std::size_t>(n));
            out.append(static_cast<std::size_t>(e - n + 1), '0');
            out.append(".0");
        }
        return;
    }
    out.push_back(digits[0]);
    if (n >= 2) {
        out.push_back('.');
        out.append(digits + 1, static_cast<std::size_t>(n - 1));
    }
    out.push_back('e');
    if (e > 0) {
        out.push_back('+');
    } else {
        out.push_back('-');
        e = -e;
    }
    append_u64(out, static_cast<std::uint64_t>(e));
}

}  // namespace

void append_f64_general(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    if (value == 0.0) {
        out.append(std::signbit(value) ? "-0.0" : "0.0");
        return;
    }
    const bool negative = std::signbit(value);
    // Scientific form of the shortest round-trip digits: d[.ddd]e(+|-)xx
    char sci[32];
    auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
    char digits[20];
    int n = 0;
    const char* p = sci;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p != '.') digits[n++] = *p;
    }
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, e);
    append_layout(out, negative, digits, n, e);
}

void append_f64(std::string& out, double value) { append_f64_general(out, value); }

}  // namespace synth::json
