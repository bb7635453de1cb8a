#pragma once
// The event-stream writer for a chosen number writer. The product instantiates
// it once, with the fast number writer (stream.cpp); the tests also instantiate
// it with the general one and compare the bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"
#include "encode/size_estimate.hpp"

namespace synth::encode {

// Every event of a bar carries the bar's timestamp, and timestamps rise from
// bar to bar (bar_secs > 0), so a bar's trades and funding point are the next
// entries of their columns whose timestamp is the bar's.
template <class Num>
std::string encode_stream_with(const ColumnBatch& b) {
    OutputBuffer out(with_headroom(estimate_stream(b)));
    out.advance(put(out.room(), "{\"events\":["));
    std::size_t trade = 0;
    std::size_t funding = 0;
    char* p = nullptr;
    for (std::size_t j = 0; j < b.bars(); ++j) {
        const std::int64_t ts = b.ts[j];
        for (; trade < b.trades() && b.trade_ts[trade] == ts; ++trade) {
            p = out.room();
            p = put(p, "{\"type\":\"trade\",\"trade\":");
            p = write_trade<Num>(p, b, trade);
            p = put(p, "},");
            out.advance(p);
        }
        out.advance(put(out.room(), "{\"type\":\"book\",\"snapshot\":"));
        write_snapshot<Num>(out, b, j);
        // The candle event and the funding event, each within kRecordRoom.
        p = out.room(2 * kRecordRoom);
        p = put(p, "},{\"type\":\"candle\",\"candle\":");
        p = write_candle<Num>(p, b, j);
        p = put(p, "},");
        if (funding < b.funding_points() && b.funding_ts[funding] == ts) {
            p = put(p, "{\"type\":\"funding\",\"sample\":");
            p = write_funding<Num>(p, b, funding);
            p = put(p, "},");
            ++funding;
        }
        out.advance(p);
    }
    // Every event was followed by a comma, the last one still in the current
    // chunk: it becomes the closing bracket.
    if (p == nullptr) {
        out.advance(put(out.room(), "]}"));
    } else {
        p[-1] = ']';
        out.advance(put(out.room(), "}"));
    }
    return out.take();
}

}  // namespace synth::encode
