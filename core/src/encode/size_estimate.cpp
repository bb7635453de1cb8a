#include "encode/size_estimate.hpp"

#include <algorithm>

#include "encode/number_path.hpp"
#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"

namespace synth::encode {

namespace {

constexpr std::size_t kListSamples = 256;
constexpr std::size_t kLevelSamples = 16;

// Mean length of up to `limit` evenly spaced items times the item count, plus
// one separator per item.
template <class T, class Measure>
std::size_t scaled_sample(const std::vector<T>& items, std::size_t limit, Measure measure) {
    const std::size_t n = items.size();
    if (n == 0) return 0;
    const std::size_t samples = std::min(n, limit);
    double total = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
        total += static_cast<double>(measure(items[i * n / samples]));
    }
    return static_cast<std::size_t>(total / static_cast<double>(samples) * static_cast<double>(n)) +
           n;
}

template <class T, char* (*Write)(char*, const T&)>
std::size_t written_length(const T& item) {
    char buf[kRecordRoom];
    return static_cast<std::size_t>(Write(buf, item) - buf);
}

std::size_t level_length(const generate::BookLevel& level) {
    return written_length<generate::BookLevel, write_level<FastNumbers>>(level);
}

}  // namespace

std::size_t estimate_candles(const std::vector<generate::Candle>& candles) {
    return scaled_sample(candles, kListSamples,
                         written_length<generate::Candle, write_candle<FastNumbers>>);
}

std::size_t estimate_trades(const std::vector<generate::Trade>& trades) {
    return scaled_sample(trades, kListSamples,
                         written_length<generate::Trade, write_trade<FastNumbers>>);
}

std::size_t estimate_funding(const std::vector<generate::FundingPoint>& funding) {
    return scaled_sample(funding, kListSamples,
                         written_length<generate::FundingPoint, write_funding<FastNumbers>>);
}

std::size_t estimate_snapshot(const generate::BookSnapshot& snapshot) {
    // {"ts":<ts>,"bids":[...],"asks":[...]}: the frame is written for real with
    // empty sides, the levels are sampled.
    char buf[kRecordRoom];
    char* p = put(buf, "{\"ts\":");
    p = json::write_i64(p, snapshot.ts);
    p = put(p, ",\"bids\":[],\"asks\":[]}");
    return static_cast<std::size_t>(p - buf) +
           scaled_sample(snapshot.bids, kLevelSamples, level_length) +
           scaled_sample(snapshot.asks, kLevelSamples, level_length);
}

std::size_t estimate_snapshots(const std::vector<generate::BookSnapshot>& snapshots) {
    return scaled_sample(snapshots, kListSamples / 4, estimate_snapshot);
}

}  // namespace synth::encode
