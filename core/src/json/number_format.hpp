#pragma once
// Number texts of the writer: integers in plain decimal; floats as their shortest
// round-trip digits laid out in fixed notation for decimal exponents -5..15 and
// in exponent notation otherwise; non-finite floats as null.
//
// The write_* functions fill a caller's buffer of at least kNumberBufferSize
// bytes and return the end of the text; they never allocate. Digits are stored
// eight bytes at a time, so up to seven bytes past the returned end may be
// overwritten too.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace synth::json {

// Longest number text: "-2.2250738585072014e-308" or "-0.000012345678901234567".
inline constexpr std::size_t kMaxNumberChars = 24;
inline constexpr std::size_t kNumberBufferSize = kMaxNumberChars + 8;

inline char* write_u64(char* p, std::uint64_t value);
inline char* write_i64(char* p, std::int64_t value);
// The reference path: digits from std::to_chars, then the layout rules.
char* write_f64_general(char* p, double value);
inline char* write_f64(char* p, double value);

void append_u64(std::string& out, std::uint64_t value);
void append_i64(std::string& out, std::int64_t value);
void append_f64(std::string& out, double value);
void append_f64_general(std::string& out, double value);

namespace detail {

// "00" "01" ... "99": two digits per table step.
inline constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* write_pair(char* p, unsigned v) {
    std::memcpy(p, kDigitPairs + 2 * v, 2);
    return p + 2;
}

// Eight digits of v < 10^8 with leading zeros, as a word whose lowest byte holds
// the first digit. The digits are split in registers, several at once: two
// 32-bit lanes of four digits, then four 16-bit lanes of two, then eight bytes
// of one, each division by 100 or 10 done as a multiply and shift that is exact
// for the lane's range (x < 10^4 and x < 100). Lengths then come from bit counts
// instead of digit-by-digit branches, which mispredict on values of mixed width.
inline std::uint64_t eight_digits(std::uint32_t v) {
    const std::uint64_t four = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
    const std::uint64_t hundreds = ((four * 10486) >> 20) & 0x0000007F0000007FULL;
    const std::uint64_t two = hundreds | ((four - hundreds * 100) << 16);
    const std::uint64_t tens = ((two * 103) >> 10) & 0x000F000F000F000FULL;
    const std::uint64_t one = tens | ((two - tens * 10) << 8);
    return one | 0x3030303030303030ULL;
}

// All eight bytes are stored; the caller advances only over the ones it keeps.
inline void store_word(char* p, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(p, &word, 8);
}

// Digit values instead of characters: a zero digit becomes a zero byte.
inline constexpr std::uint64_t kAsciiZeros = 0x3030303030303030ULL;

// v (0 < v < 10^8) without leading zeros.
inline char* write_below_1e8(char* p, std::uint32_t v) {
    const std::uint64_t word = eight_digits(v);
    const int leading = std::countr_zero(word - kAsciiZeros) / 8;
    store_word(p, word >> (8 * leading));
    return p + (8 - leading);
}

// v (0 < v < 10^8) as eight digits with leading zeros, trailing zeros dropped.
inline char* write_eight_trimmed(char* p, std::uint32_t v) {
    const std::uint64_t word = eight_digits(v);
    store_word(p, word);
    return p + (8 - std::countl_zero(word - kAsciiZeros) / 8);
}

// The value n / 10^8 (0 < n < 10^15) in the writer's layout. The integer part
// n / 10^8 is below 10^7, so a value >= 1 always has a decimal exponent of 0..6
// and is written in fixed notation: integer digits, ".", fraction digits without
// trailing zeros (or "0"). A value below 1 has exponent -1..-8; from -5 up it is
// "0." and the zero-padded fraction, below that (n < 1000) exponent notation.
inline char* write_scaled8(char* p, std::uint64_t n) {
    const auto whole = static_cast<std::uint32_t>(n / 100000000);
    const auto frac = static_cast<std::uint32_t>(n % 100000000);
    if (whole != 0) {
        p = write_below_1e8(p, whole);
        *p++ = '.';
        if (frac == 0) {
            *p++ = '0';
            return p;
        }
        return write_eight_trimmed(p, frac);
    }
    if (frac >= 1000) {
        *p++ = '0';
        *p++ = '.';
        return write_eight_trimmed(p, frac);
    }
    // frac is 1..999: digits d1[d2[d3]] with exponent -8, -7 or -6.
    char digits[3];
    int count;
    char exponent;
    if (frac >= 100) {
        write_pair(digits + 1, frac % 100);
        digits[0] = static_cast<char>('0' + frac / 100);
        count = 3;
        exponent = '6';
    } else if (frac >= 10) {
        write_pair(digits, frac);
        count = 2;
        exponent = '7';
    } else {
        digits[0] = static_cast<char>('0' + frac);
        count = 1;
        exponent = '8';
    }
    while (digits[count - 1] == '0') --count;
    *p++ = digits[0];
    if (count > 1) {
        *p++ = '.';
        std::memcpy(p, digits + 1, static_cast<std::size_t>(count - 1));
        p += count - 1;
    }
    *p++ = 'e';
    *p++ = '-';
    *p++ = exponent;
    return p;
}

}  // namespace detail

