#include "encode/size_estimate.hpp"

#include <algorithm>

#include "encode/number_path.hpp"
#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"

namespace synth::encode {
namespace {

constexpr std::size_t kListSamples = 256;
constexpr std::size_t kSnapshotSamples = 64;
constexpr std::size_t kLevelSamples = 16;

// Mean length of up to `limit` evenly spaced items among begin..begin+n.
template <class Measure>
double mean_length(std::size_t begin, std::size_t n, std::size_t limit, Measure measure) {
    if (n == 0) return 0.0;
    const std::size_t samples = std::min(n, limit);
    double total = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
        total += static_cast<double>(measure(begin + i * n / samples));
    }
    return total / static_cast<double>(samples);
}

template <RecordWriter Write>
auto written_length(const generate::ColumnBatch& b) {
    return [&b](std::size_t i) {
        char buf[kRecordRoom];
        return static_cast<std::size_t>(Write(buf, b, i) - buf);
    };
}

// One snapshot: the frame written for real with empty sides, each side's
// levels from a sample, with their separators.
double snapshot_length(const generate::ColumnBatch& b, std::size_t j) {
    char buf[kRecordRoom];
    char* p = put(buf, "{\"ts\":");
    p = json::write_i64(p, b.ts[j]);
    p = put(p, ",\"bids\":[],\"asks\":[]}");
    const std::size_t depth = b.book_depth;
    const auto level = written_length<write_level<FastNumbers>>(b);
    const auto per_side = [&](std::size_t first) {
        return (mean_length(first, depth, kLevelSamples, level) + 1.0) * static_cast<double>(depth);
    };
    return static_cast<double>(p - buf) + per_side(j * 2 * depth) + per_side(j * 2 * depth + depth);
}

std::size_t scaled(double mean, std::size_t count) {
    return static_cast<std::size_t>(mean * static_cast<double>(count));
}

}  // namespace

RecordLengths sample_lengths(const generate::ColumnBatch& b) {
    RecordLengths lengths;
    lengths.candle =
        mean_length(0, b.bars(), kListSamples, written_length<write_candle<FastNumbers>>(b));
    lengths.snapshot = mean_length(0, b.bars(), kSnapshotSamples,
                                   [&b](std::size_t j) { return snapshot_length(b, j); });
    lengths.trade =
        mean_length(0, b.trades(), kListSamples, written_length<write_trade<FastNumbers>>(b));
    lengths.funding = mean_length(0, b.funding_points(), kListSamples,
                                  written_length<write_funding<FastNumbers>>(b));
    return lengths;
}

std::size_t estimate_grouped(const generate::ColumnBatch& b) {
    const RecordLengths l = sample_lengths(b);
    return 64 + scaled(l.candle + 1.0, b.bars()) + scaled(l.snapshot + 1.0, b.bars()) +
           scaled(l.trade + 1.0, b.trades()) + scaled(l.funding + 1.0, b.funding_points());
}

std::size_t estimate_stream(const generate::ColumnBatch& b) {
    // {"type":"<tag>","<key>": before the payload, "}," after it.
    constexpr double kCandle = sizeof("{\"type\":\"candle\",\"candle\":") - 1 + 2;
    constexpr double kBook = sizeof("{\"type\":\"book\",\"snapshot\":") - 1 + 2;
    constexpr double kTrade = sizeof("{\"type\":\"trade\",\"trade\":") - 1 + 2;
    constexpr double kFunding = sizeof("{\"type\":\"funding\",\"sample\":") - 1 + 2;
    const RecordLengths l = sample_lengths(b);
    return 16 + scaled(l.candle + kCandle, b.bars()) + scaled(l.snapshot + kBook, b.bars()) +
           scaled(l.trade + kTrade, b.trades()) + scaled(l.funding + kFunding, b.funding_points());
}

}  // namespace synth::encode
