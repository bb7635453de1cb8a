#pragma once
// The generation spec: plain values that own their fields. Field order is the
// declaration order of the JSON array form. Members marked "extension" are read
// only by the extended dialect (decode.hpp); absent, they leave the classic
// model untouched.
#include <cstdint>
#include <optional>
#include <vector>

namespace synth::spec {

enum class RegimeKind : std::uint8_t { trend, range, crash, vol };

// Extension: an asymmetric GARCH(1,1) conditional variance whose long-run
// level is the regime's vol squared.
struct Garch {
    double alpha = 0.0;
    double gamma = 0.0;
    double beta = 0.0;
    bool operator==(const Garch&) const = default;
};

// Extension: Student-t innovations with `df` degrees of freedom, unit variance.
struct Tails {
    double df = 0.0;
    bool operator==(const Tails&) const = default;
};

// Extension: a compound Poisson jump in the log return, `rate` jumps per bar,
// each normal with `mean` and `vol`.
struct Jumps {
    double rate = 0.0;
    double mean = 0.0;
    double vol = 0.0;
    bool operator==(const Jumps&) const = default;
};

struct Regime {
    RegimeKind kind = RegimeKind::trend;
    std::uint64_t len = 0;
    double drift = 0.0;
    double vol = 0.0;
    std::optional<Garch> garch = std::nullopt;  // extension
    std::optional<Tails> tails = std::nullopt;  // extension
    std::optional<Jumps> jumps = std::nullopt;  // extension
    bool operator==(const Regime&) const = default;
};

struct FundingSpec {
    std::uint64_t interval_bars = 0;
    double base_rate = 0.0;
    double sensitivity = 0.0;
    bool operator==(const FundingSpec&) const = default;
};

struct Microstructure {
    std::uint64_t book_depth = 0;
    double spread_bps = 0.0;
    double trade_rate = 0.0;
    std::optional<FundingSpec> funding;
    bool operator==(const Microstructure&) const = default;
};

inline constexpr std::int64_t kDefaultStartTs = 1700000000;
inline constexpr std::int64_t kDefaultBarSecs = 3600;

struct GenSpec {
    std::uint64_t seed = 0;
    std::uint64_t bars = 0;
    double start_price = 0.0;
    std::int64_t start_ts = kDefaultStartTs;
    std::int64_t bar_secs = kDefaultBarSecs;
    std::vector<Regime> regimes;
    Microstructure microstructure;
    bool operator==(const GenSpec&) const = default;
};

}  // namespace synth::spec
