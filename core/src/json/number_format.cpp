#include "json/number_format.hpp"

#include <charconv>

namespace synth::json {

namespace {

// Lays out digits d1..dn with decimal exponent e (value = d1.d2...dn x 10^e).
char* write_layout(char* p, const char* digits, int n, int e) {
    const auto copy = [&p](const char* from, int count) {
        std::memcpy(p, from, static_cast<std::size_t>(count));
        p += count;
    };
    const auto zeros = [&p](int count) {
        std::memset(p, '0', static_cast<std::size_t>(count));
        p += count;
    };
    if (e >= -5 && e <= 15) {
        if (e < 0) {
            copy("0.", 2);
            zeros(-e - 1);
            copy(digits, n);
        } else if (e < n - 1) {
            copy(digits, e + 1);
            *p++ = '.';
            copy(digits + e + 1, n - e - 1);
        } else {
            copy(digits, n);
            zeros(e - n + 1);
            copy(".0", 2);
        }
        return p;
    }
    *p++ = digits[0];
    if (n >= 2) {
        *p++ = '.';
        copy(digits + 1, n - 1);
    }
    *p++ = 'e';
    if (e > 0) {
        *p++ = '+';
    } else {
        *p++ = '-';
        e = -e;
    }
    return write_u64(p, static_cast<std::uint64_t>(e));
}

}  // namespace

char* write_f64_general(char* p, double value) {
    if (!std::isfinite(value)) {
        std::memcpy(p, "null", 4);
        return p + 4;
    }
    if (std::signbit(value)) *p++ = '-';
    if (value == 0.0) {
        std::memcpy(p, "0.0", 3);
        return p + 3;
    }
    // Scientific form of the shortest round-trip digits: d[.ddd]e(+|-)xx
    char sci[32];
    const auto res =
        std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
    char digits[20];
    int n = 0;
    const char* s = sci;
    for (; s < res.ptr && *s != 'e'; ++s) {
        if (*s != '.') digits[n++] = *s;
    }
    int e = 0;
    std::from_chars(s + (s[1] == '+' ? 2 : 1), res.ptr, e);
    return write_layout(p, digits, n, e);
}

void append_u64(std::string& out, std::uint64_t value) {
    char buf[kNumberBufferSize];
    out.append(buf, write_u64(buf, value));
}

void append_i64(std::string& out, std::int64_t value) {
    char buf[kNumberBufferSize];
    out.append(buf, write_i64(buf, value));
}

void append_f64(std::string& out, double value) {
    char buf[kNumberBufferSize];
    out.append(buf, write_f64(buf, value));
}

void append_f64_general(std::string& out, double value) {
    char buf[kNumberBufferSize];
    out.append(buf, write_f64_general(buf, value));
}

}  // namespace synth::json
