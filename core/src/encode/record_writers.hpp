#pragma once
// The JSON objects of the generated records. Every key order lives here and only
// here; both result shapes write their payloads through these functions.
//
// Fixed-size records write at a cursor that has kRecordRoom bytes free; the
// snapshot, whose size grows with the book depth, asks the buffer for room per
// level.
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

// "[a,b,...]" of fixed-size records.
template <class T, char* (*Write)(char*, const T&)>
void write_list(OutputBuffer& out, const std::vector<T>& items) {
    char* p = out.room();
    *p++ = '[';
    bool first = true;
    for (const T& item : items) {
        if (!first) *p++ = ',';
        first = false;
        out.advance(Write(p, item));
        p = out.room();  // a flush moves the cursor back to the chunk start
    }
    *p++ = ']';
    out.advance(p);
}

template <class Num>
void write_snapshot(OutputBuffer& out, const generate::BookSnapshot& s) {
    char* p = out.room();
    p = put(p, "{\"ts\":");
    p = json::write_i64(p, s.ts);
    p = put(p, ",\"bids\":");
    out.advance(p);
    write_list<generate::BookLevel, write_level<Num>>(out, s.bids);
    p = out.room();
    p = put(p, ",\"asks\":");
    out.advance(p);
    write_list<generate::BookLevel, write_level<Num>>(out, s.asks);
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
