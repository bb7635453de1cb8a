#pragma once
// The generation spec: plain values that own their fields. Field order is the
// declaration order of the JSON array form. Members marked "extension" are read
// only by the extended dialect (decode.hpp); absent, they leave the classic
// model untouched.
#include <cstdint>
#include <optional>
#include <vector>

#include "spec/factors.hpp"

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

// Extension: a regime chain from which each run draws its own schedule. A visit
// to state k lasts states[k].len bars, then the next state is drawn with the
// weights of row k of `transitions`; bar 0 starts in state `start`. The drawn
// schedule becomes the run's regime list (generate/chain.hpp).
struct Chain {
    std::vector<Regime> states;
    std::vector<std::vector<double>> transitions;
    std::uint64_t start = 0;
    bool operator==(const Chain&) const = default;
};

struct FundingSpec {
    std::uint64_t interval_bars = 0;
    double base_rate = 0.0;
    double sensitivity = 0.0;
    bool operator==(const FundingSpec&) const = default;
};

// Extension: the intraday activity profile of the tick model.
enum class Session : std::uint8_t { flat, u_shape };

// Extension: trades at their own times inside the bar, from which the candle
// and the book are rebuilt. `clustering` is the standard deviation of a bar's
// log activity (0: Poisson arrivals).
struct Ticks {
    double clustering = 0.0;
    Session session = Session::flat;
    bool operator==(const Ticks&) const = default;
};

struct Microstructure {
    std::uint64_t book_depth = 0;
    double spread_bps = 0.0;
    double trade_rate = 0.0;
    std::optional<FundingSpec> funding;
    std::optional<Ticks> ticks = std::nullopt;  // extension
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
    // Extension: the asset's loadings on a universe's shared factors.
    std::optional<FactorSpec> factors;
    // Extension: a regime chain from which the run draws its schedule.
    std::optional<Chain> chain = std::nullopt;
    bool operator==(const GenSpec&) const = default;
};

}  // namespace synth::spec
