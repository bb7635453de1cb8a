#include "encode/grouped.hpp"

#include <utility>

#include "encode/huge_pages.hpp"
#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"
#include "encode/size_estimate.hpp"
#include "generate/memory_budget.hpp"

namespace synth::encode {

// The run's memory budget counts every list entry at this size.
static_assert(sizeof(generate::BookSnapshot) <= generate::kResultEntryBytes &&
              sizeof(generate::Candle) <= generate::kResultEntryBytes);

GeneratedSeries build_grouped(std::vector<generate::BarRecord>&& bars) {
    std::vector<generate::BarRecord> owned = std::move(bars);
    // Counting first lets every list be reserved at its final size.
    std::size_t trade_count = 0;
    std::size_t funding_count = 0;
    for (const generate::BarRecord& bar : owned) {
        trade_count += bar.trades.size();
        funding_count += bar.funding.has_value() ? 1 : 0;
    }
    GeneratedSeries series;
    series.candles.reserve(owned.size());
    series.book_snapshots.reserve(owned.size());
    series.trades.reserve(trade_count);
    advise_huge_pages(series.trades.data(), trade_count * sizeof(generate::Trade));
    series.funding.reserve(funding_count);
    for (generate::BarRecord& bar : owned) {
        series.candles.push_back(bar.candle);
        series.book_snapshots.push_back(std::move(bar.book));
        series.trades.insert(series.trades.end(), bar.trades.begin(), bar.trades.end());
        std::vector<generate::Trade>().swap(bar.trades);
        if (bar.funding) series.funding.push_back(*bar.funding);
    }
    return series;
}

namespace {

template <class Num>
std::string encode_with(const GeneratedSeries& s) {
    OutputBuffer out(with_headroom(64 + estimate_candles(s.candles) +
                                   estimate_snapshots(s.book_snapshots) +
                                   estimate_trades(s.trades) + estimate_funding(s.funding)));
    out.advance(put(out.room(), "{\"candles\":"));
    write_list<generate::Candle, write_candle<Num>>(out, s.candles);

    out.advance(put(out.room(), ",\"book_snapshots\":["));
    bool first = true;
    for (const generate::BookSnapshot& snapshot : s.book_snapshots) {
        if (!first) {
            char* p = out.room();
            *p++ = ',';
            out.advance(p);
        }
        first = false;
        write_snapshot<Num>(out, snapshot);
    }
    out.advance(put(out.room(), "],\"trades\":"));
    write_list<generate::Trade, write_trade<Num>>(out, s.trades);

    if (!s.funding.empty()) {
        out.advance(put(out.room(), ",\"funding\":"));
        write_list<generate::FundingPoint, write_funding<Num>>(out, s.funding);
    }
    out.advance(put(out.room(), "}"));
    return out.take();
}

}  // namespace

std::string encode_grouped(const GeneratedSeries& series, NumberPath path) {
    return path == NumberPath::general ? encode_with<GeneralNumbers>(series)
                                       : encode_with<FastNumbers>(series);
}

}  // namespace synth::encode
