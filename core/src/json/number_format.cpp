#include "json/number_format.hpp"

#include <charconv>

namespace synth::json {

char* write_u64(char* p, std::uint64_t value) {
    int len = 1;
    for (std::uint64_t rest = value; rest >= 10; rest /= 10) ++len;
    char* const end = p + len;
    char* q = end;
    while (value >= 100) {
        q -= 2;
        detail::write_pair(q, static_cast<unsigned>(value % 100));
        value /= 100;
    }
    if (value >= 10) {
        detail::write_pair(q - 2, static_cast<unsigned>(value));
    } else {
        q[-1] = static_cast<char>('0' + value);
    }
    return end;
}

char* write_i64(char* p, std::int64_t value) {
    // The magnitude is taken in unsigned arithmetic, exact also for the most
    // negative value.
    auto magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    return write_u64(p, magnitude);
}

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
    char buf[kMaxNumberChars];
    out.append(buf, write_u64(buf, value));
}

void append_i64(std::string& out, std::int64_t value) {
    char buf[kMaxNumberChars];
    out.append(buf, write_i64(buf, value));
}

void append_f64(std::string& out, double value) {
    char buf[kMaxNumberChars];
    out.append(buf, write_f64(buf, value));
}

void append_f64_general(std::string& out, double value) {
    char buf[kMaxNumberChars];
    out.append(buf, write_f64_general(buf, value));
}

}  // namespace synth::json
