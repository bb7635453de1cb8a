#pragma once
// The event stream of "generate_stream": one time-ordered list of tagged events.
#include <string>
#include <variant>
#include <vector>

#include "encode/number_path.hpp"
#include "generate/records.hpp"

namespace synth::encode {

// A tagged union owning its payload; the alternatives are declared in the order
// candle, book, trade, funding.
struct StreamEvent {
    enum class Kind : std::uint8_t { candle = 0, book = 1, trade = 2, funding = 3 };

    std::variant<generate::Candle, generate::BookSnapshot, generate::Trade, generate::FundingPoint>
        payload;

    Kind kind() const { return static_cast<Kind>(payload.index()); }
};

struct EventStream {
    std::vector<StreamEvent> events;
};

// Consumes the bars. Per bar: its trades in order, then its book, then its
// candle, then its funding point if it has one. Snapshots move with their level
// lists; the record storage is released before returning.
EventStream build_stream(std::vector<generate::BarRecord>&& bars);

// {"events":[{"type":...,<payload key>:{...}},...]}
std::string encode_stream(const EventStream& stream, NumberPath path = NumberPath::fast);

}  // namespace synth::encode
