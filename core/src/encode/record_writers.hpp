#pragma once
// The JSON objects of the generated records. Every key order lives here and only
// here; both result shapes write their payloads through these functions.
//
// Fixed-size records write at a cursor that has kRecordRoom bytes free; the
// snapshot, whose size grows with the book depth, writes its levels as lists.
// Lists ask the buffer for room once per block of records.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "encode/output_buffer.hpp"
#include "generate/records.hpp"
#include "json/number_format.hpp"

namespace synth::encode {

template <class Num>
char* write_candle(char* p, const generate::Candle& c) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, c.ts);
    p = put(p, ",\"open\":");
    p = Num::f64(p, c.open);
    p = put(p, ",\"high\":");
    p = Num::f64(p, c.high);
    p = put(p, ",\"low\":");
    p = Num::f64(p, c.low);
    p = put(p, ",\"close\":");
    p = Num::f64(p, c.close);
    p = put(p, ",\"volume\":");
    p = Num::f64(p, c.volume);
    *p++ = '}';
    return p;
}

template <class Num>
char* write_level(char* p, const generate::BookLevel& level) {
    p = put(p, "{\"price\":");
    p = Num::f64(p, level.price);
    p = put(p, ",\"qty\":");
    p = Num::f64(p, level.qty);
    *p++ = '}';
    return p;
}

// Longest level object with its separator: {"price":<number>,"qty":<number>},
// plus the bytes a number writer may store past the end of its text.
inline constexpr std::size_t kLevelRoom = 2 * json::kMaxNumberChars + 18 + 8;

// "[a,b,...]" of fixed-size records, each needing at most Room bytes with its
// separator. Room is asked once per block of records (a deep book is the bulk
// of a response), and every record is followed by a comma, the last one then
// turned into the closing bracket.
template <class T, char* (*Write)(char*, const T&), std::size_t Room = kRecordRoom>
void write_list(OutputBuffer& out, const std::vector<T>& items) {
    constexpr std::size_t kBlock = std::min<std::size_t>(64, OutputBuffer::kMaxRoom / Room);
    static_assert(kBlock >= 1);
    char* p = out.room();
    *p++ = '[';
    if (items.empty()) {
        *p++ = ']';
        out.advance(p);
        return;
    }
    out.advance(p);
    const T* next = items.data();
    const T* const end = next + items.size();
    while (next != end) {
        const auto count = std::min(kBlock, static_cast<std::size_t>(end - next));
        p = out.room(count * Room);
        for (const T* stop = next + count; next != stop; ++next) {
            p = Write(p, *next);
            *p++ = ',';
        }
        out.advance(p);
    }
    // The last comma is still in the buffer's current chunk: nothing asked for
    // room since it was written.
    p[-1] = ']';
}

template <class Num>
void write_snapshot(OutputBuffer& out, const generate::BookSnapshot& s) {
    char* p = out.room();
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, s.ts);
    p = put(p, ",\"bids\":");
    out.advance(p);
    write_list<generate::BookLevel, write_level<Num>, kLevelRoom>(out, s.bids);
    p = out.room();
    p = put(p, ",\"asks\":");
    out.advance(p);
    write_list<generate::BookLevel, write_level<Num>, kLevelRoom>(out, s.asks);
    p = out.room();
    *p++ = '}';
    out.advance(p);
}

template <class Num>
char* write_trade(char* p, const generate::Trade& t) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, t.ts);
    p = put(p, ",\"seq\":");
    p = json::write_u64(p, t.seq);
    p = put(p, ",\"price\":");
    p = Num::f64(p, t.price);
    p = put(p, ",\"qty\":");
    p = Num::f64(p, t.qty);
    if (t.side == generate::Side::sell) {
        p = put(p, ",\"side\":\"sell\"}");
    } else {
        p = put(p, ",\"side\":\"buy\"}");
    }
    return p;
}

template <class Num>
char* write_funding(char* p, const generate::FundingPoint& f) {
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, f.ts);
    p = put(p, ",\"rate\":");
    p = Num::f64(p, f.rate);
    *p++ = '}';
    return p;
}

}  // namespace synth::encode
