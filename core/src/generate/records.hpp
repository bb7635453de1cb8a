#pragma once
// One bar of generated output. Every price, quantity, volume and rate is already
// rounded to eight decimals; timestamps are seconds.
#include <cstdint>
#include <optional>
#include <vector>

namespace synth::generate {

struct Candle {
    std::int64_t ts = 0;
    double open = 0.0;
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    double volume = 0.0;
};

struct BookLevel {
    double price = 0.0;
    double qty = 0.0;
};

struct BookSnapshot {
    std::int64_t ts = 0;
    std::vector<BookLevel> bids;  // best (highest) first
    std::vector<BookLevel> asks;  // best (lowest) first
};

enum class Side : std::uint8_t { buy = 0, sell = 1 };

struct Trade {
    std::int64_t ts = 0;
    std::uint64_t seq = 0;
    double price = 0.0;
    double qty = 0.0;
    Side side = Side::buy;
};

struct FundingPoint {
    std::int64_t ts = 0;
    double rate = 0.0;
};

struct BarRecord {
    Candle candle;
    BookSnapshot book;
    std::vector<Trade> trades;
    std::optional<FundingPoint> funding;
};

}  // namespace synth::generate
