#pragma once
// The grouped result of "generate": four lists gathered from the bars of a run.
#include <string>
#include <vector>

#include "encode/number_path.hpp"
#include "generate/records.hpp"

namespace synth::encode {

struct GeneratedSeries {
    std::vector<generate::Candle> candles;               // one per bar
    std::vector<generate::BookSnapshot> book_snapshots;  // one per bar
    std::vector<generate::Trade> trades;                 // bar 0's trades, then bar 1's, ...
    std::vector<generate::FundingPoint> funding;         // funding bars only
};

// Consumes the bars: snapshots (with their level lists) are moved, each bar's
// trade list is released once copied out, and the record storage is released
// before returning.
GeneratedSeries build_grouped(std::vector<generate::BarRecord>&& bars);

// {"candles":[...],"book_snapshots":[...],"trades":[...]} with a final
// "funding" member only when there is funding.
std::string encode_grouped(const GeneratedSeries& series, NumberPath path = NumberPath::fast);

}  // namespace synth::encode
