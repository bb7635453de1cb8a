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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The digits of whole and frac (both < 10^8), eight each with leading zeros, as
// two words in eight_digits' layout.
struct DigitWords {
    std::uint64_t whole;
    std::uint64_t frac;
};

#if defined(__SSE2__)
// Both numbers are split in one register, the same steps as eight_digits with
// each lane holding twice as much: /10^4 in the two 64-bit lanes, /100 in four
// 32-bit lanes, /10 in eight 16-bit lanes. Every quotient is a multiply and shift
// that is exact for its lane's range (x < 10^8, x < 10^4, x < 100).
inline DigitWords digit_words(std::uint32_t whole, std::uint32_t frac) {
    const __m128i v = _mm_unpacklo_epi64(_mm_cvtsi32_si128(static_cast<int>(whole)),
                                         _mm_cvtsi32_si128(static_cast<int>(frac)));
    const __m128i high4 = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi64x(0xD1B71759)), 45);
    const __m128i low4 = _mm_sub_epi32(v, _mm_mul_epu32(high4, _mm_set1_epi64x(10000)));
    const __m128i four = _mm_or_si128(high4, _mm_slli_epi64(low4, 32));
    // The upper halves of the 32-bit lanes are zero, and so stay the products.
    const __m128i high2 = _mm_srli_epi16(_mm_mulhi_epu16(four, _mm_set1_epi32(5243)), 3);
    const __m128i low2 = _mm_sub_epi32(four, _mm_mullo_epi16(high2, _mm_set1_epi32(100)));
    const __m128i two = _mm_or_si128(high2, _mm_slli_epi32(low2, 16));
    const __m128i high1 = _mm_mulhi_epu16(two, _mm_set1_epi16(6554));
    const __m128i low1 = _mm_sub_epi16(two, _mm_mullo_epi16(high1, _mm_set1_epi16(10)));
    const __m128i one = _mm_or_si128(high1, _mm_slli_epi16(low1, 8));
    const __m128i chars = _mm_or_si128(one, _mm_set1_epi8('0'));
    return {static_cast<std::uint64_t>(_mm_cvtsi128_si64(chars)),
            static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(chars, chars)))};
}
#else
inline DigitWords digit_words(std::uint32_t whole, std::uint32_t frac) {
    return {eight_digits(whole), eight_digits(frac)};
}
#endif

// The value n / 10^8 (0 < n < 10^15) in the writer's layout, given also whole,
// its integer part. That part is below 10^7, so a value >= 1 always has a decimal
// exponent of 0..6 and is written in fixed notation: integer digits, ".",
// fraction digits without trailing zeros (or "0"). A value below 1 has exponent
// -1..-8; from -5 up it is "0." and the zero-padded fraction, below that
// (n < 1000) exponent notation.
inline char* write_scaled8(char* p, std::uint64_t n, std::uint32_t whole) {
    if (n < 1000) {
        // Digits d1[d2[d3]] with exponent -8, -7 or -6, one digit value per byte
        // (the divisions by 100 and 10 are exact for n < 1000 and r < 100).
        const auto v = static_cast<std::uint32_t>(n);
        const std::uint32_t hundreds = (v * 41) >> 12;
        const std::uint32_t r = v - hundreds * 100;
        const std::uint32_t tens = (r * 103) >> 10;
        const std::uint32_t values = hundreds | (tens << 8) | ((r - tens * 10) << 16);
        const auto leading_bits = static_cast<unsigned>(std::countr_zero(values)) & ~7U;
        const std::uint32_t digits = values >> leading_bits;
        const auto kept = 4 - static_cast<unsigned>(std::countl_zero(digits)) / 8;
        p[0] = static_cast<char>('0' + (digits & 0xFF));
        p[1] = '.';
        const std::uint32_t rest = (digits >> 8) | 0x3030;
        p[2] = static_cast<char>(rest);
        p[3] = static_cast<char>(rest >> 8);
        // One digit alone has no ".": the exponent then overwrites it.
        p += kept == 1 ? 1 : kept + 1;
        p[0] = 'e';
        p[1] = '-';
        p[2] = static_cast<char>('6' + leading_bits / 8);
        return p + 3;
    }
    const auto frac = static_cast<std::uint32_t>(n - std::uint64_t{whole} * 100000000);
    const DigitWords words = digit_words(whole, frac);
    // Digit values: a zero digit is a zero byte. Forcing the last integer digit
    // and the first fraction digit to count as non-zero keeps one "0" in either
    // part when it is zero, which gives "0.0001" and "12.0". frac is non-zero when
    // whole is zero, as n >= 1000 then.
    const std::uint64_t whole_values = (words.whole - kAsciiZeros) | (1ULL << 56);
    const std::uint64_t frac_values = (words.frac - kAsciiZeros) | 1;
    const auto leading_bits = static_cast<unsigned>(std::countr_zero(whole_values)) & ~7U;
    store_word(p, words.whole >> leading_bits);
    p += 8 - leading_bits / 8;
    *p = '.';
    store_word(p + 1, words.frac);
    return p + 9 - static_cast<unsigned>(std::countl_zero(frac_values)) / 8;
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
// candidate is t = a * 1e8 rounded to the nearest integer, which equals
// round(y * 1e8) for every stored value fl(round(y * 1e8) / 1e8) below 10^7,
// because t then differs from that integer by at most about 2^-52 * 10^15 < 0.25.
// Below 2^52, t + 2^52 lies in [2^52, 2^53) where the doubles are the integers,
// so the addition does the rounding and leaves the integer in the low mantissa
// bits; subtracting 2^52 again is exact. Zero passes the check with n = 0.
//
// The integer part of q = n / 10^8 is taken from a directly. If q is not an
// integer, it lies at least 10^-8 below the next integer, farther than half a
// step of the doubles there (at most 2^-30, as a < 10^7 < 2^24), so a = fl(q)
// stays below that integer; nor is a below q's integer part, itself a double
// not above q. So a truncates to q's integer part, and to q itself if integral.
inline char* write_f64(char* p, double value) {
    const double a = std::fabs(value);
    const double t = a * 1e8;
    // Also sends NaN and infinities to the general path.
    if (!(t < 1e15)) return write_f64_general(p, value);
    constexpr double kIntegerBits = 0x1p52;
    const double shifted = t + kIntegerBits;
    if ((shifted - kIntegerBits) / 1e8 != a) return write_f64_general(p, value);
    const std::uint64_t n =
        std::bit_cast<std::uint64_t>(shifted) - std::bit_cast<std::uint64_t>(kIntegerBits);
    // The sign is stored unconditionally and kept only for negatives: signs of
    // mixed series would mispredict a branch.
    *p = '-';
    p += std::signbit(value) ? 1 : 0;
    if (n == 0) {
        std::memcpy(p, "0.0", 3);
        return p + 3;
    }
    return detail::write_scaled8(p, n, static_cast<std::uint32_t>(a));
}

}  // namespace synth::json
