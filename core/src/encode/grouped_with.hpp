#pragma once
// The grouped writer for a chosen number writer. The product instantiates it
// once, with the fast number writer (grouped.cpp); the tests also instantiate
// it with the general one and compare the bytes.
#include <string>

#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"
#include "encode/size_estimate.hpp"

namespace synth::encode {

template <class Num>
std::string encode_grouped_with(const ColumnBatch& b) {
    OutputBuffer out(with_headroom(estimate_grouped(b)));
    out.advance(put(out.room(), "{\"candles\":"));
    write_list<write_candle<Num>>(out, b, 0, b.bars());

    out.advance(put(out.room(), ",\"book_snapshots\":["));
    for (std::size_t j = 0; j < b.bars(); ++j) {
        if (j != 0) {
            char* p = out.room();
            *p++ = ',';
            out.advance(p);
        }
        write_snapshot<Num>(out, b, j);
    }
    out.advance(put(out.room(), "],\"trades\":"));
    write_list<write_trade<Num>>(out, b, 0, b.trades());

    if (b.funding_points() != 0) {
        out.advance(put(out.room(), ",\"funding\":"));
        write_list<write_funding<Num>>(out, b, 0, b.funding_points());
    }
    out.advance(put(out.room(), "}"));
    return out.take();
}

}  // namespace synth::encode
