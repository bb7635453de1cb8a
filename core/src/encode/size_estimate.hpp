#pragma once
// Expected text lengths, so the response buffer is allocated once at about its
// final size. A few evenly spaced records of each kind are written for real
// and their mean length scaled up to the whole run; separators are included.
#include <cstddef>

#include "generate/batch.hpp"

namespace synth::encode {

// Mean written length of each kind of record, separators not included.
struct RecordLengths {
    double candle = 0.0;
    double snapshot = 0.0;
    double trade = 0.0;
    double funding = 0.0;
};

RecordLengths sample_lengths(const generate::ColumnBatch& run);

// The whole text of each shape, each record with its separator; the stream
// adds each event's wrapper to its payload.
std::size_t estimate_grouped(const generate::ColumnBatch& run);
std::size_t estimate_stream(const generate::ColumnBatch& run);

// Headroom over the sampled estimate: a little more than the spread of typical
// samples, so the text rarely has to grow.
inline std::size_t with_headroom(std::size_t estimate) {
    return estimate + estimate / 32 + 256;
}

}  // namespace synth::encode
