#include "encode/stream.hpp"

#include <array>
#include <utility>

#include "encode/huge_pages.hpp"
#include "encode/output_buffer.hpp"
#include "encode/record_writers.hpp"
#include "encode/size_estimate.hpp"
#include "generate/memory_budget.hpp"

namespace synth::encode {

// The run's memory budget counts every event at this size.
static_assert(sizeof(StreamEvent) <= generate::kResultEntryBytes);

EventStream build_stream(std::vector<generate::BarRecord>&& bars) {
    std::vector<generate::BarRecord> owned = std::move(bars);
    // The event count is known in advance: trades + book + candle (+ funding).
    std::size_t count = 0;
    for (const generate::BarRecord& bar : owned) {
        count += bar.trades.size() + 2 + (bar.funding.has_value() ? 1 : 0);
    }
    EventStream stream;
    stream.events.reserve(count);
    advise_huge_pages(stream.events.data(), count * sizeof(StreamEvent));
    for (generate::BarRecord& bar : owned) {
        for (const generate::Trade& trade : bar.trades) {
            stream.events.push_back(StreamEvent{trade});
        }
        std::vector<generate::Trade>().swap(bar.trades);
        stream.events.push_back(StreamEvent{std::move(bar.book)});
        stream.events.push_back(StreamEvent{bar.candle});
        if (bar.funding) stream.events.push_back(StreamEvent{*bar.funding});
    }
    return stream;
}

namespace {

// Event objects: {"type":"<tag>","<payload key>":<payload>}.
template <class Num>
void write_event(OutputBuffer& out, const StreamEvent& event) {
    char* p = out.room();
    switch (event.kind()) {
        case StreamEvent::Kind::candle:
            p = put(p, "{\"type\":\"candle\",\"candle\":");
            p = write_candle<Num>(p, std::get<generate::Candle>(event.payload));
            break;
        case StreamEvent::Kind::book:
            out.advance(put(p, "{\"type\":\"book\",\"snapshot\":"));
            write_snapshot<Num>(out, std::get<generate::BookSnapshot>(event.payload));
            p = out.room();
            break;
        case StreamEvent::Kind::trade:
            p = put(p, "{\"type\":\"trade\",\"trade\":");
            p = write_trade<Num>(p, std::get<generate::Trade>(event.payload));
            break;
        case StreamEvent::Kind::funding:
            p = put(p, "{\"type\":\"funding\",\"sample\":");
            p = write_funding<Num>(p, std::get<generate::FundingPoint>(event.payload));
            break;
    }
    *p++ = '}';
    out.advance(p);
}

// Length of one event object with its separator; snapshots are estimated from
// a sample of their levels.
std::size_t event_length(const StreamEvent& event) {
    char buf[kRecordRoom];
    char* p = buf;
    switch (event.kind()) {
        case StreamEvent::Kind::candle:
            p = put(p, "{\"type\":\"candle\",\"candle\":");
            p = write_candle<FastNumbers>(p, std::get<generate::Candle>(event.payload));
            break;
        case StreamEvent::Kind::book:
            p = put(p, "{\"type\":\"book\",\"snapshot\":");
            return static_cast<std::size_t>(p - buf) + 2 +
                   estimate_snapshot(std::get<generate::BookSnapshot>(event.payload));
        case StreamEvent::Kind::trade:
            p = put(p, "{\"type\":\"trade\",\"trade\":");
            p = write_trade<FastNumbers>(p, std::get<generate::Trade>(event.payload));
            break;
        case StreamEvent::Kind::funding:
            p = put(p, "{\"type\":\"funding\",\"sample\":");
            p = write_funding<FastNumbers>(p, std::get<generate::FundingPoint>(event.payload));
            break;
    }
    return static_cast<std::size_t>(p - buf) + 2;
}

// Exact count of each kind, mean length of each kind from evenly spaced events.
// A kind that the spacing never lands on (the per-bar pattern can alias with
// it) is measured at its first occurrence instead.
std::size_t estimate_events(const std::vector<StreamEvent>& events) {
    constexpr std::size_t kSamples = 1024;
    const std::size_t n = events.size();
    if (n == 0) return 0;
    const std::size_t stride = n / kSamples + 1;
    std::array<std::size_t, 4> count{};
    std::array<std::size_t, 4> sampled{};
    std::array<double, 4> length{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = events[i].payload.index();
        ++count[k];
        if (i % stride == 0 || sampled[k] == 0) {
            ++sampled[k];
            length[k] += static_cast<double>(event_length(events[i]));
        }
    }
    double total = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        if (sampled[k] != 0) {
            total += length[k] / static_cast<double>(sampled[k]) * static_cast<double>(count[k]);
        }
    }
    return static_cast<std::size_t>(total);
}

template <class Num>
std::string encode_with(const EventStream& s) {
    OutputBuffer out(with_headroom(16 + estimate_events(s.events)));
    out.advance(put(out.room(), "{\"events\":["));
    bool first = true;
    for (const StreamEvent& event : s.events) {
        if (!first) {
            char* p = out.room();
            *p++ = ',';
            out.advance(p);
        }
        first = false;
        write_event<Num>(out, event);
    }
    out.advance(put(out.room(), "]}"));
    return out.take();
}

}  // namespace

std::string encode_stream(const EventStream& stream, NumberPath path) {
    return path == NumberPath::general ? encode_with<GeneralNumbers>(stream)
                                       : encode_with<FastNumbers>(stream);
}

}  // namespace synth::encode
