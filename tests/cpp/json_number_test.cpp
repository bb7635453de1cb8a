#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/number_format.hpp"

namespace {

using namespace synth::json;

#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr int kScale = 1;  // instrumented or unoptimised: keep the run short
#else
constexpr int kScale = 8;
#endif

std::string fast(double v) {
    std::string s;
    append_f64(s, v);
    return s;
}

std::string general(double v) {
    std::string s;
    append_f64_general(s, v);
    return s;
}

double round8(double y) {
    return std::round(y * 100000000.0) / 100000000.0;
}

struct FloatCase {
    double value;
    const char* text;
};

class FloatTextTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatTextTest, BothPathsWriteTheRuleText) {
    EXPECT_EQ(general(GetParam().value), GetParam().text);
    EXPECT_EQ(fast(GetParam().value), GetParam().text);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, FloatTextTest,
    ::testing::Values(
        FloatCase{1.0, "1.0"}, FloatCase{0.1, "0.1"}, FloatCase{-2.5, "-2.5"},
        FloatCase{100.12345678, "100.12345678"}, FloatCase{1e15, "1000000000000000.0"},
        FloatCase{1e16, "1e+16"}, FloatCase{1.5e17, "1.5e+17"}, FloatCase{1e21, "1e+21"},
        FloatCase{0.00001, "0.00001"}, FloatCase{0.000001, "1e-6"}, FloatCase{1.23e-6, "1.23e-6"},
        FloatCase{5e-324, "5e-324"},
        FloatCase{std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{kInf, "null"},
        FloatCase{-kInf, "null"}, FloatCase{std::nan(""), "null"},
        FloatCase{0.00001234, "0.00001234"}, FloatCase{0.0000015, "1.5e-6"},
        FloatCase{0.00000123, "1.23e-6"}, FloatCase{0.00000001, "1e-8"},
        FloatCase{0.00000012, "1.2e-7"}, FloatCase{0.00000999, "9.99e-6"},
        FloatCase{-0.00000105, "-1.05e-6"}, FloatCase{0.0000099999999, "9.9999999e-6"},
        FloatCase{5.0, "5.0"}, FloatCase{1700000000.0, "1700000000.0"}, FloatCase{1234.5, "1234.5"},
        FloatCase{9999999.99999999, "9999999.99999999"}, FloatCase{10000000.0, "10000000.0"},
        FloatCase{0.5, "0.5"}, FloatCase{-100.0, "-100.0"},
        FloatCase{123456789012345.6, "123456789012345.6"},
        FloatCase{0.1 + 0.2, "0.30000000000000004"}, FloatCase{1e-5 / 3, "3.3333333333333337e-6"},
        FloatCase{-1.2345678901234568e-5, "-0.000012345678901234568"}, FloatCase{1e100, "1e+100"},
        FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
        // The edges of fixed notation, with many digits.
        FloatCase{1234567890123456.8, "1234567890123456.8"},
        FloatCase{9999999999999998.0, "9999999999999998.0"},
        FloatCase{9007199254740992.0, "9007199254740992.0"},
        FloatCase{0.000009999999999999999, "9.999999999999999e-6"},
        FloatCase{0.0000123, "0.0000123"}, FloatCase{0.000015, "0.000015"}, FloatCase{5e-7, "5e-7"},
        FloatCase{9223372036854775808.0, "9.223372036854776e+18"}, FloatCase{1e22, "1e+22"},
        FloatCase{1e23, "1e+23"}, FloatCase{-1.7e308, "-1.7e+308"}, FloatCase{1.5e-323, "1.5e-323"},
        FloatCase{0.3, "0.3"}));

struct IntCase {
    std::int64_t value;
    const char* text;
};

class IntTextTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntTextTest, SignedDecimal) {
    std::string s;
    append_i64(s, GetParam().value);
    EXPECT_EQ(s, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, IntTextTest,
                         ::testing::Values(IntCase{0, "0"}, IntCase{7, "7"}, IntCase{10, "10"},
                                           IntCase{-60, "-60"}, IntCase{1700000000, "1700000000"},
                                           IntCase{-9223372036854775807LL - 1,
                                                   "-9223372036854775808"},
                                           IntCase{9223372036854775807LL, "9223372036854775807"}));

TEST(IntTextTest, UnsignedMatchesToChars) {
    std::vector<std::uint64_t> values = {0, 9, 10, 99, 100, 18446744073709551615ULL};
    for (std::uint64_t p = 1; p < 10000000000000000000ULL; p *= 10) {
        values.insert(values.end(), {p - 1, p, p + 1});
    }
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) values.push_back(rng() >> (rng() % 64));
    for (std::uint64_t v : values) {
        char want[24];
        const auto res = std::to_chars(want, want + sizeof want, v);
        std::string s;
        append_u64(s, v);
        ASSERT_EQ(s, std::string(want, res.ptr)) << v;
    }
}

// The general path is the reference: its digits must read back as the same
// double, and the fast path must agree with it byte for byte.
void expect_same(double v) {
    const std::string g = general(v);
    ASSERT_EQ(fast(v), g) << "bits " << std::hex << std::bit_cast<std::uint64_t>(v);
    if (std::isfinite(v)) {
        double back = 0;
        std::from_chars(g.data(), g.data() + g.size(), back);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << g;
    }
}

