#pragma once
// Expected text lengths, so the response buffer is allocated once at about its
// final size. Each estimate writes a few evenly spaced records for real and
// scales their length up to the whole list; separators are included.
#include <cstddef>
#include <vector>

#include "generate/records.hpp"

namespace synth::encode {

std::size_t estimate_candles(const std::vector<generate::Candle>& candles);
std::size_t estimate_trades(const std::vector<generate::Trade>& trades);
std::size_t estimate_funding(const std::vector<generate::FundingPoint>& funding);
std::size_t estimate_snapshots(const std::vector<generate::BookSnapshot>& snapshots);

// One snapshot object, from a sample of its levels.
std::size_t estimate_snapshot(const generate::BookSnapshot& snapshot);

// Headroom over the sampled estimate: a little more than the spread of typical
// samples, so the text rarely has to grow.
inline std::size_t with_headroom(std::size_t estimate) {
    return estimate + estimate / 32 + 256;
}

}  // namespace synth::encode