// Decimal digits in blocks of eight: timestamps (ten digits) take two blocks.
inline char* write_u64(char* p, std::uint64_t value) {
    if (value < 100000000) {
        if (value == 0) {
            *p = '0';
            return p + 1;
        }
        return detail::write_below_1e8(p, static_cast<std::uint32_t>(value));
    }
    std::uint64_t high = value / 100000000;
    const auto low = static_cast<std::uint32_t>(value % 100000000);
    if (high >= 100000000) {
        // Up to twenty digits: at most four above the lower sixteen.
        p = detail::write_below_1e8(p, static_cast<std::uint32_t>(high / 100000000));
        high %= 100000000;
        detail::store_word(p, detail::eight_digits(static_cast<std::uint32_t>(high)));
        p += 8;
    } else {
        p = detail::write_below_1e8(p, static_cast<std::uint32_t>(high));
    }
    detail::store_word(p, detail::eight_digits(low));
    return p + 8;
}

inline char* write_i64(char* p, std::int64_t value) {
    // The magnitude is taken in unsigned arithmetic, exact also for the most
    // negative value.
    auto magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    return write_u64(p, magnitude);
}

// Every stored price, quantity, volume and rate is fl(n / 10^8) for an integer n,
// so most values are written from n directly instead of searching for digits.
//
// Why this gives exactly the shortest round-trip digits. Let x be a finite
// non-zero double, a = |x|, and n an integer with 0 < n < 10^15 such that the
// double division n / 1e8 (both operands exact, as n < 2^53) yields a. Then a is
// the correctly rounded value of the rational q = n / 10^8, so the decimal q,
// which has at most 15 significant digits, converts back to a. Call G the set of
// decimals with at most 15 significant digits. No double is the rounding of two
// members of G: if d1 < d2 in G both round to a, then d2 - d1 <= |d2 - a| +
// |a - d1| <= 2^-53 (d1 + d2) < 2^-52 d2, but the step from d2 down to the next
// member of G is at least 10^-15 d2 (10^(k-14) inside [10^k, 10^(k+1)), and
// 10^(k-15) just below 10^k), and 10^-15 > 2^-52. (a >= 1e-8 lies far above the
// subnormals, where the 2^-53 relative bound holds.) Now let s be the shortest
// digit string that converts back to a. Since q does, s has at most as many
// digits as q, so s is in G, and by the uniqueness above s = q as a number. Two
// digit strings without trailing zeros denoting the same number are identical,
// so q's digits with trailing zeros removed are the shortest round-trip digits,
// and being the only candidate of their length they are also the nearest one.
//
// How n is found does not matter for correctness, only that the check is exact:
// any n that passes is proven right, anything else takes the general path. The
// candidate floor(a * 1e8 + 0.5) equals round(y * 1e8) for every stored value
// fl(round(y * 1e8) / 1e8) below 10^7, because a * 1e8 then differs from that
// integer by at most about 2^-52 * 10^15 < 0.25.
inline char* write_f64(char* p, double value) {
    if (value == 0.0) {
        if (std::signbit(value)) *p++ = '-';
        std::memcpy(p, "0.0", 3);
        return p + 3;
    }
    const double a = std::fabs(value);
    const double t = a * 1e8;
    // Also sends NaN and infinities to the general path.
    if (!(t < 1e15)) return write_f64_general(p, value);
    const auto n = static_cast<std::uint64_t>(t + 0.5);
    if (static_cast<double>(n) / 1e8 != a) return write_f64_general(p, value);
    if (value < 0.0) *p++ = '-';
    return detail::write_scaled8(p, n);
}

}  // namespace synth::json
