#pragma once
// The JSON objects of the generated records, read from a column batch. Every
// key order lives here and only here; both result shapes write their payloads
// through these functions.
//
// Fixed-size records write at a cursor that has kRecordRoom bytes free; the
// snapshot, whose size grows with the book depth, writes its levels as lists.
// Lists ask the buffer for room once per block of records.
#include <algorithm>
#include <cstddef>

#include "encode/output_buffer.hpp"
#include "generate/batch.hpp"
#include "json/number_format.hpp"

namespace synth::encode {

using generate::ColumnBatch;

template <class Num>
char* write_candle(char* p, const ColumnBatch& b, std::size_t j) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, b.ts[j]);
    p = put(p, ",\"open\":");
    p = Num::f64(p, b.open[j]);
    p = put(p, ",\"high\":");
    p = Num::f64(p, b.high[j]);
    p = put(p, ",\"low\":");
    p = Num::f64(p, b.low[j]);
    p = put(p, ",\"close\":");
    p = Num::f64(p, b.close[j]);
    p = put(p, ",\"volume\":");
    p = Num::f64(p, b.volume[j]);
    *p++ = '}';
    return p;
}

// Level i of the batch's level columns.
template <class Num>
char* write_level(char* p, const ColumnBatch& b, std::size_t i) {
    p = put(p, "{\"price\":");
    p = Num::f64(p, b.level_price[i]);
    p = put(p, ",\"qty\":");
    p = Num::f64(p, b.level_qty[i]);
    *p++ = '}';
    return p;
}

template <class Num>
char* write_trade(char* p, const ColumnBatch& b, std::size_t t) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, b.trade_ts[t]);
    p = put(p, ",\"seq\":");
    p = json::write_u64(p, b.trade_seq[t]);
    p = put(p, ",\"price\":");
    p = Num::f64(p, b.trade_price[t]);
    p = put(p, ",\"qty\":");
    p = Num::f64(p, b.trade_qty[t]);
    if (b.trade_side[t] == static_cast<std::uint8_t>(generate::Side::sell)) {
        p = put(p, ",\"side\":\"sell\"}");
    } else {
        p = put(p, ",\"side\":\"buy\"}");
    }
    return p;
}

template <class Num>
char* write_funding(char* p, const ColumnBatch& b, std::size_t i) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, b.funding_ts[i]);
    p = put(p, ",\"rate\":");
    p = Num::f64(p, b.funding_rate[i]);
    *p++ = '}';
    return p;
}

// Longest level object with its separator: {"price":<number>,"qty":<number>},
// plus the bytes a number writer may store past the end of its text.
inline constexpr std::size_t kLevelRoom = 2 * json::kMaxNumberChars + 18 + 8;

using RecordWriter = char* (*)(char*, const ColumnBatch&, std::size_t);

// "[a,b,...]" of the records begin..end of one column group, each needing at
// most Room bytes with its separator. Room is asked once per block of records
// (a deep book is the bulk of a response), and every record is followed by a
// comma, the last one then turned into the closing bracket.
template <RecordWriter Write, std::size_t Room = kRecordRoom>
void write_list(OutputBuffer& out, const ColumnBatch& b, std::size_t begin, std::size_t end) {
    constexpr std::size_t kBlock = std::min<std::size_t>(64, OutputBuffer::kMaxRoom / Room);
    static_assert(kBlock >= 1);
    char* p = out.room();
    *p++ = '[';
    if (begin == end) {
        *p++ = ']';
        out.advance(p);
        return;
    }
    out.advance(p);
    std::size_t next = begin;
    while (next != end) {
        const std::size_t stop = next + std::min(kBlock, end - next);
        p = out.room((stop - next) * Room);
        for (; next != stop; ++next) {
            p = Write(p, b, next);
            *p++ = ',';
        }
        out.advance(p);
    }
    // The last comma is still in the buffer's current chunk: nothing asked for
    // room since it was written.
    p[-1] = ']';
}

// The snapshot of bar j: {"ts":...,"bids":[...],"asks":[...]}.
template <class Num>
void write_snapshot(OutputBuffer& out, const ColumnBatch& b, std::size_t j) {
    const std::size_t depth = b.book_depth;
    const std::size_t bids = j * 2 * depth;
    char* p = out.room();
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, b.ts[j]);
    p = put(p, ",\"bids\":");
    out.advance(p);
    write_list<write_level<Num>, kLevelRoom>(out, b, bids, bids + depth);
    p = out.room();
    p = put(p, ",\"asks\":");
    out.advance(p);
    write_list<write_level<Num>, kLevelRoom>(out, b, bids + depth, bids + 2 * depth);
    p = out.room();
    *p++ = '}';
    out.advance(p);
}

}  // namespace synth::encode
