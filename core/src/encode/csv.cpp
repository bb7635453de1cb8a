#include "encode/csv.hpp"

#include <cmath>
#include <cstring>
#include <string_view>

#include "encode/output_buffer.hpp"
#include "json/number_format.hpp"
#include "spec/messages.hpp"

namespace synth::encode {
namespace {

using generate::Column;
using generate::ColumnBatch;

// Room of one row of the fixed tables: six cells of the longest number text.
constexpr std::size_t kRowRoom = 8 * json::kNumberBufferSize;

inline char* number(char* p, double v) {
    // Every non-finite stored value is the null NaN: an empty field.
    return std::isnan(v) ? p : json::write_f64(p, v);
}

inline char* ts_cell(char* p, std::int64_t ts) {
    return json::write_i64(p, ts);
}

// ts, open, high, low, close, volume of bar j.
inline char* candle_cells(char* p, const ColumnBatch& b, std::size_t j) {
    p = ts_cell(p, b.ts[j]);
    for (const Column<double>* c : {&b.open, &b.high, &b.low, &b.close, &b.volume}) {
        *p++ = ',';
        p = number(p, (*c)[j]);
    }
    return p;
}

void candle_rows(OutputBuffer& out, const ColumnBatch& b) {
    for (std::size_t j = 0; j < b.bars(); ++j) {
        char* p = candle_cells(out.room(kRowRoom), b, j);
        *p++ = '\n';
        out.advance(p);
    }
}

// Candle rows followed by the bar's labels: regime, kind, sigma, jump.
void labeled_candle_rows(OutputBuffer& out, const ColumnBatch& b) {
    for (std::size_t j = 0; j < b.bars(); ++j) {
        out.advance(candle_cells(out.room(kRowRoom), b, j));
        char* p = out.room(kRowRoom);
        *p++ = ',';
        p = json::write_i64(p, b.label_regime[j]);
        *p++ = ',';
        const std::string_view kind =
            spec::kind_name(static_cast<spec::RegimeKind>(b.label_kind[j]));
        std::memcpy(p, kind.data(), kind.size());
        p += kind.size();
        *p++ = ',';
        p = number(p, b.label_sigma[j]);
        *p++ = ',';
        p = number(p, b.label_jump[j]);
        *p++ = '\n';
        out.advance(p);
    }
}

void trade_rows(OutputBuffer& out, const ColumnBatch& b) {
    for (std::size_t t = 0; t < b.trades(); ++t) {
        char* p = out.room(kRowRoom);
        p = ts_cell(p, b.trade_ts[t]);
        if (b.tick_times) {
            *p++ = ',';
            p = json::write_i64(p, b.trade_ts_ns[t]);
        }
        *p++ = ',';
        p = json::write_u64(p, b.trade_seq[t]);
        *p++ = ',';
        p = number(p, b.trade_price[t]);
        *p++ = ',';
        p = number(p, b.trade_qty[t]);
        p = b.trade_side[t] == static_cast<std::uint8_t>(generate::Side::sell) ? put(p, ",sell\n")
                                                                               : put(p, ",buy\n");
        out.advance(p);
    }
}

void book_rows(OutputBuffer& out, const ColumnBatch& b) {
    const std::size_t depth = b.book_depth;
    const Column<std::int64_t>& times = b.book_times();
    std::size_t i = 0;
    for (std::size_t j = 0; j < b.bars(); ++j) {
        for (int side = 0; side < 2; ++side) {
            for (std::size_t k = 0; k < depth; ++k, ++i) {
                char* p = out.room(kRowRoom);
                p = ts_cell(p, times[j]);
                p = side == 0 ? put(p, ",bid,") : put(p, ",ask,");
                p = json::write_u64(p, k);
                *p++ = ',';
                p = number(p, b.level_price[i]);
                *p++ = ',';
                p = number(p, b.level_qty[i]);
                *p++ = '\n';
                out.advance(p);
            }
        }
    }
}

void book_wide_rows(OutputBuffer& out, const ColumnBatch& b) {
    const std::size_t levels = 2 * b.book_depth;
    const Column<std::int64_t>& times = b.book_times();
    for (std::size_t j = 0; j < b.bars(); ++j) {
        char* p = out.room(kRowRoom);
        p = ts_cell(p, times[j]);
        out.advance(p);
        for (std::size_t i = j * levels, end = i + levels; i < end; ++i) {
            p = out.room(kRowRoom);
            *p++ = ',';
            p = number(p, b.level_price[i]);
            *p++ = ',';
            p = number(p, b.level_qty[i]);
            out.advance(p);
        }
        p = out.room(kRowRoom);
        *p++ = '\n';
        out.advance(p);
    }
}

void funding_rows(OutputBuffer& out, const ColumnBatch& b) {
    for (std::size_t i = 0; i < b.funding_points(); ++i) {
        char* p = out.room(kRowRoom);
        p = ts_cell(p, b.funding_ts[i]);
        *p++ = ',';
        p = number(p, b.funding_rate[i]);
        *p++ = '\n';
        out.advance(p);
    }
}

// About the bytes of each kind of row, so the text is rarely reallocated.
std::size_t expected_bytes(const ColumnBatch& b, CsvTable table) {
    switch (table) {
        case CsvTable::candles:
            return b.bars() * 96;
        case CsvTable::labeled_candles:
            return b.bars() * 160;
        case CsvTable::trades:
            return b.trades() * (b.tick_times ? 76 : 56);
        case CsvTable::book:
        case CsvTable::book_wide:
            return b.level_price.size() * 40 + b.bars() * 24;
        case CsvTable::funding:
            return b.funding_points() * 32;
    }
    return 0;
}

}  // namespace

std::optional<CsvTable> csv_table(std::string_view name) {
    if (name == "candles") return CsvTable::candles;
    if (name == "labeled_candles") return CsvTable::labeled_candles;
    if (name == "trades") return CsvTable::trades;
    if (name == "book") return CsvTable::book;
    if (name == "book_wide") return CsvTable::book_wide;
    if (name == "funding") return CsvTable::funding;
    return std::nullopt;
}

std::string csv_header(CsvTable table, std::uint64_t book_depth, bool ticks) {
    switch (table) {
        case CsvTable::candles:
            return "ts,open,high,low,close,volume\n";
        case CsvTable::labeled_candles:
            return "ts,open,high,low,close,volume,regime,kind,sigma,jump\n";
        case CsvTable::trades:
            return ticks ? "ts,ts_ns,seq,price,qty,side\n" : "ts,seq,price,qty,side\n";
        case CsvTable::book:
            return "ts,side,level,price,qty\n";
        case CsvTable::funding:
            return "ts,rate\n";
        case CsvTable::book_wide:
            break;
    }
    std::string header = "ts";
    for (const char* side : {"bid", "ask"}) {
        for (std::uint64_t k = 0; k < book_depth; ++k) {
            const std::string level = std::to_string(k);
            header.append(",").append(side).append("_price_").append(level);
            header.append(",").append(side).append("_qty_").append(level);
        }
    }
    header.push_back('\n');
    return header;
}

std::string encode_csv(const ColumnBatch& batch, CsvTable table) {
    OutputBuffer out(expected_bytes(batch, table) + 256);
    switch (table) {
        case CsvTable::candles:
            candle_rows(out, batch);
            break;
        case CsvTable::labeled_candles:
            labeled_candle_rows(out, batch);
            break;
        case CsvTable::trades:
            trade_rows(out, batch);
            break;
        case CsvTable::book:
            book_rows(out, batch);
            break;
        case CsvTable::book_wide:
            book_wide_rows(out, batch);
            break;
        case CsvTable::funding:
            funding_rows(out, batch);
            break;
    }
    return out.take();
}

}  // namespace synth::encode