// x, its negation and the doubles one step either side.
void expect_same_around(double x) {
    expect_same(x);
    expect_same(-x);
    expect_same(std::nextafter(x, 0.0));
    expect_same(std::nextafter(x, kInf));
}

TEST(FastPathTest, BoundariesAgreeWithGeneral) {
    std::vector<double> values = {0.00001,
                                  0.0000099999999,
                                  0.00000999999999,
                                  1e15,
                                  1e15 - 1e-8,
                                  1e7,
                                  1e7 - 1e-8,
                                  9999999.99999999,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  4.9e-9,
                                  5e-9,
                                  5.1e-9,
                                  0.5e-8,
                                  1.5e-8,
                                  2.5e-8};
    for (int k = -12; k <= 18; ++k) {
        const double p = std::pow(10.0, k);
        values.insert(values.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, kInf), round8(p),
                                     round8(std::nextafter(p, 0.0))});
    }
    // Candidates whose scaled value sits at a half: x * 1e8 rounds either way.
    std::mt19937_64 rng(11);
    for (int i = 0; i < 2000; ++i) {
        const double n = static_cast<double>(rng() % 1000000000000000ULL);
        values.push_back((n + 0.5) / 1e8);
        values.push_back(std::nextafter((n + 0.5) / 1e8, 0.0));
        values.push_back(n / 1e8);
    }
    for (double v : values) {
        expect_same(v);
        expect_same(-v);
    }
}

// Every n in windows around the places where the scaled form changes shape:
// the switch to exponent notation (n = 1000), the first integer digit (n = 10^8),
// the widest integer part (10^14) and the 15-digit limit (10^15), plus doubles
// one step either side of each n / 10^8.
TEST(FastPathTest, ScaledWindowsAgreeWithGeneral) {
    const std::uint64_t centres[] = {0,
                                     1000,
                                     10000,
                                     100000,
                                     100000000,
                                     10000000000,
                                     100000000000000,
                                     999999999999999,
                                     1000000000000000};
    for (std::uint64_t c : centres) {
        const std::uint64_t from = c < 3000 ? 0 : c - 3000;
        for (std::uint64_t n = from; n < c + 3000; ++n) {
            expect_same_around(static_cast<double>(n) / 1e8);
        }
    }
}

// The integer part is read off the double itself: n just below, at and above
// every multiple of 10^8 must keep its integer digits, across every integer
// width and around the powers of two where the spacing of the doubles changes.
TEST(FastPathTest, IntegerPartEdgesAgreeWithGeneral) {
    std::vector<std::uint64_t> wholes = {1, 9, 10, 99, 100, 999999, 1000000, 9999998, 9999999};
    for (int k = 0; k <= 23; ++k) {
        const std::uint64_t w = std::uint64_t{1} << k;
        wholes.insert(wholes.end(), {w - 1, w, w + 1});
    }
    std::mt19937_64 rng(5);
    for (int i = 0; i < 5000 * kScale; ++i) wholes.push_back(1 + rng() % 9999999);
    for (std::uint64_t w : wholes) {
        for (std::int64_t d = -3; d <= 3; ++d) {
            const auto n = static_cast<std::uint64_t>(static_cast<std::int64_t>(w * 100000000) + d);
            if (n >= 1000000000000000ULL) continue;
            expect_same_around(static_cast<double>(n) / 1e8);
        }
    }
}

// n / 10^8 with 15, 16 and 17 significant digits: the first always takes the
// scaled form, the others must come out as the general path writes them.
TEST(FastPathTest, SignificantDigitLimitAgreesWithGeneral) {
    std::mt19937_64 rng(21);
    for (std::uint64_t low : {100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL}) {
        for (int i = 0; i < 20000 * kScale; ++i) {
            const std::uint64_t n = low + rng() % (9 * low);
            expect_same(static_cast<double>(n) / 1e8);
            expect_same(-static_cast<double>(n / 10 * 10) / 1e8);
        }
    }
}

TEST(FastPathTest, RoundedValuesAcrossMagnitudesAgreeWithGeneral) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-9, 16);
    for (int i = 0; i < 250000 * kScale; ++i) {
        const double y = mantissa(rng) * std::pow(10.0, exponent(rng));
        const double x = round8(y);
        expect_same(x);
        expect_same(-x);
    }
}

TEST(FastPathTest, TypicalMarketValuesAgreeWithGeneral) {
    // Prices near 100, book quantities decaying towards 1e-6, rates near zero.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 250000 * kScale; ++i) {
        expect_same(round8(100.0 * std::exp(u(rng) - 0.5)));
        expect_same(round8(std::exp(-0.3 * (i % 60)) * 5.0 * (u(rng) + 1.0)));
        expect_same(round8((u(rng) - 0.5) * 0.001));
    }
}

TEST(FastPathTest, ArbitraryBitPatternsFallBackCorrectly) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 100000 * kScale; ++i) {
        expect_same(std::bit_cast<double>(rng()));
        // Unrounded doubles of ordinary magnitude must not take the scaled form.
        expect_same(std::ldexp(static_cast<double>(rng() >> 11), -52 + static_cast<int>(i % 40)));
    }
}

}  // namespace
